#!/usr/bin/env bash
# Picture against sound as heard, from outside the players: seekmark beside ffplay and mpv in the
# same run, all three through one real sound server.
#
#   bench/avsync.sh BIN_DIR [RUNS] [CLIP_DIR]    (BIN_DIR holds seekmark and syncbench; RUNS per
#                                                 player, default 3, alternating; CLIP_DIR keeps the
#                                                 clip, default a temporary folder)
#
# The sound server, the X server, the players and the recording run at the niceness AVSYNC_NICE
# (default -10, which needs root; otherwise they run as they are), so that other work on a shared
# machine disturbs the figures less: at a load average of 8 on 2 cores the players with short
# sound buffers lost sound.
#
# A PulseAudio server of its own (a null sink "nul" at 48 kHz, the players' only sink) and an X
# server of its own. The clip (made once): 26 s, 25 pictures a second, black with one white
# picture at every whole second, and a 40 ms 1 kHz beep starting at every whole second (H.264 +
# AAC in MP4). seekmark and ffplay play through SDL's pulseaudio driver, mpv through its own pulse
# output (--vo=x11, its software output); each player alone, its window at the top left. From 3 s
# after the start, syncbench records the sink's monitor with parec (5 ms fragments ... 2 ms asked)
# and reads a 16 x 16 patch in the middle of the window back from the X server once a millisecond
# for 21 s, and pairs each white picture with its beep.
#
# Figures per run, in ms, picture minus sound (positive: the picture comes after its sound): the
# median and p5/p95 over the run's pairs (about 21), spread = p95 - p5, and stretch (the largest
# distance of two beeps from one second: sound lost or silence inserted). Then per player the
# median of the runs' figures.
#
# The bench's own zero: the null sink renders its sound ahead of the time it stands for by its
# configured latency (read from pactl during each run, 2 ms as parec asks for it) and the monitor
# hands it to parec then, so the recording's times run early by that much: it is added back to
# each sound time. What remains: parec's delivery (the earliest read counts as no lag: sound times
# late by that read's own delay, well under 1 ms), the read-back's step (1 ms: a flash is placed
# half-way between the last dark and the first bright read-back, +/- 0.5 ms), and the clip's own
# beep onsets (0.06 ms after the second, the quarter-peak threshold on the first half-wave).
set -uo pipefail

bin=${1:?bin dir with seekmark and syncbench}
runs=${2:-3}
bin=$(cd "$bin" && pwd)
work=$(mktemp -d /tmp/avsync.XXXXXX)
clips=${3:-$work}
mkdir -p "$clips" && clips=$(cd "$clips" && pwd)
clip=$clips/avsync25.mp4

for tool in Xvfb pulseaudio parec pactl ffplay mpv xdotool; do
  command -v "$tool" >/dev/null || { echo "avsync: $tool is missing (bench/run-all.sh installs it)" >&2; exit 1; }
done
[ -x "$bin/syncbench" ] || { echo "avsync: $bin/syncbench is missing" >&2; exit 1; }

if [ ! -s "$clip" ]; then
  beep="if(lt(mod(t\,1)\,0.04)\,0.5*sin(2*PI*1000*t)\,0)"
  ffmpeg -nostdin -v error -y \
    -f lavfi -i "color=black:size=640x360:rate=25:duration=26,drawbox=color=white:t=fill:enable='eq(mod(n\,25)\,0)'" \
    -f lavfi -i "aevalsrc='$beep|$beep':s=48000:d=26" \
    -c:v libx264 -preset veryfast -g 50 -pix_fmt yuv420p -c:a aac -b:a 192k "$clip.part.mp4" && mv "$clip.part.mp4" "$clip"
fi

mkdir -p "$work/runtime" "$work/home" && chmod 700 "$work/runtime"
export XDG_RUNTIME_DIR=$work/runtime HOME=$work/home QT_QPA_PLATFORM=xcb
unset SDL_VIDEODRIVER SEEKMARK_DEBUG
nice_cmd=(nice -n "${AVSYNC_NICE:--10}")
[ "$(id -u)" -eq 0 ] || nice_cmd=()
display=70
while [ -e /tmp/.X$display-lock ] || [ -e /tmp/.X11-unix/X$display ]; do display=$((display + 1)); done
"${nice_cmd[@]}" Xvfb :$display -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=:$display
player=
cleanup() {
  [ -n "$player" ] && kill "$player" 2>/dev/null
  [ -f "$work/runtime/pulse/pid" ] && kill "$(cat "$work/runtime/pulse/pid")" 2>/dev/null
  kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work/runtime" "$work/home"
  [ "$clips" = "$work" ] || rm -rf "$work"
}
trap cleanup EXIT
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --use-pid-file=yes \
  --load="module-native-protocol-unix auth-anonymous=1" \
  --load="module-null-sink sink_name=nul rate=48000" --load=module-always-sink 2>/dev/null
