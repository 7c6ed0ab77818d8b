#!/usr/bin/env bash
# Configures and builds into the given folder (default: build). Extra arguments go to cmake.
#   scripts/build.sh [BUILD_DIR] [cmake options...]
#   SEEKMARK_TARGETS="engine_tests access_tests" scripts/build.sh DIR ...   only those targets
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}
shift || true
cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
targets=()
for t in ${SEEKMARK_TARGETS:-}; do
  targets+=(--target "$t")
done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
