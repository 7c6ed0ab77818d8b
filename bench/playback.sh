#!/usr/bin/env bash
# Playback and seek benchmarks of seekmark and framewise against ffplay and mpv, on a virtual
# display of its own with SDL's dummy audio driver (mpv: --ao=null, --vo=x11, its software output
# to the same X server). Called by bench/run-all.sh:
#
#   bench/playback.sh BIN_DIR CLIP_DIR REPS      (SEEKS=n seeks, default 50; ONLY_SEEKS=1 skips the table)
#
# Per clip and program: CPU seconds (user + sys of the process, from /usr/bin/time), pictures
# shown and dropped, |picture time - clock| at upload (p50/p95), peak resident memory, and the
# X server's CPU during the run. Ours count from their own debug lines: seekmark's
# "shown <time> clock <clock> at <ms>" per uploaded picture, framewise's "PAcket V1 <time>" per
# shown picture; ffplay reports its drops in its -stats line ("fd="), mpv through a small script
# that prints its drop counters as it quits. Then seekmark's seek
# latency: right clicks at random places, from the click ("seek asked at <ms>") to the first
# picture uploaded after it.
set -uo pipefail

bin=${1:?bin dir}
clips=${2:?clip dir}
reps=${3:-3}
seeks=${SEEKS:-50}

# The work folder, the display and the helpers.
source "$(dirname "$0")/ondisplay.sh"

ticks=$(getconf CLK_TCK)
cpu_of() { awk -v t="$ticks" '{ print ($14 + $15) / t }' "/proc/$1/stat" 2>/dev/null || echo 0; }
frames_of() { ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$1"; }
rate_of() { ffprobe -v error -select_streams v:0 -show_entries stream=r_frame_rate -of csv=p=0 "$1"; }

# The program started under /usr/bin/time is its only child.
child_of() { for _ in $(seq 100); do c=$(pgrep -P "$1" | head -1); [ -n "$c" ] && { echo "$c"; return; }; sleep 0.05; done; }

# Answers the next open dialog (one not answered before in this run) with a typed path.
seen_dialogs=" "
answer_dialog() { # path
  local d="" id
  for _ in $(seq 600); do
    for id in $(timeout 5 xdotool search --onlyvisible --name '^Open Video$' 2>/dev/null); do
      case "$seen_dialogs" in *" $id "*) ;; *) d=$id; break ;; esac
    done
    [ -n "$d" ] && break
    sleep 0.1
  done
  [ -z "$d" ] && return 1
  seen_dialogs="$seen_dialogs$d "
  timeout 5 xdotool windowfocus --sync "$d"
  timeout 30 xdotool type --delay 5 "$1"
  timeout 5 xdotool key Return
}

# Waits until the last picture of the clip is shown (time >= last), or no new one came for 3 s
# after the clip's length; the pattern picks the picture lines, field is the time's field.
wait_for_end() { # errfile pattern field last duration
  local start last_seen=0 count=0 prev=0 stall
  start=$(now_ms); stall=$(now_ms)
  while :; do
    local t
    t=$(grep -a "$2" "$1" | tail -1 | awk -v f="$3" '{ print $f }')
    count=$(grep -ac "$2" "$1")
    if [ "$count" != "$prev" ]; then prev=$count; stall=$(now_ms); fi
    if [ -n "$t" ] && awk -v t="$t" -v l="$4" 'BEGIN { exit !(t >= l) }'; then return 0; fi
    local n; n=$(now_ms)
    (( n - start > ($5 + 25) * 1000 )) && return 1
    (( count > 0 && n - start > $5 * 1000 && n - stall > 5000 )) && return 1
    sleep 0.1
  done
}

run_seekmark() { # clip -> "cpu shown dropped p50 p95 kb xcpu gaps"
  local clip=$1 frames last err=$work/seekmark.err tfile=$work/time.txt x0 x1
  frames=$(frames_of "$clip"); last=$(awk -v f="$frames" -v r="$(rate_of "$clip")" 'BEGIN { split(r, a, "/"); print (f - 1) * a[2] / a[1] - 0.001 }')
  : > "$err"; rm -f "$tfile"
  x0=$(cpu_of "$xvfb")
  /usr/bin/time -f "%U %S %M" -o "$tfile" "$bin/seekmark" 2>"$err" >/dev/null &
  local timer=$!
  prog=$(child_of "$timer")
  seen_dialogs=" "
  answer_dialog "$clip" || echo "seekmark: no dialog" >&2
  wait_for_end "$err" '^shown ' 2 "$last" 20 || echo "seekmark: did not reach the last picture of $(basename "$clip")" >&2
  x1=$(cpu_of "$xvfb")
  kill "$prog" 2>/dev/null; wait "$timer" 2>/dev/null; prog=
  local shown dropped p50 p95
  shown=$(grep -a '^shown ' "$err" | awk '{ print $2 }' | sort -u | wc -l)
  dropped=$((frames - shown))
  p50=$(grep -a '^shown ' "$err" | awk '{ d = ($2 - $4) * 1000; if (d < 0) d = -d; print d }' | pct 50)
  p95=$(grep -a '^shown ' "$err" | awk '{ d = ($2 - $4) * 1000; if (d < 0) d = -d; print d }' | pct 95)
  local gaps
  gaps=$(grep -a '^sound gaps ' "$err" | tail -1 | awk '{ print $3 }')
  read -r u s kb < <(tail -1 "$tfile")
  echo "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $shown $dropped $p50 $p95 $kb $(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }') ${gaps:-0}"
}