export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
# The sound server too: its main thread passes the sink's requests for data on to the players.
if [ ${#nice_cmd[@]} -gt 0 ]; then
  for task in /proc/"$(cat "$XDG_RUNTIME_DIR/pulse/pid")"/task/*; do renice -n "${AVSYNC_NICE:--10}" -p "${task##*/}" >/dev/null; done
fi

# One run of a player: "median p5 p95 spread stretch pairs", sound times corrected by the sink's latency.
run_player() { # name
  local started pattern
  started=$(date +%s.%N)
  case $1 in
    seekmark) SDL_AUDIODRIVER=pulseaudio "${nice_cmd[@]}" timeout 40 "$bin/seekmark" "$clip" >/dev/null 2>&1 &
      pattern='^seekmark - ' ;;
    ffplay) SDL_AUDIODRIVER=pulseaudio "${nice_cmd[@]}" timeout 40 ffplay -v error -autoexit -window_title avsync-ffplay \
              -x 640 -y 480 -left 0 -top 0 "$clip" >/dev/null 2>&1 & pattern='^avsync-ffplay$' ;;
    mpv) "${nice_cmd[@]}" timeout 40 mpv --no-config --vo=x11 --ao=pulse --title=avsync-mpv --geometry=640x480+0+0 \
           --really-quiet "$clip" >/dev/null 2>&1 & pattern='^avsync-mpv$' ;;
  esac
  player=$!
  local win x y
  win=$(timeout 20 xdotool search --sync --onlyvisible --name "$pattern" | head -1)
  local X Y WIDTH HEIGHT
  [ -n "$win" ] && eval "$(timeout 5 xdotool getwindowgeometry --shell "$win")"
  if [ -z "${WIDTH:-}" ]; then
    echo "avsync: no window of $1" >&2
    kill "$player" 2>/dev/null; wait "$player" 2>/dev/null; player=
    return
  fi
  x=$((X + WIDTH / 2)); y=$((Y + HEIGHT / 2))
  sleep "$(awk -v s="$started" -v n="$(date +%s.%N)" 'BEGIN { d = 3 - (n - s); print (d > 0 ? d : 0) }')"
  (sleep 8; pactl list sinks | awk '/configured/ { print $(NF - 1) }' > "$work/latency") &
  "${nice_cmd[@]}" parec -d nul.monitor --raw --format=s16le --rate=48000 --channels=2 --latency-msec=2 2>/dev/null \
    | "${nice_cmd[@]}" "$bin/syncbench" "$x" "$y" 21 > "$work/$1.pairs"
  wait "$!" 2>/dev/null
  kill "$player" 2>/dev/null; wait "$player" 2>/dev/null; player=
  local ahead
  ahead=$(awk '{ print $1 / 1000 }' "$work/latency" 2>/dev/null)
  awk -v a="${ahead:-0}" '/^sync / { printf "%.1f %.1f %.1f %.1f %.1f %d\n", $3 - a, $4 - a, $5 - a, $6, $11, $2 }' "$work/$1.pairs"
}

median() { sort -g | awk '{ v[NR] = $1 } END { if (NR == 0) print "nan"; else if (NR % 2) print v[(NR + 1) / 2]; else print (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "Picture minus sound as heard, ms (PulseAudio null sink, X read-back at 1 kHz); $runs runs per player, alternating"
echo "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg); X server, players and recording at niceness $([ ${#nice_cmd[@]} -gt 0 ] && echo "${AVSYNC_NICE:--10}" || echo 0)"
echo
echo "| run | player | median | p5 | p95 | spread | stretch | pairs |"
echo "|---|---|---|---|---|---|---|---|"
: > "$work/all"
for run in $(seq "$runs"); do
  for who in seekmark ffplay mpv; do
    line=$(run_player "$who")
    [ -n "$line" ] || line="nan nan nan nan nan 0"
    echo "$who $line" >> "$work/all"
    read -r m p5 p95 sp st n <<< "$line"
    echo "| $run | $who | $m | $p5 | $p95 | $sp | $st | $n |"
  done
done
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "| player | median | spread (p95 - p5) | |median| <= 10 and spread <= 5 |"
echo "|---|---|---|---|"
for who in seekmark ffplay mpv; do
  m=$(awk -v w="$who" '$1 == w { print $2 }' "$work/all" | median)
  sp=$(awk -v w="$who" '$1 == w { print $5 }' "$work/all" | median)
  ok=$(awk -v m="$m" -v s="$sp" 'BEGIN { print (m <= 10 && m >= -10 && s <= 5) ? "yes" : "no" }')
  echo "| $who | $m | $sp | $ok |"
done
