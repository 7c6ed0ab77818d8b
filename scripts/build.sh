#!/usr/bin/env bash
# Configures and builds into the given folder (default: build). Extra arguments go to cmake.
#   scripts/build.sh [BUILD_DIR] [cmake options...]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}
shift || true
cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$dir" -j"$(nproc)"
