#!/usr/bin/env bash
# The plan tests' footage made again over many seeds, for the bounds the tests
# assert: each needs room below the worst case seen here.
#   classes   every class as Footage/PlanClass makes it, seeds 1 to N (the
#             test's own is 1): `zemivtc plan` scored field by field
#             (`plan_footage score-plan`), and ffmpeg's three chains
#   drawings  drawings coded by x264 as PlanEncodedDrawings makes them,
#             seeds 301 to 300+N, the telecine phase seed mod 10
#   order     the bff class at 256x160 in either order under a header that
#             says Ip, as PlanFieldOrder plans it: the measured order and
#             the score; and at 192x128 bottom field first, its verdict
#   footage   tests/footage.h has no seed (ffmpeg's own pictures): made at N
#             sizes from 256x192 up instead, its plan rendered and scored,
#             and the places its review page lists
# Every clip's line goes to bench/plan_seeds.csv; the worst case of each row
# is printed and put into bench/README.md ("## Plan footage over seeds").
# Usage: bench/plan_seeds.sh [BUILD_DIR] [N] (default build, 20).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
startFootageBench plan_seeds "${1:-}"
seeds=${2:-20}
csv=$here/plan_seeds.csv
loadBefore=$(loadAverage)
start=$(date -u '+%Y-%m-%d %H:%M')

# The value after a key in a "key value key value" line: key, line.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i += 2) if ($i == k) print $(i + 1) }' <<<"$2"; }
# One CSV line: group, clip, seed, score line, then the row's own figure: the
# best chain's exact count (classes), the progressive frames given whole
# (footage) or the field order the report gives (order); for the footage, the
# review page's places for the plan's positions.
record() {
  local k values=""
  for k in outputs exact duplicates combed recoverable; do values="$values,$(field "$k" "$4")"; done
  echo "$1,$2,$3$values,$5,${6:--}" >>"$csv"
}
# Makes a class, plans it and scores the plan: class, variant words.
planClass() {
  # shellcheck disable=SC2086 # the variant's words are separate arguments
  "$footage" class "$work" "$1" $2 >/dev/null
  "$zemivtc" plan --out "$work/$1.plan" "$work/$1.y4m" 2>"$work/report"
  "$footage" score-plan "$work" "$1" "$work/$1.plan"
}
reportOrder() { grep -o 'field order: [a-z]* field first' "$work/report" | awk '{ print $3 }'; }

echo "group,clip,seed,outputs,exact,duplicates,combed,recoverable,own,review_places" >"$csv"
for seed in $(seq "$seeds"); do
  for c in grain6 clumped mpeg2 x264 fades nearstill drawings bff mixed cuts; do
    echo "plan_seeds: seed $seed $c" >&2
    line=$(planClass "$c" "seed=$seed")
    best=$("$footage" chains "$work" "$c" | sed 's/^[^:]*: //' | while read -r l; do field exact "$l"; done |
      sort -n | tail -1)
    record classes "$c" "$seed" "$line" "$best"
  done
  s=$((300 + seed))
  record drawings "drawings encode=x264" "$s" "$(planClass drawings "seed=$s phase=$((s % 10)) encode=x264")" -
  for order in t b; do
    line=$(planClass bff "seed=$seed size=256x160 order=$order header=p")
    record order "bff size=256x160 order=$order header=p" "$seed" "$line" "$(reportOrder)"
  done
  line=$(planClass bff "seed=$seed size=192x128 order=b header=p")
  record order "bff size=192x128 order=b header=p" "$seed" "$line" "$(reportOrder)"
  w=$((240 + 16 * seed)) h=$((180 + 12 * seed))
  echo "plan_seeds: footage ${w}x$h" >&2
  "$footage" make "$work" "$w" "$h" >/dev/null
  rm -rf "$work/review"
  "$zemivtc" plan -q --out "$work/plan" --review "$work/review" "$work/footage.y4m"
  places=$(grep -o '<section class="place"' "$work/review/index.html" | wc -l)/$(wc -c <"$work/plan")
  score=$("$zemivtc" -q --plan "$work/plan" "$work/footage.y4m" - | "$footage" score "$work" -)
  record footage "footage (tests/footage.h)" "${w}x$h" "outputs $(field frames "$score") exact $(field exact \
"$score") duplicates $(field repeated "$score") combed - recoverable $(field recoverable "$score")" \
    "$(field progressive "$score")" "$places"
