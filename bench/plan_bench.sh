#!/usr/bin/env bash
# Side-by-side figures for `zemivtc plan`, one run, one input file: the plan
# tests' footage (telecined film with a still and a low-contrast scene, cuts
# at odd field offsets, interlaced video, progressive frames; see
# tests/footage.h) made at 1920x1080, in the page cache.
#   speed:   `zemivtc plan` beside ffmpeg's `fieldmatch,decimate` (its
#            default threads) and `cat`, run alternately, every repetition
#            kept;
#   quality: output frames of each tool that equal a film frame byte for
#            byte, each film frame counted once, against the recoverable ones
#            (both fields side by side somewhere in the footage).
# Prints the "## Plan analysis" section of bench/README.md and puts it there.
# Usage: bench/plan_bench.sh [BUILD_DIR] (default build).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
startFootageBench plan_bench "${1:-}"
requireCommands bc
repeats=${ZEMIVTC_BENCH_REPEATS:-5}
size=${ZEMIVTC_PLAN_BENCH_SIZE:-1920x1080}

loadBefore=$(loadAverage)
echo "plan_bench: making the footage at $size" >&2
"$footage" make "$work" "${size%x*}" "${size#*x}" >"$work/made.txt"
frames=$(awk '{ print $2 }' "$work/made.txt")
recoverable=$(awk '{ print $4 }' "$work/made.txt")
in=$work/footage.y4m
cat "$in" >/dev/null

echo "plan_bench: speed, $repeats alternating repetitions" >&2
runCat="cat $in"
runPlan="$zemivtc plan -q --out /dev/null $in"
runFf="ffmpeg -v error -i $in -vf fieldmatch,decimate -f null -"
tCat="" tPlan="" tFf=""
for _ in $(seq "$repeats"); do
  tCat="$tCat $(fmt "$(seconds "$runCat")")"
  tPlan="$tPlan $(fmt "$(seconds "$runPlan")")"
  tFf="$tFf $(fmt "$(seconds "$runFf")")"
done
mCat=$(echo "$tCat" | median)
mPlan=$(echo "$tPlan" | median)
mFf=$(echo "$tFf" | median)
fps() { printf '%.0f' "$(echo "$frames / $1" | bc -l)"; }
ratio() { printf '%.1f' "$(echo "$1 / $2" | bc -l)"; }

echo "plan_bench: quality" >&2
"$zemivtc" plan --out "$work/plan" "$in" 2>"$work/report.txt"
"$zemivtc" -q --plan "$work/plan" "$in" - | "$footage" score "$work" - >"$work/ours.txt"
ffmpeg -v error -i "$in" -vf fieldmatch,decimate -f yuv4mpegpipe - | "$footage" score "$work" - >"$work/theirs.txt"
field() { awk -v k="$2" '{ for (i = 1; i < NF; i += 2) if ($i == k) print $(i + 1) }' "$1"; }
loadAfter=$(loadAverage)
cpu=$(cpuName)

row() {  # tool file
  printf '| %s | %s | **%s** | %s | %s | %s |\n' "$1" "$(field "$2" frames)" "$(field "$2" exact)" \
    "$(field "$2" repeated)" "$(field "$2" progressive)" "$(field "$2" other)"
}

section=$(
  cat <<EOF
## Plan analysis

\`bench/plan_bench.sh [BUILD_DIR]\` makes the plan tests' footage at $size
(\`build/plan_footage\`, tests/footage.h: $frames frames of telecined film with
a still and a low-contrast scene, cuts at odd field offsets, interlaced video
and progressive frames; $recoverable film frames are recoverable) and runs
\`zemivtc plan\` beside ffmpeg's \`fieldmatch,decimate\` (default threads) on it,
file in the page cache, $repeats repetitions alternating with \`cat\` of the file.
Machine: $cpu, $(nproc) cores; load average $loadBefore before the run and
$loadAfter after it (other work shared the machine, so read wall times as
upper bounds).

| Run | Wall time, median | Frames/s | Repetitions (s) |
|---|---|---|---|
| \`cat\` of the input | $(fmt "$mCat") s | $(fps "$mCat") |$tCat |
| \`zemivtc plan\` | $(fmt "$mPlan") s | $(fps "$mPlan") |$tPlan |
| ffmpeg \`fieldmatch,decimate\` | $(fmt "$mFf") s | $(fps "$mFf") |$tFf |

\`zemivtc plan\` analyses **$(ratio "$mFf" "$mPlan") ×** the frames per second of
\`fieldmatch,decimate\` (target: at least 3 ×) and takes $(ratio "$mPlan" "$mCat") × the time of \`cat\`.
It reads only the luma of each frame once, in bands on all cores.

Quality: the output of each tool (the plan rendered by \`zemivtc\`; ffmpeg's
filter output) against the film frames. Exact: output frames equal byte for
byte to a recoverable film frame, each film frame counted once; repeated:
further copies of one; progressive: the progressive frames; other: rebuilt
fields, weaves that are no film frame, and blends.

| Tool | Output frames | Exact film frames (of $recoverable) | Repeated | Progressive | Other |
|---|---|---|---|---|---|
$(row "\`zemivtc plan\` + render" "$work/ours.txt")
$(row "ffmpeg \`fieldmatch,decimate\`" "$work/theirs.txt")

The proposed plan: $(sed -n 1p "$work/report.txt" | sed 's/^zemivtc plan: //'); $(grep 'cadence breaks' "$work/report.txt" | sed 's/^ *//').
EOF
)

# Replace the section in bench/README.md (or append it), leaving the others.
printf '%s\n' "$section" >"$work/section.md"
"$here/readme_section.sh" "$work/section.md"
printf '%s\n' "$section"
