#!/usr/bin/env bash
# The review page's stretches of whole frames that move, on film with 60i
# video and 30p frames after x264 (the `mixed` footage class, x264 at crf 26
# interlaced, its assembly off; seeds 301 up, telecine phase seed mod 10):
# how many of the video fields' positions lie inside a listed stretch, how
# many listed stretches hold no video field (the 30p frames, truly
# progressive), and the combed frames of the plan before and after keeping
# every listed stretch as video with the page's own keep lines. Prints the
# "## Plan review: moving whole frames" section of bench/README.md and puts
# it there. Usage: bench/review_stretches.sh [BUILD_DIR] [SEEDS] (default
# build, 20).
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=bench/common.sh
source "$here/common.sh"
startFootageBench review_stretches "${1:-}"
seeds=${2:-20}
loadBefore=$(loadAverage)
start=$(date -u '+%Y-%m-%d %H:%M')
# The value after a key in a "key value key value" line: key, line.
field() { awk -v k="$1" '{ for (i = 1; i < NF; i += 2) if ($i == k) print $(i + 1) }' <<<"$2"; }

# Runs a command with its report kept aside; shown when it fails.
quiet() { "$@" 2>"$work/err" || { cat "$work/err" >&2; exit 1; }; }

rows=""
for n in $(seq 301 $((300 + seeds))); do
  quiet "$footage" class "$work" mixed seed="$n" phase=$((n % 10)) encode=x264 asm=0 >/dev/null
  quiet "$zemivtc" plan -q --explain --out "$work/plan" --review "$work/review" "$work/mixed.y4m"
  # The positions decided as whole frames (progressive), from --explain.
  awk '/^ *[0-9]/ && / progressive / { print $1 }' "$work/err" >"$work/whole"
  # FIRST LAST of each stretch, then the keep lines the page gives.
  grep -o 'data-first="[0-9]*" data-last="[0-9]*"' "$work/review/index.html" | tr -dc '0-9 \n' |
    awk '{ print $1, $2 }' >"$work/stretches" || true
  awk '{ print $1 "-" $2 " 2" }' "$work/stretches" >"$work/video.keep"
  sed -n '/<section class="stretch"/,/<\/section>/p' "$work/review/index.html" | grep -o '<code>[^<]*</code>' |
    sed 's/<[^>]*>//g' | sort -n >"$work/page.keep" || true
  cmp -s <(sort -n "$work/video.keep") "$work/page.keep" || {
    echo "$benchName: seed $n: the page's keep lines are not its stretches" >&2
    exit 1
  }
  quiet "$zemivtc" plan -q --keep "$work/video.keep" --out "$work/kept" "$work/mixed.y4m"
  before=$("$footage" score-plan "$work" mixed "$work/plan")
  after=$("$footage" score-plan "$work" mixed "$work/kept")
  # Truth: a header line, then one line per field (kind first); field f is
  # position f's own. Video positions, those taken as whole frames, those
  # inside a stretch, stretches without video.
  counts=$(awk -v positions="$(wc -c <"$work/plan")" '
    FILENAME ~ /whole$/ { whole[$1] = 1; next }
    FILENAME ~ /stretches$/ { first[FNR] = $1; last[FNR] = $2; n = FNR; next }
    FNR > 1 && FNR - 2 < positions && $1 == "v" {
      f = FNR - 2; video++; taken += f in whole
      for (i = 1; i <= n; i++) if (f >= first[i] && f <= last[i]) { inside++; held[i] = 1 }
    }
    END {
      for (i = 1; i <= n; i++) empty += !(i in held)
      printf "%d %d %d %d %d", video, taken, inside, n, empty
    }' "$work/whole" "$work/stretches" "$work/mixed.truth")
  read -r video taken inside listed empty <<<"$counts"
  rows+="$n $video $taken $inside $listed $empty $(field combed "$before") $(field combed "$after") $(tr '\n' ';' <"$work/video.keep")"$'\n'
done
loadAfter=$(loadAverage)

section=$work/section.md
{
  echo "## Plan review: moving whole frames"
  echo
  echo "\`bench/review_stretches.sh\`: the \`mixed\` footage class (film, 70 fields of 60i video, 56 fields of 30p"
  echo "frames, film; 352x240, 153 frames) over $seeds seeds (301 up, telecine phase seed mod 10), x264 at crf 26"
  echo "interlaced with its assembly off (the tests' bytes). In most clips x264 erases most of the video's comb and"
  echo "the plan takes its frames whole as progressive ones; \`zemivtc plan --review\` lists every stretch of whole frames"
  echo "that moves (docs/cli.md). Per clip: the video fields' positions, those the plan decides as whole frames"
  echo "(\`--explain\`: progressive; the others it decides as video), how many lie inside a listed stretch, the"
  echo "stretches listed and those holding no video field (the 30p frames), and the combed frames of the plan"
  echo "before and after keeping every listed stretch as video with the page's lines (which also turns the 30p"
  echo "stretch into one frame per field). One run, $start UTC: $(cpuName), $(nproc) cores; load average"
  echo "$loadBefore before and $loadAfter after (counts, not times)."
  echo
  echo "| seed | video positions | taken as whole frames | inside a stretch | stretches | without video | combed | combed, kept as video | keep lines |"
  echo "|---|---|---|---|---|---|---|---|---|"
  while read -r n video taken inside listed empty cb ca lines; do
    [ -n "$n" ] && echo "| $n | $video | $taken | $inside | $listed | $empty | $cb | $ca | ${lines%;} |"
  done <<<"$rows"
  awk 'NF { v += $2; t += $3; i += $4; l += $5; e += $6; cb += $7; ca += $8 }
    END { printf "| **all** | **%d** | **%d** | **%d** | **%d** | **%d** | **%d** | **%d** | |\n", v, t, i, l, e, cb, ca }' <<<"$rows"
  echo
  echo "A video position taken as whole frames outside every stretch is, in these clips, the last video field"
  echo "before the cut to the 30p frames, where the plan decides whole frames but rebuilds that field alone"
  echo "(code 4): no frame there weaves two moments."
} >"$section"
cat "$section"
"$here/readme_section.sh" "$section"
