#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test, stage by stage:
#   normal  the normal build: every test, on a virtual display (Xvfb)
#   asan    the AddressSanitizer + UndefinedBehaviorSanitizer build: every test, on a virtual display
#   tsan    the ThreadSanitizer build: the tests of the threaded code (tsan_tests below), no display
#   fuzz    the libFuzzer target over opening and decoding (clang, AddressSanitizer + UBSan), seeded
#           with the clip corpus, for a bounded time
#   slurm   seekprobe on a real single-node Slurm cluster (tests/scripts/slurm_test.sh, as root): a
#           job array of 4 parts and their merge against an unsharded run
# A stage that fails does not stop the others. The tests are built whatever configured a folder
# before (scripts/run-seekmark.sh leaves build/ without them), and a test stage that runs no test
# fails. The run ends with one line per stage (with the number of tests run) and then ctest's
# closing lines of each test stage, and exits non-zero if any stage failed.
#   scripts/run-tests.sh                                  every stage
#   SEEKMARK_STAGES="normal tsan" scripts/run-tests.sh    only these stages
#   SEEKMARK_FUZZ_SECONDS=600 scripts/run-tests.sh        fuzz longer (default 120)
#   SEEKMARK_CTEST_ARGS="-R Seek" scripts/run-tests.sh    more arguments for ctest (here: a subset)
#   SEEKMARK_BUILD_ROOT=/tmp/x scripts/run-tests.sh       build folders under /tmp/x, not the checkout
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
bash "$here/scripts/setup.sh" || exit 1

# The test binaries the ThreadSanitizer stage builds and runs: those whose code runs on several
# threads. They run without a display, so tests that need windows skip themselves (Qt's GUI side
# is uninstrumented noise anyway). Add a binary here to cover it.
tsan_tests=(engine_tests access_tests hostile_tests)
fuzz_seconds=${SEEKMARK_FUZZ_SECONDS:-120}
stages=${SEEKMARK_STAGES:-${SEEKMARK_BUILDS:-"normal asan tsan fuzz slurm"}}
root=${SEEKMARK_BUILD_ROOT:-$here}
read -r -a ctest_extra <<<"${SEEKMARK_CTEST_ARGS:-}"

export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-/tmp/runtime-$(id -u)}
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
export SDL_AUDIODRIVER=dummy
export QT_QPA_PLATFORM=xcb
supp=$here/tests/sanitizers
for symbolizer in /usr/bin/llvm-symbolizer-14 /usr/bin/llvm-symbolizer; do
  if [ -x "$symbolizer" ]; then
    export ASAN_SYMBOLIZER_PATH=$symbolizer
    break
  fi
done

summary=()       # one line per stage
ctest_lines=()   # ctest's closing lines per test stage
status=0

# Runs a ctest command line in a build folder, shows its output and keeps its closing lines; sets
# tests_run to how many tests ran ("no tests" when none did).
run_ctest() { # KIND DIR COMMAND...
  local kind=$1 dir=$2
  shift 2
  local log=$dir/ctest-output.log
  (cd "$dir" && "$@" "${ctest_extra[@]}") 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  tests_run=$(sed -n 's/.* tests failed out of \([0-9]*\).*/\1 tests/p' "$log" | tail -1)
  tests_run=${tests_run:-no tests}
  ctest_lines+=("$kind build:")
  while IFS= read -r line; do
    ctest_lines+=("$line")
  done < <(sed -n -e '/tests passed, /p' -e '/^Total Test time/p' \
             -e '/^The following tests FAILED/,/^Errors while running CTest/p' "$log")
  return "$rc"
}
ctest_cmd=(ctest --output-on-failure --no-tests=error --timeout 600 -j2)
# -noreset: by default the X server resets whenever its last client goes, and a test that connects
# during the reset fails to start ("could not connect to display") -- short tests come and go fast.
xvfb=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset")

