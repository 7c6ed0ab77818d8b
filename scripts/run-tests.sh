#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test on a virtual display (Xvfb), first in the
# normal build, then in the AddressSanitizer + UndefinedBehaviorSanitizer build.
#   scripts/run-tests.sh            both builds
#   SEEKMARK_BUILDS=normal scripts/run-tests.sh   only the normal build
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh"

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=dummy
export QT_QPA_PLATFORM=xcb

builds=${SEEKMARK_BUILDS:-"normal asan"}
status=0
for kind in $builds; do
  case $kind in
    normal) dir=$here/build; opts=() ;;
    asan)   dir=$here/build-asan; opts=(-DSEEKMARK_SANITIZE=ON) ;;
    *) echo "unknown build kind $kind"; exit 2 ;;
  esac
  echo "== $kind build =="
  bash "$here/scripts/build.sh" "$dir" "${opts[@]}"
  if [ "$kind" = asan ]; then
    # Qt and the system libraries are not instrumented; only their own reports are suppressed.
    export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=0"
    export LSAN_OPTIONS="suppressions=$here/tests/sanitizers/lsan.supp:print_suppressions=0"
    export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$here/tests/sanitizers/ubsan.supp"
  fi
  echo "== $kind tests =="
  if ! (cd "$dir" && xvfb-run -a -s "-screen 0 1280x1024x24" \
        ctest --output-on-failure --timeout 600 -j2); then
    status=1
  fi
  unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
done
exit $status
