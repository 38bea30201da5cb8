#!/usr/bin/env bash
# Frames per second of the VapourSynth plugin against the command, on the
# same frames, in one run: 720x480 4:2:0 interlaced Y4M (ffmpeg testsrc2, a
# DVD's shape) in memory for the plugin and in the page cache for the
# command, output to /dev/null. The plugin runs in the tests' stand-in core
# (bench/vapoursynth_driver.cpp) on as many threads as the machine has
# cores, as a core's thread pool runs an fmParallel filter, and its frames
# are written in order as vspipe writes them; the command runs its own
# worker pool. Three plans: every frame passed through ('10': the plugin
# hands out the source frame, the command writes the input's bytes; what is
# left is each side's own cost per frame), 3:2 film (four frames of ten
# positions, half of them woven) and a full-rate bob ('2' everywhere: a
# field rebuild per frame). The runs rotate; medians make the table, every repetition is kept
# in bench/vapoursynth_bench.csv. Usage: bench/vapoursynth_bench.sh [BUILD_DIR].
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
frames=${ZEMIVTC_BENCH_FRAMES:-600}
repeats=${ZEMIVTC_BENCH_REPEATS:-5}
csv=$here/vapoursynth_bench.csv
work=$(mktemp -d "${TMPDIR:-/tmp}/zemivtc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
benchName=vapoursynth_bench
source "$here/common.sh"

requireCommands ffmpeg bc
requireBuilt "$build/zemivtc" "$build/vapoursynth_driver"
core=$build/libvapoursynth_standin_core.so
plugin=$build/zemivtc_vs.so
in=$work/in.y4m
ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -frames:v "$frames" -pix_fmt yuv420p \
  -vf setfield=tff -f yuv4mpegpipe "$in"
plan 1001010010 $((2 * frames - 2)) "$work/film.plan"
plan 2 $((2 * frames - 1)) "$work/bob.plan"
plan 10 $((2 * frames)) "$work/pass.plan"
cores=$(nproc)

declare -A outFrames
runs=()
for p in pass film bob; do
  outFrames["command $p"]=$("$build/zemivtc" --plan "$work/$p.plan" --info "$in" - | awk '/^frames:/ { print $2 }')
  outFrames["plugin $p"]=${outFrames["command $p"]}
  runs+=("command $p|$build/zemivtc -q --plan $work/$p.plan $in /dev/null"
    "plugin $p|$build/vapoursynth_driver $core $plugin $in $work/$p.plan $cores >/dev/null")
done
for r in "${runs[@]}"; do eval "${r#*|}" >/dev/null; done # warm-up; stops on a failure

loadBefore=$(loadAverage)
timeRotations "${runs[@]}"
loadAfter=$(loadAverage)

echo "Machine: $(cpuName), $cores cores; load average $loadBefore before the runs, $loadAfter after;"
echo "$frames frames of 720x480 4:2:0 tff, $repeats rotations, medians (each repetition in vapoursynth_bench.csv)."
echo
echo "| Plan | Output frames | Command (s) | Plugin (s) | Command frames/s | Plugin frames/s | Plugin / command |"
echo "|---|---|---|---|---|---|---|"
for p in pass film bob; do
  c=$(csvMedian "command $p")
  v=$(csvMedian "plugin $p")
  n=${outFrames["command $p"]}
  awk -v p="$p" -v n="$n" -v c="$c" -v v="$v" \
    'BEGIN { printf "| %s | %d | %.3f | %.3f | %.0f | %.0f | %.2f |\n", p, n, c, v, n / c, n / v, c / v }'
done
echo
echo "Every repetition ($csv):"
column -t -s, "$csv"