# ThreadSanitizer cannot map its shadow memory on kernels with high address randomisation
# ("FATAL: ThreadSanitizer: unexpected memory mapping"): there the tests run without it.
tsan_prefix() { # PROBE_BINARY
  if env -u DISPLAY "$1" --gtest_list_tests 2>&1 | grep -q 'unexpected memory mapping'; then
    echo "ThreadSanitizer needs address randomisation off on this kernel: running under setarch -R" >&2
    echo "setarch $(uname -m) -R"
  fi
}

for kind in $stages; do
  started=$SECONDS
  build_seconds=
  tests_run=
  result=passed
  echo "== $kind: build =="
  case $kind in
    normal)
      dir=$root/build
      if ! bash "$here/scripts/build.sh" "$dir" -DSEEKMARK_TESTS=ON; then
        result="FAILED (build)"
      else
        build_seconds=$((SECONDS - started))
        echo "== $kind: tests =="
        run_ctest "$kind" "$dir" "${xvfb[@]}" "${ctest_cmd[@]}" || result="FAILED (tests)"
      fi ;;
    asan)
      dir=$root/build-asan
      if ! bash "$here/scripts/build.sh" "$dir" -DSEEKMARK_SANITIZE=ON -DSEEKMARK_TESTS=ON; then
        result="FAILED (build)"
      else
        build_seconds=$((SECONDS - started))
        echo "== $kind: tests =="
        # Qt and the system libraries are not instrumented; only their own reports are suppressed.
        # A test that fails is run once more: LeakSanitizer's exit-time scan now and then crashes
        # itself ("Tracer caught signal 11") while Mesa's threads are ending; a real failure fails
        # twice. Installing and packaging is the normal stage's: the sanitized programs install
        # the same files, and packaging their large binaries only costs minutes.
        run_ctest "$kind" "$dir" env \
          ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:strict_string_checks=0" \
          LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
          UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp" \
          "${xvfb[@]}" "${ctest_cmd[@]}" -LE install_tests --repeat until-pass:2 || result="FAILED (tests)"
      fi ;;
    tsan)
      dir=$root/build-tsan
      labels=$(IFS='|'; echo "^(${tsan_tests[*]})\$")
      if ! SEEKMARK_TARGETS="${tsan_tests[*]}" bash "$here/scripts/build.sh" "$dir" -DSEEKMARK_TSAN=ON \
          -DSEEKMARK_TESTS=ON; then
        result="FAILED (build)"
      else
        build_seconds=$((SECONDS - started))
        echo "== $kind: tests (${tsan_tests[*]}) =="
        read -r -a prefix <<<"$(tsan_prefix "$dir/tests/${tsan_tests[0]}")"
        # Without a display the tests make a QCoreApplication: no platform plugin, none of its threads.
        run_ctest "$kind" "$dir" env -u DISPLAY -u WAYLAND_DISPLAY \
          TSAN_OPTIONS="suppressions=$supp/tsan.supp:second_deadlock_stack=1:history_size=4" \
          "${prefix[@]}" "${ctest_cmd[@]}" -L "$labels" || result="FAILED (tests)"
      fi ;;
    fuzz)
      dir=$root/build-fuzz
      cxx=$(command -v clang++ || command -v clang++-14 || true)
      cc=$(command -v clang || command -v clang-14 || true)
      if [ -z "$cxx" ] || [ -z "$cc" ]; then
        echo "clang is missing: the fuzz target needs it"
        result="FAILED (no clang)"
      elif ! SEEKMARK_TARGETS=fuzz_open_decode bash "$here/scripts/build.sh" "$dir" -DSEEKMARK_FUZZ=ON \
          -DSEEKMARK_TESTS=OFF -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_C_COMPILER="$cc"; then
        result="FAILED (build)"
      else
        build_seconds=$((SECONDS - started))
        # Seeds: the clip corpus the normal build made (made here when that stage did not run) and
        # its hostile corpus when there is one, copied afresh each time; the corpus the fuzzer
        # grows stays in the build folder.
        clips=$root/build/clips
        if [ ! -f "$clips/corpus.stamp" ]; then
          clips=$dir/clips
          [ -f "$clips/corpus.stamp" ] || bash "$here/tests/clips/make_clips.sh" "$clips"
        fi
        rm -rf "$dir/fuzz-seeds" "$dir/fuzz-artifacts"
        mkdir -p "$dir/fuzz-seeds" "$dir/fuzz-corpus" "$dir/fuzz-artifacts"
        for seeds in "$clips" "$root/build/hostile"; do
          [ -d "$seeds" ] && find "$seeds" -maxdepth 1 -type f ! -name '*.stamp' ! -name '.*' \
            -exec cp {} "$dir/fuzz-seeds/" \;
        done
        echo "== $kind: fuzz_open_decode for $fuzz_seconds s, $(ls "$dir/fuzz-seeds" | wc -l) seeds, $(ls "$dir/fuzz-corpus" | wc -l) inputs kept from earlier runs =="
        log=$dir/fuzz.log
        ASAN_OPTIONS="detect_leaks=1:abort_on_error=0" \
        LSAN_OPTIONS="suppressions=$supp/lsan.supp:print_suppressions=0" \
        UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:suppressions=$supp/ubsan.supp" \
          "$dir/fuzz/fuzz_open_decode" -max_total_time="$fuzz_seconds" -rss_limit_mb=4096 -malloc_limit_mb=4096 \
          -timeout=60 -max_len=131072 -print_final_stats=1 -artifact_prefix="$dir/fuzz-artifacts/" \
          "$dir/fuzz-corpus" "$dir/fuzz-seeds" >"$log" 2>&1
        fuzz_rc=$?
        if [ "$fuzz_rc" -ne 0 ]; then
          result="FAILED (crash)"
          # The report: from the sanitizer's or libFuzzer's first alarm line to the end.
          sed -n '/^==[0-9]*==\|ERROR: libFuzzer\|runtime error:\|^SUMMARY/,$p' "$log" | head -150
          for input in "$dir"/fuzz-artifacts/*; do
            [ -e "$input" ] && echo "crash input: $input (replay: $dir/fuzz/fuzz_open_decode $input)"
          done
        fi
        tail -n 8 "$log"
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        kept=$(ls "$dir/fuzz-corpus" | wc -l)
        [ -n "$runs" ] && result="$result, $runs inputs run ($rate/s), corpus $kept inputs"
      fi ;;
    slurm)
      dir=$root/build
      if ! SEEKMARK_TARGETS=seekprobe bash "$here/scripts/build.sh" "$dir" -DSEEKMARK_TESTS=ON; then
        result="FAILED (build)"
      else
        build_seconds=$((SECONDS - started))
        echo "== $kind: tests =="
        log=$dir/slurm-test.log
        bash "$here/tests/scripts/slurm_test.sh" "$here" "$dir/bin/seekprobe" "$dir/slurm-test" 2>&1 | tee "$log"
        [ "${PIPESTATUS[0]}" -eq 0 ] || result="FAILED (tests)"
        tests_run="1 tests"
        ctest_lines+=("$kind:" "$(tail -1 "$log")")
      fi ;;
    *)
      echo "unknown stage $kind"; exit 2 ;;
  esac
  total=$((SECONDS - started))
  case $result in passed*) ;; *) status=1 ;; esac
  [ -n "$tests_run" ] && result="$result, $tests_run"
  if [ -n "$build_seconds" ]; then
    summary+=("$(printf '%-7s %5d s (build %d s, run %d s)  %s' "$kind" "$total" "$build_seconds" "$((total - build_seconds))" "$result")")
  else
    summary+=("$(printf '%-7s %5d s  %s' "$kind" "$total" "$result")")
  fi
done

echo
echo "== stages =="
printf '%s\n' "${summary[@]}"
echo
echo "== ctest =="
printf '%s\n' "${ctest_lines[@]}"
exit $status
