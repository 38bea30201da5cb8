#!/usr/bin/env bash
# The passes of `make test`, each run whether or not an earlier one failed:
#   native    the native suite (ctest on BUILD_DIR)
#   windows   the Windows module: its build, its file checks, its run under
#             Wine (scripts/windows.sh)
#   asan      every test under AddressSanitizer + UndefinedBehaviorSanitizer
#   tsan      the threaded tests under ThreadSanitizer (scripts/sanitize.sh)
#   fuzz      every fuzz target for FUZZ_SECONDS each (scripts/fuzz.sh)
# Each pass's output goes to the terminal and to BUILD_DIR/test-logs/PASS.log.
# At the end, one line per pass: passed, "passed what ran" and the parts it
# could not run with their causes, or FAILED; its time. The exit status is 1 if
# any pass failed.
#   scripts/test.sh BUILD_DIR [PASS...]   (default: every pass, in that order)
set -u
build=${1:-build}
[ $# -gt 0 ] && shift
cd "$(dirname "$0")/.." || exit 1
JOBS=${JOBS:-2}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}
export JOBS

passes=("$@")
[ ${#passes[@]} -eq 0 ] && passes=(native windows asan tsan fuzz)
logs=$build/test-logs
mkdir -p "$logs" || exit 1

describe() {
  case "$1" in
    native) echo "native suite" ;;
    windows) echo "Windows checks" ;;
    asan) echo "AddressSanitizer + UBSan" ;;
    tsan) echo "ThreadSanitizer" ;;
    fuzz) echo "fuzz targets" ;;
    *) return 1 ;;
  esac
}

runPass() {
  case "$1" in
    native) ctest --test-dir "$build" --output-on-failure --no-tests=error -j "$JOBS" ;;
    windows) scripts/windows.sh test "$build" ;;
    asan | tsan) scripts/sanitize.sh "$build" "$1" ;;
    fuzz) scripts/fuzz.sh "$FUZZ_SECONDS" ;;
  esac
}

# What a pass left out, from its log: each part it could not run ("=== PART
# SKIPPED: CAUSE ===" becomes "PART not run (CAUSE)"), and the tests ctest
# skipped.
skips() {
  local log=$1 note tests
  note=$(sed -n 's/^=== \(.*\) SKIPPED: \(.*\) ===[[:space:]]*$/\1 not run (\2)/p' "$log" | paste -sd ';' | sed 's/;/; /g')
  tests=$(sed -n 's/^[[:space:]]*[0-9][0-9]* - \(.*\) (Skipped)$/\1/p' "$log" | paste -sd ',' | sed 's/,/, /g')
  echo "${note}${note:+${tests:+; }}${tests:+skipped: $tests}"
}

for pass in "${passes[@]}"; do
  describe "$pass" >/dev/null || {
    echo "scripts/test.sh: no pass named $pass (native, windows, asan, tsan, fuzz)" >&2
    exit 2
  }
done

summary=()
failed=0
loadBefore=$(cut -d' ' -f1-3 /proc/loadavg)
for pass in "${passes[@]}"; do
  log=$logs/$pass.log
  echo "======== $(describe "$pass") ($log)"
  start=$(date +%s)
  runPass "$pass" 2>&1 | tee "$log"
  status=${PIPESTATUS[0]}
  took=$(($(date +%s) - start))
  verdict="passed"
  note=$(skips "$log")
  # A pass that left parts out passed only in what it ran.
  [ -n "$note" ] && verdict="passed what ran"
  if [ "$status" -ne 0 ]; then
    verdict="FAILED (exit status $status)"
    failed=1
  fi
  summary+=("$(printf '%-26s %s in %d min %02d s%s' "$(describe "$pass"):" "$verdict" $((took / 60)) $((took % 60)) \
    "${note:+; $note}")")
done

echo "======== make test: one line per pass (logs in $logs; load average $loadBefore before," \
  "$(cut -d' ' -f1-3 /proc/loadavg) after, on $(nproc) cores)"
printf '%s\n' "${summary[@]}"
exit $failed
