#!/usr/bin/env bash
# Configures and builds into the given folder (default: build). Extra arguments go to cmake.
#   scripts/build.sh [BUILD_DIR] [cmake options...]
#   SEEKMARK_TARGETS="engine_tests access_tests" scripts/build.sh DIR ...   only those targets
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
dir=${1:-$here/build}
shift || true
# ccache, where installed, keeps rebuilds of several build folders (and worktrees) short.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
cmake -S "$here" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" "$@" >/dev/null
targets=()
for t in ${SEEKMARK_TARGETS:-}; do
  targets+=(--target "$t")
done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"
