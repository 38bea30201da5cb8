#!/usr/bin/env bash
# Side-by-side figures for the zemivtc command, all from one run on one input
# file (1080p 4:2:2 Y4M whose header says Ip, in the page cache, output to
# /dev/null). Each zemivtc render runs twice: as users run it, without
# --field-order (the command then decides whether the plan needs the order
# and measures it from the start of the file where it does), and with
# --field-order tff (nothing measured):
#   cat      the file to /dev/null: one copy of the input, the floor;
#   pass     zemivtc with '10' repeated: every frame passed through unchanged;
#   weave    zemivtc with a plan of '1' codes, half of them woven ('1001'),
#            beside ffmpeg's separatefields,trim=start_frame=1,weave=first_field=bottom;
#            and the same plan on interlaced footage (testsrc2 at 60 fields
#            a second through ffmpeg's interlace, its header set to Ip), whose
#            start the measuring reads until an order leads; and on a still
#            grey picture, where no order ever leads and the measuring reads
#            every frame up to its limit (the worst case);
#   piped    the weave into a pipe that cat drains, as an encoder would read
#            it, beside cat into cat: to /dev/null the weave, written from the
#            input's pages, touches no pixel at all;
#   bob      zemivtc with '2' on every position (two frames per input frame),
#            beside ffmpeg's separatefields + lanczos scale and bwdif=mode=1;
#   film     zemivtc with '1010010010' repeated: the 3:2 film plan, frames
#            passed through and weaves of two source frames as they are;
#   4:2:0    the bob and the film plan on the same pictures as 4:2:0;
#   memory   peak resident size of a 720x480 pipe run, 100 vs 3000 frames.
# With ZEMIVTC_BENCH_PREVIOUS=DIR (a build folder of an earlier commit, its
# zemivtc beside the files it needs), every zemivtc run also runs with that
# build's zemivtc, next to this build's in each rotation, and a table gives
# the ratio of the two (the earlier build's time over this one's: 1 or more
# is at least as fast).
# The runs rotate: every repetition runs each command once, in turn, so that
# a change in the machine's load falls on all of them alike; wall times are
# taken to the microsecond. ffmpeg keeps its
# default threading (all cores, as zemivtc uses). Medians make the table and
# the chart; every repetition's times are kept in bench/cli_bench.csv.
# Prints the table for bench/README.md. Usage: bench/cli_bench.sh [BUILD_DIR].
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
zemivtc=$build/zemivtc
previous=${ZEMIVTC_BENCH_PREVIOUS:-}
frames=${ZEMIVTC_BENCH_FRAMES:-120} # 1080p frames; about 500 MB of Y4M
repeats=${ZEMIVTC_BENCH_REPEATS:-5}
csv=$here/cli_bench.csv
chart=$here/cli_bench.png
work=$(mktemp -d "${TMPDIR:-/tmp}/zemivtc-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
benchName=cli_bench
source "$here/common.sh"

requireCommands ffmpeg gnuplot /usr/bin/time awk
requireBuilt "$zemivtc"
[ -z "$previous" ] || requireBuilt "$previous/zemivtc"

echo "cli_bench: making $frames frames of 1920x1080 4:2:2" >&2
in=$work/in.y4m
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001" -frames:v "$frames" -pix_fmt yuv422p \
  -f yuv4mpegpipe "$in"
# Interlaced footage under an Ip header: the render must measure its order.
inI=$work/interlaced.y4m
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=60000/1001" -frames:v $((2 * frames)) \
  -vf interlace=scan=tff -pix_fmt yuv422p -f yuv4mpegpipe "$inI"
tag=$(head -1 "$inI" | grep -bo ' It ' | cut -d: -f1)
[ -n "$tag" ] || {
  echo "$benchName: ffmpeg's interlace wrote no It tag" >&2
  exit 1
}
printf p | dd of="$inI" bs=1 seek=$((tag + 2)) conv=notrunc status=none
in420=$work/in420.y4m
ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=30000/1001" -frames:v "$frames" -pix_fmt yuv420p \
  -f yuv4mpegpipe "$in420"
inS=$work/still.y4m
ffmpeg -v error -f lavfi -i "color=c=gray:size=1920x1080:rate=30000/1001" -frames:v "$frames" -pix_fmt yuv422p \
  -f yuv4mpegpipe "$inS"
# 2*frames-1 positions keep every weave inside the input.
plan 1001 $((2 * frames - 1)) "$work/weave.plan"
plan 10 $((2 * frames - 1)) "$work/pass.plan"
plan 2 $((2 * frames - 1)) "$work/bob.plan"
plan 1010010010 $((2 * frames - 1)) "$work/film.plan"

# A command's output through a pipe that cat drains.
piped() { "$@" | cat; }
# name|command|output frames ("" counts them in the warm-up)
z="$zemivtc -q --plan"
ff="ffmpeg -v error -i $in"
tff="--field-order tff"
runs=(
  "cat|cat $in|"
  "zemivtc pass-through|$z $work/pass.plan $in /dev/null|"
  "zemivtc pass-through tff|$z $work/pass.plan $tff $in /dev/null|"
  "zemivtc weave|$z $work/weave.plan $in /dev/null|"
  "zemivtc weave tff|$z $work/weave.plan $tff $in /dev/null|"
  "ffmpeg weave|$ff -vf separatefields,trim=start_frame=1,weave=first_field=bottom -f yuv4mpegpipe -y /dev/null|"
  "zemivtc weave interlaced|$z $work/weave.plan $inI /dev/null|"
  "zemivtc weave interlaced tff|$z $work/weave.plan $tff $inI /dev/null|"
  "zemivtc weave still|$z $work/weave.plan $inS /dev/null|"
  "zemivtc weave still tff|$z $work/weave.plan $tff $inS /dev/null|"
  "cat piped|piped cat $in|"
  "zemivtc weave piped|piped $z $work/weave.plan $in -|"
  "zemivtc weave piped tff|piped $z $work/weave.plan $tff $in -|"
  "zemivtc bob|$z $work/bob.plan $in /dev/null|"
  "zemivtc bob tff|$z $work/bob.plan $tff $in /dev/null|"
  "ffmpeg lanczos bob|$ff -vf separatefields,scale=w=iw:h=ih*2:flags=lanczos -f yuv4mpegpipe -y /dev/null|"
  "ffmpeg bwdif|$ff -vf bwdif=mode=1 -f yuv4mpegpipe -y /dev/null|"
  "zemivtc film|$z $work/film.plan $in /dev/null|"
  "zemivtc bob 4:2:0|$z $work/bob.plan $in420 /dev/null|"
  "zemivtc film 4:2:0|$z $work/film.plan $in420 /dev/null|"
)
leftRuns=13  # the chart's left panel: runs 0..12 (wall time); the right one the bobs (frames/s),
chartRuns=17 # runs 13..16
# Every zemivtc run again with the earlier build, right after this build's.
compared=()
if [ -n "$previous" ]; then
  withPrevious=()
  for r in "${runs[@]}"; do
    withPrevious+=("$r")
    IFS='|' read -r name cmd _ <<<"$r"
    [[ $name == zemivtc* ]] || continue
    compared+=("$name")
    withPrevious+=("previous $name|${cmd//$zemivtc/$previous/zemivtc}|")
  done
  runs=("${withPrevious[@]}")
fi

# Output frames of each run, counted once; this pass also warms the page
# cache and the programs.
declare -A outFrames orders
for r in "${runs[@]}"; do
  IFS='|' read -r name cmd _ <<<"$r"
  case $name in
    cat*) outFrames[$name]=$frames && eval "$cmd" >/dev/null ;;
    *piped*) outFrames[$name]=${outFrames[zemivtc weave]} && eval "$cmd" >/dev/null ;;
    zemivtc* | previous*) outFrames[$name]=$(eval "${cmd/ \/dev\/null/} --info" | awk '/^frames:/ { print $2 }') &&
      orders[$name]=$(eval "${cmd/ \/dev\/null/} --info" | sed -n 's/^field_order: //p') && eval "$cmd" ;;
    ffmpeg*) outFrames[$name]=$(eval "${cmd/-f yuv4mpegpipe -y \/dev\/null/-f framecrc -}" | grep -vc '^#') ;;
  esac
