#!/usr/bin/env bash
# The footage classes of the plan tests (tests/footage_classes.h: grain on
# every pixel and in clumps, MPEG-2 and x264 encodes, fades and a dissolve, a
# near-still grainy shot, held drawings, bottom field first, film with video
# and progressive frames, cuts at odd fields) made once, then `zemivtc plan`
# and ffmpeg's three chains on each, scored field by field against the known
# film frames (`plan_footage score-plan` and `chains`). Prints the
# "## Plan footage classes" section of bench/README.md and puts it there.
# With `encoded`, only the encoded classes instead, each over N seeds (301
# up, phase seed mod 10; default 20), x264's assembly off and on: per class
# the totals, the worst clip and ffmpeg's three chains beside them, into
# the "## Plan footage encoded, over seeds" section.
# Usage: bench/plan_classes.sh [BUILD_DIR] [encoded [N]] (default build).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
startFootageBench plan_classes "${1:-}"
classes="grain6 clumped mpeg2 x264 fades nearstill drawings bff mixed cuts"

loadBefore=$(loadAverage)
start=$(date -u '+%Y-%m-%d %H:%M')
# The value after a key in a "key value key value" line: key, line.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i += 2) if ($i == k) print $(i + 1) }' <<<"$2"; }

if [ "${2:-}" = encoded ]; then
  seeds=${3:-20}
  # Class|variant words; the x264 ones twice, assembly off (the tests'
  # bytes) and on (what a user's x264 makes, which differs by machine).
  encodedRows="drawings|encode=x264 asm=0
