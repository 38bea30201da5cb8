#!/usr/bin/env bash
# make bench: every benchmark program of the build, then the command-line
# comparison script. Figures are ratios within one run; see bench/README.md.
set -euo pipefail
build=${1:-build}
cd "$(dirname "$0")/.."
echo "== $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores"
for b in "$build"/bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" --benchmark_counters_tabular=true
done
for step in "cli_bench:command line" "chroma_bench:colour formats" "plan_bench:plan analysis" \
  "plan_classes:plan footage classes" "plan_seeds:plan footage over seeds" "review_bench:plan review" \
  "vapoursynth_bench:VapourSynth plugin" "source_bench:FFMS2 source reader"; do
  script=bench/${step%%:*}.sh
  [ -x "$script" ] || continue
  echo "== ${step#*:}"
  "$script" "$build"
done