done

cpu=$(cpuName)
cores=$(nproc)
loadBefore=$(loadAverage)
# Every run once per rotation, as timeRotations (common.sh) runs them, but
# with the wall time from the clock to the microsecond (many runs take a few
# milliseconds) and, with an earlier build, every second rotation running
# each pair the other way round, so that neither build always goes first.
rotate() {
  local rep i r name cmd start wall user sys TIMEFORMAT='%3U %3S'
  echo "repetition,run,output_frames,wall_s,user_s,sys_s" >"$csv"
  for rep in $(seq "$repeats"); do
    local order=("${runs[@]}")
    if [ $((rep % 2)) = 0 ]; then
      for i in "${!order[@]}"; do
        [[ ${order[$i]} == previous* ]] || continue
        r=${order[$i]} && order[$i]=${order[$((i - 1))]} && order[$((i - 1))]=$r
      done
    fi
    for r in "${order[@]}"; do
      IFS='|' read -r name cmd _ <<<"$r"
      start=$EPOCHREALTIME
      { time eval "$cmd" >/dev/null 2>"$work/err"; } 2>"$work/time" || {
        cat "$work/err" >&2
        exit 1
      }
      wall=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.6f", b - a }')
      read -r user sys <"$work/time"
      echo "$rep,$name,${outFrames[$name]},$wall,$user,$sys" >>"$csv"
    done
  done
}
echo "cli_bench: $repeats rotations, load average $loadBefore" >&2
rotate
loadAfter=$(loadAverage)

