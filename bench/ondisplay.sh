# Sourced by the benchmarks that run the programs on a display: a work folder of their own ($work,
# holding HOME and the runtime folder), SDL's dummy audio, the programs' debug lines on (the
# benchmarks count them), a virtual display of their own ($xvfb its pid); on exit the program in
# $prog, if any, and the display end and the folder goes. Then helpers: now_ms, median, pct.
work=$(mktemp -d /tmp/seekmark-bench.XXXXXX)
mkdir -p "$work/runtime" && chmod 700 "$work/runtime"
export HOME=$work XDG_RUNTIME_DIR=$work/runtime QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy SEEKMARK_DEBUG=1
unset SDL_VIDEODRIVER

display=90
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
Xvfb :$display -screen 0 1920x1200x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$display
cleanup() {
  [ -n "${prog:-}" ] && kill "$prog" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; timeout 5 xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

now_ms() { date +%s%3N; }
median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
# Percentile p (0..100) of numbers on stdin, nearest rank.
pct() { sort -g | awk -v p="$1" '{ v[NR] = $1 } END { if (NR == 0) { print "nan"; exit } r = int(p / 100 * NR + 0.999999); if (r < 1) r = 1; if (r > NR) r = NR; print v[r] }'; }
