#!/usr/bin/env bash
# The render in each colour format, all from one run on the same frames:
# 1080p testsrc2 as 4:2:2 Y4M and as 4:2:0 Y4M (both in the page cache),
# rendered to /dev/null with three plans:
#   weave  '1001': half the output frames woven, half passed through;
#   pass   '10': every frame passed through unchanged;
#   bob    '2' on every position: two rebuilt frames per input frame.
# Variants: 4:2:2 in and out, 4:2:0 in and out (top field first, and bottom
# field first: the same file read with --field-order bff), and 4:2:0 in,
# 4:2:2 out. With ZEMIVTC_BENCH_BASE=DIR, a build of the command from before
# 4:2:0 was read also renders the 4:2:2 file ("4:2:2 before"). The runs
# rotate, one of each per repetition, so a change in the machine's load falls
# on all alike. Medians make the table; every repetition's times go to
# bench/chroma_bench.csv. Prints the table for bench/README.md.
# Usage: bench/chroma_bench.sh [BUILD_DIR].
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
zemivtc=$build/zemivtc
base=${ZEMIVTC_BENCH_BASE:-}
frames=${ZEMIVTC_BENCH_FRAMES:-120}
repeats=${ZEMIVTC_BENCH_REPEATS:-5}
csv=$here/chroma_bench.csv
work=$(mktemp -d "${TMPDIR:-/tmp}/zemivtc-chroma-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
benchName=chroma_bench
source "$here/common.sh"

requireCommands ffmpeg
requireBuilt "$zemivtc"

echo "chroma_bench: making $frames frames of 1920x1080, 4:2:2 and 4:2:0" >&2
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001" -frames:v "$frames" -pix_fmt yuv422p \
  -f yuv4mpegpipe "$work/in422.y4m"
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001" -frames:v "$frames" -pix_fmt yuv420p \
  -f yuv4mpegpipe "$work/in420.y4m"
for p in weave:1001 pass:10 bob:2; do plan "${p#*:}" $((2 * frames - 1)) "$work/${p%%:*}.plan"; done

variants=()
[ -n "$base" ] && variants+=("4:2:2 before|$base/zemivtc -q|in422")
variants+=("4:2:2|$zemivtc -q|in422" "4:2:0|$zemivtc -q|in420" "4:2:0 bff|$zemivtc -q --field-order bff|in420"
  "4:2:0 to 4:2:2|$zemivtc -q --chroma-out 422|in420")
runs=()
for p in weave pass bob; do
  for v in "${variants[@]}"; do
    IFS='|' read -r name cmd input <<<"$v"
    runs+=("$p $name|$cmd --plan $work/$p.plan $work/$input.y4m /dev/null")
  done
done

# Warm-up: the page cache and the programs; output frames counted once.
declare -A outFrames
for r in "${runs[@]}"; do
  IFS='|' read -r name cmd <<<"$r"
  outFrames[$name]=$(eval "$cmd --info" | awk '/^frames:/ { print $2 }')
  eval "$cmd"
done

cpu=$(cpuName)
loadBefore=$(loadAverage)
echo "chroma_bench: $repeats rotations, load average $loadBefore" >&2
timeRotations "${runs[@]}"
loadAfter=$(loadAverage)

echo
echo "Machine: $cpu, $(nproc) cores; load average $loadBefore before the runs, $loadAfter after;"
echo "$frames frames of 1920x1080, $repeats rotations, medians (each repetition in chroma_bench.csv)."
echo "Speed: the 4:2:2 render's median time over this run's (above 1: faster than 4:2:2), by wall"
echo "time and by processor time (user + system, which a loaded machine disturbs less)."
echo
echo "| Plan | Variant | Wall (s, median) | Output frames/s | Speed (wall) | CPU (s, median) | Speed (CPU) |"
echo "|---|---|---|---|---|---|---|"
for p in weave pass bob; do
  wallReference=$(csvMedian "$p 4:2:2" wall)
  cpuReference=$(csvMedian "$p 4:2:2" cpu)
  for v in "${variants[@]}"; do
    IFS='|' read -r name _ _ <<<"$v"
    awk -v p="$p" -v n="$name" -v t="$(csvMedian "$p $name" wall)" -v c="$(csvMedian "$p $name" cpu)" \
      -v f="${outFrames[$p $name]}" -v rt="$wallReference" -v rc="$cpuReference" \
      'BEGIN { printf "| %s | %s | %.3f | %.0f | %.2f | %.3f | %.2f |\n", p, n, t, f / t, rt / t, c, rc / c }'
  done
done
echo
echo "Every repetition ($csv):"
column -t -s, "$csv"