echo "cli_bench: memory" >&2
rss() { # peak KiB of a zemivtc ($2, else this build's) fed n frames of 720x480 through a pipe
  plan 1010010010 $((2 * $1)) "$work/mem.plan"
  ffmpeg -v error -f lavfi -i "testsrc2=size=720x480:rate=30000/1001" -frames:v "$1" -pix_fmt yuv422p \
    -f yuv4mpegpipe - | /usr/bin/time -f %M -o "$work/rss" "${2:-$zemivtc}" -q --plan "$work/mem.plan" - /dev/null
  cat "$work/rss"
}
rss100=$(rss 100)
rss3000=$(rss 3000)
if [ -n "$previous" ]; then
  rssPrevious100=$(rss 100 "$previous/zemivtc")
  rssPrevious3000=$(rss 3000 "$previous/zemivtc")
fi

# Medians per run, then the figures.
declare -A med fps
for r in "${runs[@]}"; do
  IFS='|' read -r name _ _ <<<"$r"
  med[$name]=$(csvMedian "$name")
  fps[$name]=$(awk -v f="${outFrames[$name]}" -v t="${med[$name]}" 'BEGIN { printf "%.0f", f / t }')
done
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0) printf "n/a"; else printf "%.2f", a / b }'; }
verdict() { awk -v v="$1" -v op="$2" -v t="$3" 'BEGIN { ok = op == "<=" ? v <= t : v >= t; print ok ? "met" : "**missed**" }'; }
# Without --field-order against with it: the medians' ratio, and the range
# of the ratios within each rotation (the two runs of a pair are neighbours).
paired() {
  awk -F, -v a="$1" -v b="$2" 'NR > 1 && $2 == a { x[$1] = $4 } NR > 1 && $2 == b { y[$1] = $4 }
    END { lo = 1e9; hi = 0; for (r in x) { q = x[r] / y[r]; if (q < lo) lo = q; if (q > hi) hi = q }
          printf "%.2f–%.2f", lo, hi }' "$csv"
}
passVsTff=$(ratio "${med[zemivtc pass-through]}" "${med[zemivtc pass-through tff]}")
weaveVsTff=$(ratio "${med[zemivtc weave]}" "${med[zemivtc weave tff]}")
interlacedVsTff=$(ratio "${med[zemivtc weave interlaced]}" "${med[zemivtc weave interlaced tff]}")
stillVsTff=$(ratio "${med[zemivtc weave still]}" "${med[zemivtc weave still tff]}")
pipedVsTff=$(ratio "${med[zemivtc weave piped]}" "${med[zemivtc weave piped tff]}")
pipedVsCat=$(ratio "${med[zemivtc weave piped]}" "${med[cat piped]}")
bobVsTff=$(ratio "${med[zemivtc bob]}" "${med[zemivtc bob tff]}")
weaveVsCat=$(ratio "${med[zemivtc weave]}" "${med[cat]}")
passVsCat=$(ratio "${med[zemivtc pass-through]}" "${med[cat]}")
weaveVsFfmpeg=$(ratio "${fps[zemivtc weave]}" "${fps[ffmpeg weave]}")
bobVsLanczos=$(ratio "${fps[zemivtc bob]}" "${fps[ffmpeg lanczos bob]}")
bobVsBwdif=$(ratio "${fps[zemivtc bob]}" "${fps[ffmpeg bwdif]}")

