#!/usr/bin/env bash
# framewise as an A/B bench, on two encodes of one source (say the 1080p30 clip at a high and at a
# starved bit rate, a keyframe every 2 s):
#
#   bench/framewise.sh BIN_DIR CLIP1 CLIP2 [STEPS]     (STEPS steps each way, default 100)
#
# Steps: framewise on a virtual display of its own, paused after 4 s; STEPS presses of ',' (back),
# then STEPS of '.' (forward), each sent when the previous one is on screen; the time from the key
# to the stepped pair painted, from framewise's own "step shown N ms" lines: p50, p95 and max each
# way, and the peak memory before and after the steps. Then the headless comparison: framewise
# --compare against decoding each clip alone (ffmpeg -f null, wall seconds) plus the metric
# filters alone (metricsbench on pictures decoded beforehand, as many pairs as the clip has
# pictures), REPS runs of each in turn (default 3), medians.
# The machine's load average is printed with the figures.
set -uo pipefail
bin=${1:?bin dir} a=${2:?first clip} b=${3:?second clip} steps=${4:-100}

source "$(dirname "$0")/ondisplay.sh"
wall() { local t0; t0=$(now_ms); "$@" >/dev/null 2>&1; echo $(( $(now_ms) - t0 )); }
seconds() { awk -v ms="$1" 'BEGIN { printf "%.2f", ms / 1000 }'; }

echo "== framewise bench, $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg)"

# Steps.
log=$work/framewise.log
"$bin/framewise" "$a" "$b" >"$log" 2>&1 &
prog=$!
win=$(timeout 30 xdotool search --sync --onlyvisible --name '^framewise' | head -1)
sleep 4
played=$(awk '/^VmHWM/ { printf "%.0f", $2 / 1024 }' "/proc/$prog/status")
timeout 5 xdotool windowfocus --sync "$win"
timeout 5 xdotool key space
sleep 2
press() { # key -> waits for the next "step shown" line (10 s at most)
  local before after t0
  before=$(grep -ac '^step shown ' "$log")
  timeout 5 xdotool key "$1"
  t0=$(now_ms)
  while after=$(grep -ac '^step shown ' "$log"); [ "$after" -le "$before" ]; do
    (( $(now_ms) - t0 > 10000 )) && { echo "no step shown after $1" >&2; return 1; }
    sleep 0.01
  done
}
for _ in $(seq "$steps"); do press comma || break; done
back=$(grep -a '^step shown ' "$log" | awk '{ print $3 }')
for _ in $(seq "$steps"); do press period || break; done
forward=$(grep -a '^step shown ' "$log" | awk '{ print $3 }' | tail -n +$(( $(echo "$back" | grep -c .) + 1 )))
peak=$(awk '/^VmHWM/ { printf "%.0f", $2 / 1024 }' "/proc/$prog/status")
kill "$prog" 2>/dev/null; wait "$prog" 2>/dev/null; prog=
for dir in back forward; do
  v=${!dir}
  echo "step $dir ($(echo "$v" | grep -c .) steps): p50 $(echo "$v" | pct 50) ms, p95 $(echo "$v" | pct 95) ms, max $(echo "$v" | pct 100) ms"
done
echo "peak memory: $played MB after 4 s of playing, $peak MB after the steps"

# The headless comparison against its parts alone: REPS runs of each, taken in turn, medians.
pictures=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets -of csv=p=0 "$a")
for _ in $(seq "${REPS:-3}"); do
  echo "compare $(wall "$bin/framewise" --compare "$a" "$b")"
  echo "decode_a $(wall ffmpeg -nostdin -threads 0 -i "$a" -an -f null -)"
  echo "decode_b $(wall ffmpeg -nostdin -threads 0 -i "$b" -an -f null -)"
  echo "metrics $("$bin/metricsbench" "$a" "$b" "$pictures" | awk '{ printf "%.0f", $3 * 1000 }')"
done > "$work/compare.txt"
for k in compare decode_a decode_b metrics; do
  declare "$k=$(awk -v k=$k '$1 == k { print $2 }' "$work/compare.txt" | median)"
done
echo "framewise --compare: $(seconds "$compare") s; decoding alone $(seconds "$decode_a") + $(seconds "$decode_b") s, metrics alone" \
  "$(seconds "$metrics") s ($pictures pairs): $(seconds "$(awk -v a="$decode_a" -v b="$decode_b" -v m="$metrics" 'BEGIN { print a + b + m }')") s together (medians of ${REPS:-3})"
echo "load average afterwards $(cut -d' ' -f1-3 /proc/loadavg)"
