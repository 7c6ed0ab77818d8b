#!/usr/bin/env bash
# Generates the programs' default clip with the ffmpeg command-line tool.
#   make_sample.sh OUTFILE
#
# One minute, 640x360, 25 fps, H.264 with B-frames and a keyframe every second, AAC stereo 48 kHz,
# MP4 with the index in front. The upper half is a moving test pattern to look at; the lower half
# carries the frame number as full-width bands (see framenumber_filter.sh), so a screenshot of the
# programs tells which picture is on screen. The sound is a 440 Hz tone.
# Written under a temporary name and renamed when complete.
set -euo pipefail

[[ $# -eq 1 ]] || { echo "usage: make_sample.sh OUTFILE" >&2; exit 2; }

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=framenumber_filter.sh
source "$here/framenumber_filter.sh"

out=$1
mkdir -p "$(dirname "$out")"
tmp="$(dirname "$out")/.partial-$$-$(basename "$out")"
trap 'rm -f "$tmp"' EXIT

started=$SECONDS
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi -i "testsrc2=s=640x180:r=25:d=60" \
    -f lavfi -i "color=c=black:s=12x2:r=25:d=60" -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=60,pan=stereo|c0=c0|c1=c0" \
    -filter_complex "[1:v]$(framenumber_filter 640 180)[bands];[0:v][bands]vstack,format=yuv420p[v]" \
    -map '[v]' -map 2:a -c:v libx264 -preset veryfast -pix_fmt yuv420p -g 25 -keyint_min 25 -sc_threshold 0 \
    -bf 3 -x264-params b-adapt=0 -c:a aac -b:a 128k -ac 2 -ar 48000 -movflags +faststart -f mp4 "$tmp"
mv -f "$tmp" "$out"
echo "make_sample.sh: $(basename "$out") done in $((SECONDS - started)) s"
