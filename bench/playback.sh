#!/usr/bin/env bash
# Playback and seek benchmarks of seekmark and framewise against ffplay and mpv, on a virtual
# display of its own with SDL's dummy audio driver (mpv: --ao=null; --vo=x11, its software output
# to the same X server, and --vo=gpu, its GL output, which on a software GL needs --gpu-sw).
# Called by bench/run-all.sh:
#
#   bench/playback.sh BIN_DIR CLIP_DIR REPS      (SEEKS=n seeks, default 50; ONLY_SEEKS=1 skips the table)
#   WINDOWS="640x480 1280x720"   the window sizes, all players alike (ours are resized as they open)
#   PLAYERS="seekmark seekmark-shader framewise ffplay mpv-x11 mpv-gpu"   the players (the default);
#       seekmark-shader is seekmark with SEEKMARK_PICTURE_PATH=shader (the GPU path on this GL)
#
# Per clip, window and program: CPU seconds (user + sys of the process, from /usr/bin/time), pictures
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
# Typed into the players' open dialogs, which start in another folder: the clips' path in full.
clips=$(cd "$clips" && pwd) || exit 1
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

# Sets our window (title pattern) to the size asked, as soon as it shows.
size_window() { # pattern w h
  local win
  win=$(timeout 20 xdotool search --sync --onlyvisible --name "$1" | head -1)
  [ -n "$win" ] && timeout 5 xdotool windowsize "$win" "$2" "$3"
}

