#!/usr/bin/env bash
# seekmark's right-click seeks, from the outside:
#   bench/seekclicks.sh BIN_DIR CLIP [SEEKS]        (STORAGE=hdd: the hard-disk profile, S once)
# Starts seekmark on CLIP on a display of its own, right-clicks SEEKS times (default 50) at random
# places in the first 70 % of the window (RANDOM=7: the same places every run), and prints the
# latency from each click ("seek asked at <ms>") to the first picture uploaded after it
# ("shown ... at <ms>"), and the longest gap between two ticks of the window meanwhile (its
# "Player <ms>" line for every tick later than 15 ms; on a busy machine plain playback has such
# gaps too), and the longest time the window spent handing a seek over ("seek handed over in").
set -uo pipefail

bin=${1:?bin dir}
clip=${2:?clip}
seeks=${3:-50}

# The work folder, the display, cleanup and pct.
source "$(dirname "$0")/ondisplay.sh"

err=$work/seek.err
"$bin/seekmark" "$clip" 2>"$err" >/dev/null &
prog=$!
# The player's window (its title begins with "seekmark"), once it is mapped at its size.
WIDTH=0 HEIGHT=0
for _ in $(seq 100); do
  win=$(timeout 5 xdotool search --onlyvisible --name '^seekmark' 2>/dev/null | head -1)
  [ -n "$win" ] && eval "$(timeout 5 xdotool getwindowgeometry --shell "$win" 2>/dev/null)"
  [ "$WIDTH" -gt 100 ] && break
  sleep 0.2
done
[ "$WIDTH" -gt 100 ] || { echo "seekclicks: no seekmark window" >&2; exit 1; }
for _ in $(seq 100); do grep -aq '^shown ' "$err" && break; sleep 0.1; done
if [ "${STORAGE:-}" = hdd ]; then
  timeout 5 xdotool windowfocus --sync "$win" key s
  for _ in $(seq 50); do grep -aq '^storage:' "$err" && break; sleep 0.1; done
fi
sleep 1
from=$(wc -l < "$err")
RANDOM=7
for _ in $(seq "$seeks"); do
  # Targets in the first 70 % of the clip, so that it never plays to its end between seeks.
  x=$((RANDOM % (WIDTH * 7 / 10)))
  before=$(grep -ac '^seek asked at ' "$err")
  timeout 5 xdotool mousemove --window "$win" "$x" $((HEIGHT / 2)) click 3
  for _ in $(seq 60); do
    # The click's line, then a picture after it.
    awk -v n="$before" '/^seek asked at /{ c++; if (c > n) armed = 1; next } armed && /^shown /{ found = 1 } END { exit !found }' "$err" && break
    sleep 0.05
  done
  sleep 0.$((3 + RANDOM % 5))
done
kill "$prog" 2>/dev/null; wait "$prog" 2>/dev/null; prog=
awk '/^seek asked at /{ t = $4; armed = 1; next } armed && /^shown /{ print $6 - t; armed = 0 }' "$err" > "$work/lat.txt"
awk '/^seek handed over in/ { print $5 / 1000 }' "$err" > "$work/handover.txt"
gap=$(tail -n +"$from" "$err" | awk '$1 == "Player" { if ($2 > m) m = $2; if ($2 > 25) n++ } END { print m + 0 " ms (" n + 0 " ticks over 25 ms)" }')
echo "seekmark $(basename "$clip")${STORAGE:+ ($STORAGE)}: $(wc -l < "$work/lat.txt") of $seeks right clicks measured; click to first new picture" \
  "p50 $(pct 50 < "$work/lat.txt") ms, p95 $(pct 95 < "$work/lat.txt") ms, max $(pct 100 < "$work/lat.txt") ms; longest tick gap $gap; hand-over p50 $(pct 50 < "$work/handover.txt") ms, max $(pct 100 < "$work/handover.txt") ms"
