#!/usr/bin/env bash
# The seek targets in one go, on the 1080p30 benchmark clip (bench/run-all.sh makes it):
#   bench/seektargets.sh BIN_DIR CLIP_DIR [REPS]
# - seekprobe, 42 seeks, request to the first picture (bench/seeklatency.sh);
# - the same clip remuxed to MPEG-TS with its AAC track, and with a second sound track (MP2) that
#   nothing plays: seekprobe's p95 of the two, and their ratio;
# - seekmark, 50 right clicks, click to picture and the longest gap between the window's ticks
#   (bench/seekclicks.sh), on the local disk and on the hard-disk storage profile (S once).
# Each seekprobe figure is run REPS times (default 3), alternating; the load average is printed
# before and after, since others' work on the machine moves these figures most.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bin=${1:?bin dir} clips=${2:?clip dir} reps=${3:-3}
clip=$clips/1080p30.mp4
one=$clips/1080p30-aac.ts two=$clips/1080p30-aac-mp2.ts
[ -s "$one" ] || ffmpeg -nostdin -v error -y -i "$clip" -map 0 -c copy -f mpegts "$one.part" && mv -f "$one.part" "$one" 2>/dev/null || true
[ -s "$two" ] || ffmpeg -nostdin -v error -y -i "$clip" -map 0:v -map 0:a -map 0:a -c:v copy -c:a:0 copy -c:a:1 mp2 -b:a:1 192k \
  -f mpegts "$two.part" && mv -f "$two.part" "$two" 2>/dev/null || true

p95() { sed -n 's/.*p95 \([0-9]*\) ms.*/\1/p'; }
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for r in $(seq "$reps"); do
  echo "seekprobe 1080p30.mp4, run $r: $(bash "$here/seeklatency.sh" "$bin/seekprobe" "$clip" 42)"
  a=$(bash "$here/seeklatency.sh" "$bin/seekprobe" "$one" 42)
  b=$(bash "$here/seeklatency.sh" "$bin/seekprobe" "$two" 42)
  echo "seekprobe MPEG-TS, run $r: one track $a; two tracks $b; p95 ratio" \
    "$(awk -v a="$(p95 <<<"$a")" -v b="$(p95 <<<"$b")" 'BEGIN { printf "%.2f", (a > 0 ? b / a : 0) }')"
done
bash "$here/seekclicks.sh" "$bin" "$clip" 50
STORAGE=hdd bash "$here/seekclicks.sh" "$bin" "$clip" 50
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
