#!/usr/bin/env bash
# Installs what is missing, builds, and starts seekmark; its arguments go to seekmark:
#   scripts/run-seekmark.sh [--debug] [CLIP]
# Without a display it starts a virtual one (Xvfb) so the program still runs; with a desktop
# session it opens on your screen. Only the programs are built: a fresh build/ is configured
# without the tests, one the test command configured keeps them (scripts/run-tests.sh turns them
# on again whatever this left).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"
options=()
[ -f "$here/build/CMakeCache.txt" ] || options=(-DSEEKMARK_TESTS=OFF)
SEEKMARK_TARGETS="seekmark framewise seekprobe" bash "$here/scripts/build.sh" "$here/build" "${options[@]}"

program="$here/build/bin/seekmark"
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
if [ -z "${SDL_AUDIODRIVER:-}" ] && ! ls /dev/snd/pcm* >/dev/null 2>&1; then
  echo "No sound card found: playing through SDL's dummy audio driver."
  export SDL_AUDIODRIVER=dummy
fi
if [ -n "${DISPLAY:-}" ]; then
  exec "$program" "$@"
fi
echo "No display found: running on a virtual display (Xvfb); nothing will be visible."
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$program" "$@"