run_seekmark() { # clip w h path -> "cpu shown dropped p50 p95 kb xcpu gaps"
  local clip=$1 frames last err=$work/seekmark.err tfile=$work/time.txt x0 x1
  frames=$(frames_of "$clip"); last=$(awk -v f="$frames" -v r="$(rate_of "$clip")" 'BEGIN { split(r, a, "/"); print (f - 1) * a[2] / a[1] - 0.001 }')
  : > "$err"; rm -f "$tfile"
  x0=$(cpu_of "$xvfb")
  SEEKMARK_PICTURE_PATH=$4 /usr/bin/time -f "%U %S %M" -o "$tfile" "$bin/seekmark" 2>"$err" >/dev/null &
  local timer=$!
  prog=$(child_of "$timer")
  seen_dialogs=" "
  answer_dialog "$clip" || echo "seekmark: no dialog" >&2
  size_window '^seekmark - ' "$2" "$3"
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

run_framewise() { # clip w h -> "cpu shown dropped - - kb xcpu -"
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
  size_window '^framewise' "$2" "$3"
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

run_mpv() { # clip w h vo... -> "cpu shown dropped - - kb xcpu -"
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
  timeout 60 /usr/bin/time -f "%U %S %M" -o "$tfile" mpv --no-config "${@:4}" --ao=null --geometry="$2x$3" \
    --script="$work/drops.lua" --really-quiet "$clip" 2>"$err" >/dev/null
  x1=$(cpu_of "$xvfb")
  local fd
  fd=$(grep -a '^mpv drops ' "$err" | tail -1 | awk '{ print $3 + $4 }')
  fd=${fd:-0}
  read -r u s kb < <(tail -1 "$tfile")
  echo "$(awk -v u="$u" -v s="$s" 'BEGIN { print u + s }') $((frames - fd)) $fd - - $kb $(awk -v a="$x0" -v b="$x1" 'BEGIN { print b - a }') -"
}

# Field medians of several runs: one line of fields per run on stdin.
medians() { awk '{ for (i = 1; i <= NF; i++) v[i] = v[i] " " $i; n = NF } END { for (i = 1; i <= n; i++) print v[i] }' | while read -r line; do
    if [ "${line%% *}" = "-" ]; then echo -n "- "; else echo -n "$(echo "$line" | tr ' ' '\n' | median) "; fi
  done; echo; }

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
mb() { awk -v k="$1" 'BEGIN { printf "%.0f", k / 1024 }'; }

if [ -z "${ONLY_SEEKS:-}" ]; then
windows=${WINDOWS:-"640x480 1280x720"}
players=${PLAYERS:-"seekmark seekmark-shader framewise ffplay mpv-x11 mpv-gpu"}

echo "Playback: median of $reps runs each (the players' runs alternate); CPU = user + sys s of the player's"
echo "process, X = the X server's CPU s meanwhile; sound gaps = times the sound ran dry while playing"
echo "(seekmark's \"sound gaps\" line); |pic - clock| = |picture time - audio clock| at upload, ms; memory ="
echo "peak resident MB; bound = what the queues can hold + 150 MB: seekmark's picture queue limit"
echo "(31..600 pictures, 128 MiB of whole pictures) x the picture's size as queued x 1.5 (planar 4:2:0: cut"
echo "to its rectangle in the window on the CPU path, whole on the shader path) + the sound queue (128 x"
echo "288000 bytes); framewise two picture queues at their mark (31, or 16..31 when 31 take more than 24 MiB)"
echo "and its second decoder's 16 reference pictures. vs mpv = (CPU + X) / mpv --vo=x11's (CPU + X);"
echo "framewise, which plays the clip twice, against twice mpv's. Load average when the table began: $(cut -d' ' -f1-3 /proc/loadavg)."
echo
echo "| clip | window | player | CPU s | X s | CPU+X s | shown | dropped | sound gaps | pic-clock p50 | p95 | peak MB | bound MB | vs mpv |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"
for clip in "$clips"/720p30.mp4 "$clips"/1080p30.mp4 "$clips"/1080p60.mp4; do
  [ -f "$clip" ] || continue
  name=$(basename "$clip" .mp4)
  read -r w h < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$clip" | tr , ' ')
  for window in $windows; do
    W=${window%x*} H=${window#*x}
    # The picture as queued: cut to its rectangle in the window when that shrinks it.
    read -r qw qh < <(awk -v w="$w" -v h="$h" -v W="$W" -v H="$H" 'BEGIN { s = W / w < H / h ? W / w : H / h; if (s > 1) s = 1
      printf "%d %d\n", w * s + 0.5, h * s + 0.5 }')
    bound_of() { # queued-w queued-h -> seekmark's bound, MB
      awk -v w="$w" -v h="$h" -v qw="$1" -v qh="$2" 'BEGIN { b = w * h * 1.5 + 64; n = int(134217728 / b); n = n < 31 ? 31 : n > 600 ? 600 : n
        printf "%.0f", (n * qw * qh * 1.5 + 128 * 288000) / 1048576 + 150 }'
    }
    : > "$work/mpv-x11.txt"
    for who in $players; do : > "$work/$who.txt"; done
    for _ in $(seq "$reps"); do
      for who in $players; do
        case $who in
          seekmark) run_seekmark "$clip" "$W" "$H" "" ;;
          seekmark-shader) run_seekmark "$clip" "$W" "$H" shader ;;
          framewise) run_framewise "$clip" "$W" "$H" ;;
          ffplay) run_ffplay "$clip" "$W" "$H" ;;
          mpv-x11) run_mpv "$clip" "$W" "$H" --vo=x11 ;;
          mpv-gpu) run_mpv "$clip" "$W" "$H" --vo=gpu --gpu-sw ;;
        esac >> "$work/$who.txt"
      done
    done
    # mpv --vo=x11's CPU + X, the yardstick.
    mc=$(medians < "$work/mpv-x11.txt" | awk '{ print $1 + $7 }')
    for who in $players; do
      n=1
      case $who in
        seekmark) b=$(bound_of "$qw" "$qh") ;;
        seekmark-shader) b=$(bound_of "$w" "$h") ;;
        # Two picture queues of whole pictures at their mark (31, fewer for large pictures:
        # VideoAgent::markFor) and the second decoder's own pictures (16 references).
        framewise) b=$(awk -v w="$w" -v h="$h" 'BEGIN { q = w * h * 1.5; m = int(25165824 / q)
            m = m < 16 ? 16 : m > 31 ? 31 : m; printf "%.0f", (2 * m * q + 16 * w * h * 1.5) / 1048576 + 150 }'); n=2 ;;
        *) b=- ;;
      esac
      read -r c s d p50 p95 k x g <<< "$(medians < "$work/$who.txt")"
      cx=$(awk -v c="$c" -v x="$x" 'BEGIN { print c + x }')
      echo "| $name | $window | $who | $c | $x | $cx | $s | $d | $g | $p50 | $p95 | $(mb "$k") | $b | $(ratio "$cx" "$(awk -v m="$mc" -v n="$n" 'BEGIN { print m * n }')") |"
    done
  done
done
echo "Load average when the table ended: $(cut -d' ' -f1-3 /proc/loadavg)."

fi

# Seek latency on the 1080p30 clip: from the click (as the player received it) to the first
# picture uploaded after it (bench/seekclicks.sh, on a display of its own).
clip=$clips/1080p30.mp4
if [ -f "$clip" ] && [ "$seeks" -gt 0 ]; then
  echo
  bash "$(dirname "$0")/seekclicks.sh" "$bin" "$clip" "$seeks"
fi
