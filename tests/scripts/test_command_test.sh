#!/usr/bin/env bash
# The README's two commands in their order on a fresh clone: the run command configures build/
# without the tests, then the test command must still build and run them, say how many ran, and
# fail a stage that ran none. Cheap: the build folder is a temporary one, the only target built is
# a small library, and the only test run is this one, which the inner run finds and ends at once.
#   test_command_test.sh SOURCE_DIR
set -uo pipefail
[ -n "${SEEKMARK_INNER_TEST_RUN:-}" ] && exit 0
src=${1:?source folder}
root=$(mktemp -d /tmp/seekmark-testcommand.XXXXXX)
trap 'rm -rf "$root"' EXIT
fail() { echo "FAILED: $1"; echo "$out" | tail -40; exit 1; }

# What scripts/run-seekmark.sh leaves behind.
out=$(cmake -S "$src" -B "$root/build" -DSEEKMARK_TESTS=OFF 2>&1) || fail "configuring without the tests"

run() { # CTEST_ARGS
  SEEKMARK_INNER_TEST_RUN=1 SEEKMARK_BUILD_ROOT=$root SEEKMARK_STAGES=normal SEEKMARK_TARGETS=platform \
    SEEKMARK_CTEST_ARGS="$1" bash "$src/scripts/run-tests.sh" 2>&1
}
out=$(run "-R ^TestCommand\\.")
rc=$?
[ "$rc" -eq 0 ] || fail "the test command ended with $rc"
grep -Eq '^normal .* passed, 1 tests$' <<<"$out" || fail "no summary line saying one test ran"

out=$(run "-R ^no-such-test$")
[ $? -ne 0 ] || fail "a stage that ran no test passed"
grep -Eq '^normal .* FAILED \(tests\), no tests$' <<<"$out" || fail "no summary line saying no test ran"
echo "the test command turned the tests on, ran 1 and failed a stage without tests"