run_framewise() { # clip -> "cpu shown dropped - - kb xcpu -"
  local clip=$1 frames last err=$work/framewise.err tfile=$work/time.txt x0 x1
  frames=$(frames_of "$clip"); last=$(awk -v f="$frames" -v r="$(rate_of "$clip")" 'BEGIN { split(r, a, "/"); print (f - 1) * a[2] / a[1] - 0.001 }')
  : > "$err"; rm -f "$tfile"
  x0=$(cpu_of "$xvfb")
  /usr/bin/time -f "%U %S %M" -o "$tfile" "$bin/framewise" 2>"$err" >/dev/null &
  local timer=$!
  prog=$(child_of "$timer")
  seen_dialogs=" "
  answer_dialog "$clip" || echo "framewise: no first dialog" >&2
  answer_dialog "$clip" || echo "framewise: no second dialog" >&2
  # framewise shows every picture (it never drops); when two decoders cannot keep up, it falls
  # behind, and the pictures not reached within the clip's length + 25 s count as dropped.
  wait_for_end "$err" '^PAcket V1 ' 3 "$last" 20 || echo "framewise: did not reach the last picture of $(basename "$clip") in time" >&2
  x1=$(cpu_of "$xvfb")
  kill "$prog" 2>/dev/null; wait "$timer" 2>/dev/null; prog=
  local shown
  shown=$(grep -a '^PAcket V1 ' "$err" | awk '{ print $3 }' | sort -u | wc -l)
  read -r u s kb < <(tail -1 "$tfile")
  echo "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $shown $((frames - shown)) - - $kb $(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }') -"
}

run_ffplay() { # clip w h -> "cpu shown dropped - - kb xcpu -"
  local clip=$1 frames err=$work/ffplay.err tfile=$work/time.txt x0 x1
  frames=$(frames_of "$clip")
  : > "$err"; rm -f "$tfile"
  x0=$(cpu_of "$xvfb")
  timeout 60 /usr/bin/time -f "%U %S %M" -o "$tfile" ffplay -autoexit -stats -x "$2" -y "$3" "$clip" 2>"$err" >/dev/null
  x1=$(cpu_of "$xvfb")
  local fd
  fd=$(tr '\r' '\n' < "$err" | grep -o 'fd= *[0-9]*' | tail -1 | tr -dc 0-9)
  fd=${fd:-0}
  read -r u s kb < <(tail -1 "$tfile")
  echo "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $((frames - fd)) $fd - - $kb $(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }') -"
}

run_mpv() { # clip w h -> "cpu shown dropped - - kb xcpu -"
  local clip=$1 frames err=$work/mpv.err tfile=$work/time.txt x0 x1
  frames=$(frames_of "$clip")
  : > "$err"; rm -f "$tfile"
  cat > "$work/drops.lua" <<'LUA'
local vo, dec = 0, 0
mp.observe_property("frame-drop-count", "number", function(_, v) if v then vo = v end end)
mp.observe_property("decoder-frame-drop-count", "number", function(_, v) if v then dec = v end end)
mp.register_event("shutdown", function() io.stderr:write(string.format("mpv drops %d %d\n", vo, dec)) end)
LUA
  x0=$(cpu_of "$xvfb")
  timeout 60 /usr/bin/time -f "%U %S %M" -o "$tfile" mpv --no-config --vo=x11 --ao=null --geometry="$2x$3" \
    --script="$work/drops.lua" --really-quiet "$clip" 2>"$err" >/dev/null
  x1=$(cpu_of "$xvfb")
  local fd
  fd=$(grep -a '^mpv drops ' "$err" | tail -1 | awk '{ print $3 + $4 }')
  fd=${fd:-0}
  read -r u s kb < <(tail -1 "$tfile")
  echo "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $((frames - fd)) $fd - - $kb $(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }') -"
}

