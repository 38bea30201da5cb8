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
if [ -x bench/cli_bench.sh ]; then
  echo "== command line"
  bench/cli_bench.sh "$build"
fi
if [ -x bench/chroma_bench.sh ]; then
  echo "== colour formats"
  bench/chroma_bench.sh "$build"
fi
if [ -x bench/plan_bench.sh ]; then
  echo "== plan analysis"
  bench/plan_bench.sh "$build"
fi
if [ -x bench/plan_classes.sh ]; then
  echo "== plan footage classes"
  bench/plan_classes.sh "$build"
fi
if [ -x bench/review_bench.sh ]; then
  echo "== plan review"
  bench/review_bench.sh "$build"
fi
