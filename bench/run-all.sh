#!/usr/bin/env bash
# Every benchmark in one go: installs what is missing, builds a Release build in build-bench/,
# makes the 20-second clips once (build-bench/bench-clips/), then prints the engine table, the
# playback table (each clip in a 640x480 and a 1280x720 window: seekmark on both picture paths,
# framewise, ffplay, mpv's X11 and GL outputs), the seek latency, the seek targets, picture against
# sound as heard (bench/avsync.sh) and framewise's A/B bench (steps, --compare). About 80 minutes
# on 2 cores.
#
#   bash bench/run-all.sh            (REPS=3 runs per figure, SEEKS=50 seeks; both can be set, and
#                                     WINDOWS and PLAYERS as bench/playback.sh takes them)
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build-bench
clips=$build/bench-clips
reps=${REPS:-3}

bash "$root/scripts/setup.sh"
# ffplay comes with Debian's ffmpeg package; mpv (the second player compared), /usr/bin/time and
# xdpyinfo are separate. Only the benchmark needs them, so the project's setup does not install them.
missing=()
command -v /usr/bin/time >/dev/null || missing+=(time)
command -v ffplay >/dev/null || missing+=(ffmpeg)
command -v mpv >/dev/null || missing+=(mpv)
command -v xdpyinfo >/dev/null || missing+=(x11-utils)
# The sync bench: a sound server of its own and its recorder.
command -v pulseaudio >/dev/null || missing+=(pulseaudio)
command -v parec >/dev/null || missing+=(pulseaudio-utils)
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=(); [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DSEEKMARK_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target seekmark framewise seekprobe enginebench syncbench metricsbench >/dev/null

# H.264 High + AAC, B-frames, a keyframe every 2 s, a moving picture.
mkdir -p "$clips"
make_clip() { # name size rate [more x264 options]
  [ -s "$clips/$1" ] && return 0
  echo "making $1" >&2
  ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=$2:rate=$3:duration=20" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=20" \
    -c:v libx264 -profile:v high -preset veryfast -bf 3 -g $(($3 * 2)) -keyint_min $(($3 * 2)) -sc_threshold 0 \
    "${@:4}" -pix_fmt yuv420p -c:a aac -b:a 128k -ac 2 -shortest "$clips/$1.part.mp4"
  mv "$clips/$1.part.mp4" "$clips/$1"
}
make_clip 720p30.mp4 1280x720 30
make_clip 1080p30.mp4 1920x1080 30
make_clip 1080p60.mp4 1920x1080 60
# The same source starved of bits, for framewise's A/B bench (in a folder of its own: the playback
# table plays every clip of the folder above).
mkdir -p "$clips/ab"
make_clip ab/1080p30-starved.mp4 1920x1080 30 -b:v 600k -maxrate 600k -bufsize 1200k

echo "== $(date -u +%Y-%m-%dT%H:%MZ), $(nproc) cores; figures move about 10 % between runs"
echo
"$build/bin/enginebench" --reps "$reps" "$clips/720p30.mp4" "$clips/1080p30.mp4" "$clips/1080p60.mp4"
echo
bash "$root/bench/playback.sh" "$build/bin" "$clips" "$reps"
echo
echo "Seek latency (seekprobe, 1080p30, request to first picture): $(bash "$root/bench/seeklatency.sh" "$build/bin/seekprobe" "$clips/1080p30.mp4" "${SEEKS:-50}")"
echo
bash "$root/bench/seektargets.sh" "$build/bin" "$clips" "$reps"
echo
bash "$root/bench/avsync.sh" "$build/bin" "$reps" "$clips"
echo
bash "$root/bench/framewise.sh" "$build/bin" "$clips/1080p30.mp4" "$clips/ab/1080p30-starved.mp4"