# Our window's size, for ffplay's: seekmark's player window as it opens.
window_size() {
  local clip=$1 err=$work/size.err w h
  /usr/bin/time -o /dev/null "$bin/seekmark" 2>"$err" >/dev/null &
  local timer=$!
  prog=$(child_of "$timer")
  seen_dialogs=" "
  answer_dialog "$clip" >/dev/null
  local win
  win=$(timeout 20 xdotool search --sync --onlyvisible --name '^seekmark' | head -1)
  eval "$(timeout 5 xdotool getwindowgeometry --shell "$win")"
  kill "$prog" 2>/dev/null; wait "$timer" 2>/dev/null; prog=
  echo "${WIDTH:-640} ${HEIGHT:-480}"
}

# Field medians of several runs: one line of fields per run on stdin.
medians() { awk '{ for (i = 1; i <= NF; i++) v[i] = v[i] " " $i; n = NF } END { for (i = 1; i <= n; i++) print v[i] }' | while read -r line; do
    if [ "${line%% *}" = "-" ]; then echo -n "- "; else echo -n "$(echo "$line" | tr ' ' '\n' | median) "; fi
  done; echo; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }

if [ -z "${ONLY_SEEKS:-}" ]; then
first_clip=$(ls "$clips"/*.mp4 | head -1)
read -r W H < <(window_size "$first_clip")

echo "Playback: median of $reps runs each (runs of the four players alternate); CPU = user + sys s of the"
echo "player's process, X = the X server's CPU s meanwhile; sound gaps = times the sound ran dry while"
echo "playing (seekmark's \"sound gaps\" line); |pic - clock| = |picture time - audio clock| at"
echo "upload, ms; memory = peak resident MB; bound = picture queue limit (31..600 pictures, 128 MiB) x w x h x 1.5"
echo "(planar 4:2:0) + audio queue 128 x 288000 + 150 MB (framewise: two picture queues of 31 + 150 MB). Window ${W}x${H}"
echo "for all four (ffplay -x $W -y $H, mpv --geometry=${W}x${H}). vs mpv = (CPU + X) / mpv's (CPU + X); framewise,"
echo "which plays the clip twice, against twice mpv's."
echo
echo "| clip | player | CPU s | X s | CPU+X s | shown | dropped | sound gaps | pic-clock p50 | p95 | peak MB | bound MB | vs mpv |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for clip in "$clips"/720p30.mp4 "$clips"/1080p30.mp4 "$clips"/1080p60.mp4; do
  [ -f "$clip" ] || continue
  name=$(basename "$clip" .mp4)
  read -r w h < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$clip" | tr , ' ')
  # seekmark reads past its marks of 31 for the stream the clock needs (see VideoAgent::queueLimit()).
  bound=$(awk -v w="$w" -v h="$h" 'BEGIN { b = w * h * 1.5 + 64; n = int(134217728 / b); n = n < 31 ? 31 : n > 600 ? 600 : n
    printf "%.0f", (n * b + 128 * 288000) / 1048576 + 150 }')
  # framewise: two picture queues, no sound decoded.
  bound2=$(awk -v w="$w" -v h="$h" 'BEGIN { printf "%.0f", 2 * 31 * w * h * 1.5 / 1048576 + 150 }')
  : > "$work/s.txt"; : > "$work/f.txt"; : > "$work/p.txt"; : > "$work/m.txt"
  for _ in $(seq "$reps"); do
    run_seekmark "$clip" >> "$work/s.txt"
    run_ffplay "$clip" "$W" "$H" >> "$work/p.txt"
    run_mpv "$clip" "$W" "$H" >> "$work/m.txt"
    run_framewise "$clip" >> "$work/f.txt"
  done
  # mpv's CPU + X, the yardstick.
  mc=$(medians < "$work/m.txt" | awk '{ print $1 + $7 }')
  for who in seekmark framewise ffplay mpv; do
    case $who in seekmark) f=s; b=$bound; n=1 ;; framewise) f=f; b=$bound2; n=2 ;; ffplay) f=p; b=-; n=1 ;; mpv) f=m; b=-; n=1 ;; esac
    read -r c s d p50 p95 k x g <<< "$(medians < "$work/$f.txt")"
    cx=$(awk -v c="$c" -v x="$x" 'BEGIN { print c + x }')
    echo "| $name | $who | $c | $x | $cx | $s | $d | $g | $p50 | $p95 | $(mb "$k") | $b | $(ratio "$cx" "$(awk -v m="$mc" -v n="$n" 'BEGIN { print m * n }')") |"
  done
done

fi

# Seek latency on the 1080p30 clip: from the click (as the player received it) to the first
# picture uploaded after it (bench/seekclicks.sh, on a display of its own).
clip=$clips/1080p30.mp4
if [ -f "$clip" ] && [ "$seeks" -gt 0 ]; then
  echo
  bash "$(dirname "$0")/seekclicks.sh" "$bin" "$clip" "$seeks"
fi