# The chart: median bars, every repetition as a dot.
# The chart shows this build's first chartRuns runs, in their order.
chartNames=()
for r in "${runs[@]}"; do
  IFS='|' read -r name _ _ <<<"$r"
  [[ $name == previous* ]] || chartNames+=("$name")
done
chartNames=("${chartNames[@]:0:$chartRuns}")
: >"$work/bars.dat"
: >"$work/points.dat"
for i in "${!chartNames[@]}"; do
  name=${chartNames[$i]}
  echo "\"$name\" ${med[$name]} ${fps[$name]}" >>"$work/bars.dat"
  awk -F, -v n="$name" -v i="$i" 'NR > 1 && $2 == n { print i, $4, $3 / $4 }' "$csv" >>"$work/points.dat"
done
gnuplot <<EOF
set terminal pngcairo size 1400,520 font "sans,10"
set output "$chart"
set datafile separator whitespace
set multiplot layout 1,2 title "zemivtc, $frames frames of 1920x1080 4:2:2 Y4M to /dev/null, $repeats rotations (medians; dots: each run)\n$cpu, $cores cores, load average $loadBefore before, $loadAfter after"
set style fill solid 0.7 border -1
set boxwidth 0.6
set yrange [0:*]
set offsets 0.5, 0.5, graph 0.12, 0
set grid ytics
set xtics rotate by -25
unset key
set title "Pass-through and weave plans, without and with --field-order tff: wall time, seconds (lower is better)"
plot "$work/bars.dat" every ::0::$((leftRuns - 1)) using 0:2:xtic(1) with boxes lc rgb "#4472c4", \
     "" every ::0::$((leftRuns - 1)) using 0:2:(sprintf("%.3f", \$2)) with labels offset 0,0.8, \
     "$work/points.dat" using (\$1 < $leftRuns ? \$1 : NaN):2 with points pt 7 ps 0.5 lc rgb "black"
set title "Full-rate bob: output frames per second (higher is better)"
plot "$work/bars.dat" every ::$leftRuns using 0:3:xtic(1) with boxes lc rgb "#ed7d31", \
     "" every ::$leftRuns using 0:3:3 with labels offset 0,0.8, \
     "$work/points.dat" using (\$1 >= $leftRuns ? \$1 - $leftRuns : NaN):3 with points pt 7 ps 0.5 lc rgb "black"
unset multiplot
EOF

row() { # name, target text
  local rate=${fps[$1]}
  [ "$1" = cat ] && rate=""
  printf '| %s | %.3f | %s | %s |\n' "$1" "${med[$1]}" "$rate" "$2"
}
echo
echo "Machine: $cpu, $cores cores; load average $loadBefore before the runs, $loadAfter after;"
echo "$frames frames of 1920x1080 4:2:2, $repeats rotations, medians (each repetition in cli_bench.csv)."
echo
echo "| Run | Wall time (s, median) | Output frames/s | Target |"
echo "|---|---|---|---|"
row "cat" ""
row "zemivtc pass-through" "≤ 1.05 × with --field-order: **$passVsTff ×** ($(verdict "$passVsTff" "<=" 1.05)); ≤ 1 × cat: **$passVsCat ×** ($(verdict "$passVsCat" "<=" 1))"
row "zemivtc pass-through tff" ""
row "zemivtc weave" "≤ 1.10 × with --field-order: **$weaveVsTff ×** ($(verdict "$weaveVsTff" "<=" 1.10)); ≤ 2.5 × cat: **$weaveVsCat ×** ($(verdict "$weaveVsCat" "<=" 2.5))"
row "zemivtc weave tff" ""
row "ffmpeg weave" "zemivtc weave ≥ 4 × its frames/s: **$weaveVsFfmpeg ×** ($(verdict "$weaveVsFfmpeg" ">=" 4))"
row "zemivtc weave interlaced" "≤ 1.10 × with --field-order: **$interlacedVsTff ×** ($(verdict "$interlacedVsTff" "<=" 1.10))"
row "zemivtc weave interlaced tff" ""
row "zemivtc weave still" "≤ 1.10 × with --field-order: **$stillVsTff ×** ($(verdict "$stillVsTff" "<=" 1.10))"
row "zemivtc weave still tff" ""
row "cat piped" ""
row "zemivtc weave piped" "(as a pipe into an encoder) $pipedVsTff × with --field-order; $pipedVsCat × cat piped"
row "zemivtc weave piped tff" ""
row "zemivtc bob" "≤ 1.10 × with --field-order: **$bobVsTff ×** ($(verdict "$bobVsTff" "<=" 1.10))"
row "zemivtc bob tff" ""
row "ffmpeg lanczos bob" "zemivtc bob ≥ 5 × its frames/s: **$bobVsLanczos ×** ($(verdict "$bobVsLanczos" ">=" 5))"
row "ffmpeg bwdif" "zemivtc bob ≥ 5 × its frames/s: **$bobVsBwdif ×** ($(verdict "$bobVsBwdif" ">=" 5))"
row "zemivtc film" ""
row "zemivtc bob 4:2:0" ""
row "zemivtc film 4:2:0" ""
echo
echo "Without --field-order against with it, each rotation's pair: pass-through $(paired "zemivtc pass-through" "zemivtc pass-through tff"),"
echo "weave $(paired "zemivtc weave" "zemivtc weave tff"), interlaced weave $(paired "zemivtc weave interlaced" "zemivtc weave interlaced tff"), still weave $(paired "zemivtc weave still" "zemivtc weave still tff"), bob $(paired "zemivtc bob" "zemivtc bob tff"), piped weave $(paired "zemivtc weave piped" "zemivtc weave piped tff")."
cpuRatio() { ratio "$(csvMedian "$1" cpu)" "$(csvMedian "$1 tff" cpu)"; }
echo "CPU time (user + system, medians), without --field-order against with it: pass-through $(cpuRatio "zemivtc pass-through"),"
echo "weave $(cpuRatio "zemivtc weave"), interlaced weave $(cpuRatio "zemivtc weave interlaced"), still weave $(cpuRatio "zemivtc weave still"), bob $(cpuRatio "zemivtc bob")."
echo
echo "The order each render took without --field-order (\`--info\`):"
for r in "${runs[@]}"; do
  IFS='|' read -r name _ _ <<<"$r"
  [[ $name == zemivtc* && $name != *tff && $name != *piped* ]] && echo "- $name: ${orders[$name]}"
