#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) into build-fuzz/ and runs each one for a
# bounded time. Any crash, sanitizer report, model mismatch, timeout or
# memory blow-up fails the run; the input that caused it is left in
# build-fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]
#
# New inputs go to build-fuzz/corpus/<target>/; the seeds in
# fuzz/corpus/<target>/ are read but never written. An input counts as hung
# after 60 s: its filter's worker threads share two cores with everything
# else on a loaded CI machine, where a unit of milliseconds can take seconds.
set -eu
cd "$(dirname "$0")/.."
BUILD=${FUZZ_BUILD:-build-fuzz}
JOBS=${JOBS:-2}
SECONDS_EACH=${1:-20}
[ $# -gt 0 ] && shift
TARGETS=${*:-plan_fuzz y4m_reader_fuzz raw_reader_fuzz analysis_fuzz editor_request_fuzz}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DZEMIVTC_FUZZ=ON \
    -DZEMIVTC_SANITIZE=address,undefined -DZEMIVTC_TESTS=OFF -DZEMIVTC_BENCH=OFF >/dev/null
fi
# shellcheck disable=SC2086
cmake --build "$BUILD" -j "$JOBS" --target $TARGETS

mkdir -p "$BUILD/findings"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:symbolize=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for target in $TARGETS; do
  mkdir -p "$BUILD/corpus/$target"
  echo "== $target: $SECONDS_EACH s"
  if ! "$BUILD/$target" -max_total_time="$SECONDS_EACH" -timeout=60 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$BUILD/findings/$target-" \
    "$BUILD/corpus/$target" "fuzz/corpus/$target" >"$BUILD/$target.log" 2>&1; then
    echo "$target FAILED; log: $BUILD/$target.log"
    tail -n 40 "$BUILD/$target.log"
    status=1
  fi
  grep -E '^stat::(number_of_executed_units|peak_rss_mb|new_units_added)' "$BUILD/$target.log" || true
done
exit $status