drawings|encode=x264 asm=1
nearstill|encode=x264 asm=0
nearstill|encode=x264 asm=1
clumped|encode=x264 asm=0
clumped|encode=x264 asm=1
clumped|encode=x264p asm=0
clumped|encode=x264p asm=1
drawings|encode=mpeg2
mixed|encode=x264 asm=0"
  # Sums exact / duplicates / combed (those combing) and the recoverable
  # frames over the score lines on standard input.
  total() {
    awk '{ for (i = 1; i < NF; i += 2) v[$i] += $(i + 1) }
      END { printf "%d / %d / %d (%d) of %d (%.2f %%)", v["exact"], v["duplicates"], v["combed"], v["combing"],
        v["recoverable"], 100 * v["exact"] / (v["recoverable"] ? v["recoverable"] : 1) }'
  }
  rows=""
  # (The list comes in on descriptor 3: ffmpeg reads standard input.)
  while IFS='|' read -r c extra <&3; do
    : >"$work/ours"
    : >"$work/chains"
    : >"$work/clips"
    for seed in $(seq 301 $((300 + seeds))); do
      echo "plan_classes: $c $extra seed $seed" >&2
      # shellcheck disable=SC2086 # the variant's words are separate arguments
      "$footage" class "$work" "$c" seed=$seed phase=$((seed % 10)) $extra >/dev/null
      "$zemivtc" plan -q --out "$work/$c.plan" "$work/$c.y4m" 2>/dev/null
      line=$("$footage" score-plan "$work" "$c" "$work/$c.plan")
      echo "$line" >>"$work/ours"
      "$footage" chains "$work" "$c" >"$work/these"
      cat "$work/these" >>"$work/chains"
      best=$(sed 's/^[^:]*: //' "$work/these" | while read -r l; do field exact "$l"; done | sort -n | tail -1)
      echo "$seed $(field exact "$line") $(field recoverable "$line") $(field duplicates "$line") $(field combed \
"$line") $best $(field combing "$line")" >>"$work/clips"
      rm -f "$work/$c.y4m"
    done
    # The worst clip: the least share of exact frames, then the most combed.
    worst=$(awk '{ s = $2 / $3; if (NR == 1 || s < low || (s == low && $5 > comb)) { low = s; comb = $5; w = $0 } }
      END { split(w, f, " "); printf "%s: %d of %d, %d dup., %d combed (%d combing; best chain %d)", f[1], f[2], f[3], f[4], f[5],
        f[7], f[6] }' \
      "$work/clips")
    behind=$(awk '$2 < $6 { n++ } END { print n + 0 }' "$work/clips")
    chainTotal() { grep "^$1: " "$work/chains" | sed 's/^[^:]*: //' | total; }
    rows="$rows| $c $extra | **$(total <"$work/ours")** | $worst | $behind | $(chainTotal 'fieldmatch,decimate') | \
$(chainTotal 'fieldmatch=combmatch=full,decimate') | $(chainTotal 'pullup,fps=24000\/1001') |
"
  done 3<<<"$encodedRows"
  loadAfter=$(loadAverage)
  section=$(
    cat <<EOF
## Plan footage encoded, over seeds

\`bench/plan_classes.sh [BUILD_DIR] encoded [N]\` makes the encoded classes
(\`build/plan_footage class\`) with N = $seeds seeds each, 301 up, the
telecine starting at phase seed mod 10: x264 at crf 26 (interlaced, or
\`x264p\`: the telecined frames coded as progressive ones) with its assembly
off (\`asm=0\`, the tests' bytes) and on (\`asm=1\`: x264 picks the
instructions, so these rows differ between machines), and MPEG-2. Each clip
is planned and run through ffmpeg $(ffmpeg -version | head -1 | awk '{ print $3 }')'s three chains, scored as in
"Plan footage classes". The \`mixed\` row is film with 60i video and
progressive frames: its combed frames are the video's, whose comb x264
erased. One run, $start UTC: $(cpuName), $(nproc) cores; load average
$loadBefore before and $loadAfter after (counts, not times).

Each total: exact / duplicates / combed (of them, those combing), of the
recoverable film frames, summed over the seeds. A combed frame is woven from
fields of two pictures; it is combing where its rows alternate visibly more
than in the frames of its pictures as the clip has them: in a block of
16 x 16 pixels, a row's difference from the mean of the rows above and
below it, squared, stands on average 36 (6 levels) or more over the same
block's in those frames. A moving edge woven from two moments does so by far;
after an encode that coded both fields of a frame as one picture, a frame
of two near-still pictures does not, and is the better of the two: their
picture's own weave across two coded frames combs with the encode's
errors. A frame of video fields, which have no frame of their own, counts
as combing. Worst clip: the least share of exact frames (its seed).
Behind: the clips where a chain gave more exact frames than
\`zemivtc plan\`.

| Class, encode | \`zemivtc plan\` | Worst clip | Behind | \`fieldmatch,decimate\` | \`fieldmatch=combmatch=full,decimate\` | \`pullup,fps=24000/1001\` |
|---|---|---|---|---|---|---|
$rows
EOF
  )
  printf '%s\n' "$section" >"$work/section.md"
  "$here/readme_section.sh" "$work/section.md"
  printf '%s\n' "$section"
  exit 0
fi

# One cell: exact / duplicates / combed from a score line.
cell() {
  awk '{ for (i = 1; i < NF; i += 2) v[$i] = $(i + 1) } END { printf "%s / %s / %s", v["exact"], v["duplicates"], v["combed"] }'
}
rows=""
for c in $classes; do
  echo "plan_classes: $c" >&2
  "$footage" class "$work" "$c" >"$work/$c.made"
  size=$(head -1 "$work/$c.truth" | awk '{ print $2 "x" $3 }')
  frames=$(head -1 "$work/$c.truth" | awk '{ print $4 }')
  "$zemivtc" plan -q --out "$work/$c.plan" "$work/$c.y4m" 2>"$work/$c.report"
  ours=$("$footage" score-plan "$work" "$c" "$work/$c.plan")
  recoverable=$(echo "$ours" | awk '{ for (i = 1; i < NF; i += 2) if ($i == "recoverable") print $(i + 1) }')
  "$footage" chains "$work" "$c" >"$work/$c.chains"
  chain() { grep "^$1: " "$work/$c.chains" | sed 's/^[^:]*: //' | cell; }
  rows="$rows| $c | $size, $frames frames | $recoverable | **$(echo "$ours" | cell)** | $(chain 'fieldmatch,decimate') | $(chain 'fieldmatch=combmatch=full,decimate') | $(chain 'pullup,fps=24000\/1001') |
"
  rm -f "$work/$c.y4m"
done

# Footage the tests do not use: each class again with other pictures, another
# cadence phase and other encodes, four seeds a row, the counts summed.
variants="grain6|
clumped|
clumped|encode=x264p
fades|
fades|encode=x264
nearstill|
nearstill|encode=x264
drawings|
drawings|encode=mpeg2
drawings|encode=x264
bff|
grain6|order=b header=p
mixed|
mixed|encode=mpeg2
mixed|encode=x264
cuts|
cuts|encode=mpeg2
mpeg2|
x264|
sources|"
# Sums "exact / duplicates / combed" over the score lines on standard input.
sumCells() {
  awk '{ for (i = 1; i < NF; i += 2) v[$i] += $(i + 1) } END { printf "%d / %d / %d", v["exact"], v["duplicates"], v["combed"] }'
}
variantRows=""
# (The list comes in on descriptor 3: ffmpeg reads standard input.)
while IFS='|' read -r c extra <&3; do
  echo "plan_classes: $c $extra" >&2
  : >"$work/v.ours"
  : >"$work/v.chains"
  recoverable=0
  for seed in 301 302 303 304; do
    # shellcheck disable=SC2086 # the variant's words are separate arguments
    "$footage" class "$work" "$c" seed=$seed phase=$((seed % 10)) $extra >/dev/null
    "$zemivtc" plan -q --out "$work/$c.plan" "$work/$c.y4m" 2>/dev/null
    line=$("$footage" score-plan "$work" "$c" "$work/$c.plan")
    echo "$line" >>"$work/v.ours"
    recoverable=$((recoverable + $(echo "$line" | awk '{ for (i = 1; i < NF; i += 2) if ($i == "recoverable") print $(i + 1) }')))
    "$footage" chains "$work" "$c" >>"$work/v.chains"
    rm -f "$work/$c.y4m"
  done
  chainSum() { grep "^$1: " "$work/v.chains" | sed 's/^[^:]*: //' | sumCells; }
  variantRows="$variantRows| $c${extra:+ $extra} | $recoverable | **$(sumCells <"$work/v.ours")** | $(chainSum 'fieldmatch,decimate') | $(chainSum 'fieldmatch=combmatch=full,decimate') | $(chainSum 'pullup,fps=24000\/1001') |
"
done 3<<<"$variants"

loadAfter=$(loadAverage)
cpu=$(cpuName)
ffmpegVersion=$(ffmpeg -version | head -1 | awk '{ print $3 }')

section=$(
  cat <<EOF
## Plan footage classes

\`bench/plan_classes.sh [BUILD_DIR]\` makes the footage classes of the plan
tests (\`build/plan_footage class\`, tests/footage_classes.h), runs
\`zemivtc plan\` and ffmpeg $ffmpegVersion's three chains on each, and scores every
output frame by its two fields' bytes against the known film frames: exact
is a recoverable film frame given byte for byte (against the decoded fields
for the encodes), each counted once; duplicates are further outputs of a
film frame already given (whole or rebuilt); combed are frames woven from
fields of two pictures. For the bottom-field-first class the chains run with
\`order=bff\` (and \`setfield=bff\` before \`pullup\`), for the others with
\`order=tff\`. One run, $start UTC: $cpu, $(nproc) cores; load average
$loadBefore before and $loadAfter after (the figures are counts, not times: the
load does not change them).

Each cell: exact / duplicates / combed.

| Class | Clip | Recoverable | \`zemivtc plan\` | \`fieldmatch,decimate\` | \`fieldmatch=combmatch=full,decimate\` | \`pullup,fps=24000/1001\` |
|---|---|---|---|---|---|---|
$rows
Footage the tests do not use, from the same run: each class made again with
seeds 301 to 304 (other pictures), the telecine starting at phase seed mod 10,
and other encodes (\`encode=x264p\`: x264 coding the telecined frames as
progressive ones; \`order=b header=p\`: bottom field first under a header that
says \`Ip\`, so that the plan measures the order; \`sources\`: ffmpeg's own test
pictures with its noise, MPEG-2). Each cell sums the four clips.

| Class and variant | Recoverable | \`zemivtc plan\` | \`fieldmatch,decimate\` | \`fieldmatch=combmatch=full,decimate\` | \`pullup,fps=24000/1001\` |
|---|---|---|---|---|---|
$variantRows
EOF
)

# Replace the section in bench/README.md (or append it), leaving the others.
printf '%s\n' "$section" >"$work/section.md"
"$here/readme_section.sh" "$work/section.md"
printf '%s\n' "$section"