done
loadAfter=$(loadAverage)

# The worst case of each row, with its seed: the lowest share of exact film
# frames, the most duplicates and combed frames; then the least lead over the
# best chain (classes), the fewest progressive frames (footage) or the field
# orders reported (order).
summary=$(awk -F, 'NR > 1 {
    r = $2
    if (!(r in n)) { rows[++count] = r; low[r] = 2; dup[r] = -1; comb[r] = -1; own[r] = 1e9; seen[r] = "" }
    n[r]++
    if ($5 / $8 < low[r]) { low[r] = $5 / $8; lowAt[r] = $5 " of " $8 " (" $3 ")" }
    if ($6 > dup[r]) { dup[r] = $6; dupAt[r] = $6 " (" $3 ")" }
    if ($7 != "-" && $7 > comb[r]) { comb[r] = $7; combAt[r] = $7 " (" $3 ")" }
    if ($1 == "classes" && $5 - $9 < own[r]) { own[r] = $5 - $9; ownAt[r] = "leads the best chain by " own[r] " (" $3 ")" }
    if ($1 == "footage" && $9 < own[r]) { own[r] = $9; ownAt[r] = $9 " progressive frames whole (" $3 ")" }
    if ($1 == "footage" && split($10, pp, "/") == 2 && pp[1] / pp[2] >= share[r]) {
      share[r] = pp[1] / pp[2]; reviewAt[r] = "; review: " pp[1] " places for " pp[2] " positions (" $3 ")"
    }
    if ($1 == "order" && index(seen[r], $9) == 0) { seen[r] = seen[r] $9 " "; ownAt[r] = "orders measured: " seen[r] }
  }
  END {
    for (i = 1; i <= count; i++) {
      r = rows[i]
      printf "| %s | %d | %s | %s | %s | %s |\n", r, n[r], lowAt[r], dupAt[r], comb[r] < 0 ? "-" : combAt[r], ownAt[r] reviewAt[r]
    }
  }' "$csv")

section=$(
  cat <<EOF
## Plan footage over seeds

\`bench/plan_seeds.sh [BUILD_DIR] [N]\` makes the plan tests' footage again
with N = $seeds seeds each (the classes as \`Footage/PlanClass\` makes them,
seeds 1 to $seeds; the drawings coded by x264 as \`PlanEncodedDrawings\` makes
them, seeds 301 up, phase seed mod 10; the bottom-field-first class small
under a header that says \`Ip\` as \`PlanFieldOrder\` does; the generated
footage of tests/footage.h, which has no seed, at $seeds sizes from 256x192
up), plans each and scores the plan. The tests' bounds sit below the worst
case of each row. Every clip's line is in bench/plan_seeds.csv. One run,
$start UTC: $(cpuName), $(nproc) cores; load average $loadBefore before and
$loadAfter after (counts, not times: the load does not change them).

Each row gives the worst clip (its seed, or its size) by each measure: the
fewest recoverable film frames given exact, the most duplicates and combed
frames, then the smallest lead in exact frames over the best of ffmpeg's
three chains, the fewest progressive frames given whole and the review page's
most places for the plan's positions, or the field orders the reports
measured.

| Footage | Clips | Fewest exact | Most duplicates | Most combed | Else |
|---|---|---|---|---|---|
$summary
EOF
)
printf '%s\n' "$section" >"$work/section.md"
"$here/readme_section.sh" "$work/section.md"
printf '%s\n' "$section"
