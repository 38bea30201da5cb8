#!/bin/sh
# The sanitizer passes of `make test`:
#   1. every test under AddressSanitizer + UndefinedBehaviorSanitizer, with
#      LeakSanitizer on (build-asan/);
#   2. the threaded tests (worker pool, the stages on planes, frames through
#      the module, stress, the command's render and conversion bands, the plan
#      analysis, the VapourSynth plugin's frames) under ThreadSanitizer
#      (build-tsan/), and the C-interface module in its stand-in host (and a
#      build of it answering NICE_FILTER, which must draw a report).
# Any report fails the run. Where LeakSanitizer cannot run (it needs ptrace
# of the process), the lifecycle stress runs under valgrind instead, on the
# normal build in $1 (default build/). `asan` or `tsan` runs one of the two.
#
#   scripts/sanitize.sh [NORMAL_BUILD_DIR] [asan|tsan|all]
set -eu
cd "$(dirname "$0")/.."
NORMAL_BUILD=${1:-build}
PART=${2:-all}
case "$PART" in
  asan | tsan | all) ;;
  *) echo "usage: scripts/sanitize.sh [NORMAL_BUILD_DIR] [asan|tsan|all]" >&2; exit 2 ;;
esac
JOBS=${JOBS:-2}
ASAN_BUILD=${ASAN_BUILD:-build-asan}
TSAN_BUILD=${TSAN_BUILD:-build-tsan}

# Configures every time: test files added since the last run are found.
configure() {
  dir=$1
  shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZEMIVTC_BENCH=OFF "$@" >/dev/null
}

# A distinct exit status for sanitizer reports, so that tests which run the
# command and expect status 1 or 2 notice a report in the child too.
export ASAN_OPTIONS=detect_leaks=1:exitcode=86:abort_on_error=0:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87
export TSAN_OPTIONS=halt_on_error=1:exitcode=88:second_deadlock_stack=1

asanPass() {
  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: build ($ASAN_BUILD)"
  configure "$ASAN_BUILD" -DZEMIVTC_SANITIZE=address,undefined
  cmake --build "$ASAN_BUILD" -j "$JOBS"

  # LeakSanitizer must be able to report here, or a clean run proves nothing.
  probe="$ASAN_BUILD/lsan_probe"
  printf '#include <cstdlib>\nint main() { void* volatile p = std::malloc(77); p = nullptr; return 0; }\n' |
    c++ -fsanitize=address -x c++ - -o "$probe"
  if ASAN_OPTIONS=detect_leaks=1:exitcode=86 "$probe" 2>/dev/null; then
    lsan=no
    echo "LeakSanitizer does not work in this environment; leaks are checked with valgrind below"
  else
    lsan=yes
  fi

  echo "== AddressSanitizer + UndefinedBehaviorSanitizer: every test"
  # Peak memory under AddressSanitizer includes its quarantine of freed blocks,
  # so the test that measures the command's memory is left to the normal run;
  # so are the plan's footage classes, minutes of picture drawing and ffmpeg
  # runs around the analysis that the other plan tests and the analysis fuzzer
  # take through the sanitizers already, and so is the check that the footage's
  # bytes do not depend on the processor, which makes it twice.
  ctest --test-dir "$ASAN_BUILD" --output-on-failure -j "$JOBS" \
    -E 'PipeMemoryStaysFlat|Footage/PlanClass|footage_bytes_without_processor_extensions'

  if [ "$lsan" = no ]; then
    echo "== valgrind: filter lifetimes leave no heap byte"
    if ! command -v valgrind >/dev/null; then
      echo "valgrind is not installed and LeakSanitizer cannot run: no leak check possible" >&2
      exit 1
    fi
    ZEMIVTC_STRESS_CYCLES=20 valgrind -q --leak-check=full --errors-for-leak-kinds=definite,indirect \
      --error-exitcode=1 "$NORMAL_BUILD/stress_test" --gtest_filter='StressLifecycle*'
  fi
}

tsanPass() {
  echo "== ThreadSanitizer: build ($TSAN_BUILD)"
  configure "$TSAN_BUILD" -DZEMIVTC_SANITIZE=thread
  cmake --build "$TSAN_BUILD" -j "$JOBS" --target workers_test compose_test plugin_test stress_test cli_test \
    analysis_test vapoursynth_client vapoursynth_standin_core avs_c_client zemivtc_c_nice editor_test
  echo "== ThreadSanitizer: worker pool, frames, stress, the command's conversion and analysis threads, the plugins' frames"
  "$TSAN_BUILD/workers_test" --gtest_brief=1
  "$TSAN_BUILD/compose_test" --gtest_brief=1
  "$TSAN_BUILD/plugin_test" --gtest_brief=1 --gtest_filter='Frames.*:Creation.*'
  "$TSAN_BUILD/cli_test" --gtest_brief=1 --gtest_filter='CliFastPath.*:*/CliFastPathFormats.*:CliRowBands.*:CliAgainstModule.*'
  "$TSAN_BUILD/analysis_test" --gtest_brief=1 --gtest_filter='PlanFootage.*'
  # The plan editor's server: its threads answering requests over one session.
  "$TSAN_BUILD/editor_test" --gtest_brief=1 --gtest_filter='EditorServer.*'
  # The VapourSynth plugin's frames on three threads at once in the stand-in core.
  "$TSAN_BUILD/vapoursynth_client" "$TSAN_BUILD/libvapoursynth_standin_core.so" --gtest_brief=1
  # The C-interface module on two threads in the stand-in of AviSynth+; by absolute paths, so that a report
  # names the modules' functions (the client changes directory before it runs frames).
  tsan=$(cd "$TSAN_BUILD" && pwd)
  "$tsan/avs_c_client" "$tsan/libavs_c_standin_plus.so" "$tsan/zemivtc_c.so" "$tsan/avs-c-plus-local"
  # Built to answer NICE_FILTER with its scratch frame per instance, the module is served one instance on
  # both threads at once, and must draw the report of a race on that scratch frame (the block allocated
  # where zem_filter.cpp allocates it, met in the stages) whatever the timing: nothing orders the requests.
  scratch=$(grep -n -m1 'z->scratch = ' avisynth_c/zem_filter.cpp | cut -d: -f1)
  status=0
  "$tsan/avs_c_client" "$tsan/libavs_c_standin_plus.so" "$tsan/mutants/libzemivtc_c_nice.so" "$tsan/avs-c-nice" \
    >/dev/null 2>"$tsan/avs-c-nice.log" || status=$?
  if [ "$status" != 88 ] || ! grep -A2 'Location is heap block' "$tsan/avs-c-nice.log" | grep -q "zem_filter.cpp:$scratch " ||
    [ "$(grep -c ' \(WeavePlanes\|FinishPlanes\)(' "$tsan/avs-c-nice.log")" -lt 2 ]; then
    cat "$tsan/avs-c-nice.log" >&2
    echo "ThreadSanitizer reported no race on the scratch frame of the module answering NICE_FILTER (status $status)" >&2
    exit 1
  fi
  # A thread start costs far more under ThreadSanitizer: fewer lifetimes.
  ZEMIVTC_STRESS_CYCLES=100 "$TSAN_BUILD/stress_test" --gtest_brief=1
}

# (Called from the body of an `if`, not from a `||` list, in which set -e would
# not stop them at a failure.)
if [ "$PART" != tsan ]; then asanPass; fi
if [ "$PART" != asan ]; then tsanPass; fi
echo "sanitizer passes ($PART): clean"