done
# The rotations' ratios of the earlier build's time over this build's for
# one run: their quartiles, how many are above 1, and the verdict: faster
# when three in four pairs or more say so, slower when three in four say
# that, else the same within the spread of the pairs.
pairQuartiles() {
  awk -F, -v a="previous $1" -v b="$1" 'NR > 1 && $2 == a { x[$1] = $4 } NR > 1 && $2 == b { y[$1] = $4 }
    END { for (r in x) print x[r] / y[r] }' "$csv" | sort -g |
    awk '{ q[NR] = $1; if ($1 > 1) up++ }
      END { lo = q[int((NR + 3) / 4)]; hi = q[int((3 * NR + 3) / 4)]
            printf "%.2f–%.2f | %d of %d | %s", lo, hi, up, NR,
              (lo > 1 ? "faster" : hi < 1 ? "**slower**" : "the same, within the spread of the pairs") }'
}
if [ ${#compared[@]} -gt 0 ]; then
  echo
  echo "This build against the earlier build in $previous ($(git -C "$previous/.." rev-parse --short HEAD 2>/dev/null || echo "commit unknown")),"
  echo "each run next to the other in every rotation, in turn first: the earlier build's median wall time over this"
  echo "build's (above 1: this build is faster); the quartiles of the same ratio over the rotations' pairs; in how"
  echo "many pairs this build was faster; and the verdict: faster, or slower, where three pairs in four or more say"
  echo "so, else the same within the spread of the pairs."
  echo
  echo "| Run | This build (s, median) | Earlier build (s, median) | Earlier / this | Pairs (quartiles) | This build faster | Verdict |"
  echo "|---|---|---|---|---|---|---|"
  for name in "${compared[@]}"; do
    printf '| %s | %.3f | %.3f | **%s ×** | %s |\n' "$name" "${med[$name]}" "${med[previous $name]}" \
      "$(ratio "${med[previous $name]}" "${med[$name]}")" "$(pairQuartiles "$name")"
  done
fi
echo
echo "Memory, 720x480 through a pipe (peak resident size): 100 frames $rss100 KiB, 3000 frames $rss3000 KiB."
[ -z "$previous" ] ||
  echo "The earlier build: 100 frames $rssPrevious100 KiB, 3000 frames $rssPrevious3000 KiB."
echo
echo "Every repetition ($csv):"
column -t -s, "$csv"
