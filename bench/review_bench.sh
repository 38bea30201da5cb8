#!/usr/bin/env bash
# What --timeline and --review add to `zemivtc plan`, one run:
#   - end to end on the plan tests' footage made at 1920x1080 (216 frames, in
#     the page cache): `zemivtc plan` alone and with --timeline --review, run
#     alternately, every repetition kept;
#   - for a two-hour 1080p 29.97i clip, from bench_review in the same run:
#     the analysis of one frame (times 215,784 frames), the cadence search
#     with its margins and the timeline of 431,567 positions, and one review
#     place; the growth is their sum over the analysis, for a given number
#     of places.
# Prints the "## Plan review" section of bench/README.md and puts it there.
# Usage: bench/review_bench.sh [BUILD_DIR] (default build).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
startFootageBench review_bench "${1:-}"
bench=$build/bench_review
requireCommands bc
requireBuilt "$bench"
repeats=${ZEMIVTC_BENCH_REPEATS:-5}

loadBefore=$(loadAverage)
echo "review_bench: making the footage at 1920x1080" >&2
"$footage" make "$work" 1920 1080 >/dev/null
in=$work/footage.y4m
cat "$in" >/dev/null

echo "review_bench: end to end, $repeats alternating repetitions" >&2
runPlain="$zemivtc plan -q --out /dev/null $in"
runReview="rm -rf $work/review && $zemivtc plan -q --out /dev/null --timeline $work/t.png --review $work/review $in"
tPlain="" tReview=""
for _ in $(seq "$repeats"); do
  tPlain="$tPlain $(fmt "$(seconds "$runPlain")")"
  tReview="$tReview $(fmt "$(seconds "$runReview")")"
done
mPlain=$(echo "$tPlain" | median)
mReview=$(echo "$tReview" | median)
places=$(grep -c '<section class="place"' "$work/review/index.html")
reviewBytes=$(du -sb "$work/review" | cut -f1)

echo "review_bench: bench_review" >&2
"$bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true --benchmark_format=csv \
  2>/dev/null >"$work/bench.csv"
# The median real time (ms) of a benchmark, and one of its counters.
ms() { awk -F, -v n="\"$1_median\"" '$1 == n { printf "%.3f\n", $3 }' "$work/bench.csv"; }
counter() {
  awk -F, -v n="\"$1_median\"" -v c="$2" \
    'NR == 1 { for (i = 1; i <= NF; ++i) { gsub(/"/, "", $i); if ($i == c) k = i } } $1 == n { printf "%.0f\n", $k }' "$work/bench.csv"
}
frameMs=$(ms "BM_AnalyseFrame1080/real_time")
placeMs=$(ms "BM_ReviewPlace1080")
searchMs=$(ms "BM_ProposePlanTwoHours/iterations:3")
timelineMs=$(ms "BM_TimelineTwoHours/iterations:3")
timelineBytes=$(counter "BM_TimelineTwoHours/iterations:3" png_bytes)
placeBytes=$(counter "BM_ReviewPlace1080" png_bytes)
frames=215784
analysisS=$(echo "$frames * $frameMs / 1000" | bc -l)
growth() { printf '%.2f' "$(echo "100 * ($searchMs + $timelineMs + $1 * $placeMs) / 1000 / $analysisS" | bc -l)"; }
placesAt5=$(printf '%.0f' "$(echo "(0.05 * $analysisS * 1000 - $searchMs - $timelineMs) / $placeMs" | bc -l)")
loadAfter=$(loadAverage)
cpu=$(cpuName)

{
  echo "## Plan review"
  echo
  echo "\`bench/review_bench.sh [BUILD_DIR]\`: what \`--timeline\` and \`--review\` add to \`zemivtc plan\`."
  echo "Machine: $cpu, $(nproc) cores; load average $loadBefore before the run and $loadAfter after it"
  echo "(other work shared the machine, so read wall times as upper bounds)."
  echo
  echo "End to end on the plan tests' footage at 1920x1080 (216 frames, 7 s, in the page cache),"
  echo "$repeats repetitions, alternating:"
  echo
  echo "| Run | Wall time, median | Repetitions (s) |"
  echo "|---|---|---|"
  echo "| \`zemivtc plan\` | $(fmt "$mPlain") s |$tPlain |"
  echo "| \`zemivtc plan --timeline --review\` | $(fmt "$mReview") s |$tReview |"
  echo
  echo "On a clip this short the review's own work dominates: $places places ($reviewBytes bytes of page"
  echo "and pictures) against 216 frames of analysis."
  echo
  echo "A two-hour 1080p 29.97i clip (215,784 frames, 431,567 positions), from \`bench_review\` in the"
  echo "same run (medians of 3 repetitions; synthetic frames and measures: a gradient with noise, 3:2"
  echo "film with a cut every 2.5 minutes):"
  echo
  echo "| Part | Time |"
  echo "|---|---|"
  echo "| analysis of one 1080p frame (field measures, all cores) | $frameMs ms: $(printf '%.0f' "$analysisS") s for two hours |"
  echo "| cadence search of two hours, margins included | $searchMs ms |"
  echo "| timeline of two hours | $timelineMs ms; $timelineBytes bytes (target: under 2 MB) |"
  echo "| one review place: six pictures and their PNG files ($placeBytes bytes), one thread | $placeMs ms |"
  echo
  echo "So the two-hour analysis grows by $(growth 0) % for the timeline and the margins (the whole"
  echo "search counted, not only its margins), by $(growth 100) % with a review of 100 places and by"
  echo "$(growth 500) % with 500: the 5 % target holds up to $placesAt5 places, counted on one thread (the"
  echo "command makes a review's pictures on all cores). A review lists the cadence breaks, the weaves"
  echo "against their pairings and the decisions won by a margin under 8, at most 2 % of the"
  echo "positions and 500 places in all, so a"
  echo "two-hour review grows the analysis by $(growth 500) % at most. Clean film has few places (the footage"
  echo "above: $places in 431 positions, five of them its edits)."
} >"$work/section.md"

"$here/readme_section.sh" "$work/section.md"
cat "$work/section.md"
