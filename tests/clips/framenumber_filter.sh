# Sourced by the clip generators. Prints an ffmpeg filter chain that turns any video input into
# pictures carrying their frame number: 12 vertical bands of equal width, band k (k = 0 leftmost)
# bright (luma 235) when bit k of the frame number is set, grey (luma 96) otherwise. Grey rather
# than black for a clear bit keeps the picture's edges visible against black window bars.
# The bands are drawn on a 12x2 canvas and scaled up with nearest-neighbour filtering, which is far
# faster than evaluating geq per output pixel. The scale keeps the canvas's proportions in the sample
# aspect unless told otherwise: setsar=1 makes the pixels square, as the pictures are meant.
#   framenumber_filter W H          -> filter for a whole picture of W x H
framenumber_filter() {
  local w=$1 h=$2
  echo "scale=12:2:flags=neighbor,geq=lum='if(mod(floor(N/pow(2\,X))\,2)\,235\,96)':cb=128:cr=128,scale=${w}:${h}:flags=neighbor,setsar=1"
}
