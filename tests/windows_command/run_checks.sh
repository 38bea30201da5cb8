#!/bin/bash
# zemivtc.exe under Wine's 64-bit half against the native command, byte for
# byte: each case runs both commands with the same arguments in a folder of
# its own (linux/CASE, windows/CASE), keeping their exit status, standard
# output and standard error there beside what they wrote, and the two folders
# must be the same.
#   - the plan and --explain lines of the standard footage and of every
#     footage class, then the render of each plan with its timecodes;
#   - renders of Y4M 4:2:0 and raw yuyv422 input in both field orders (the
#     classes are Y4M 4:2:2 in both), with the other chroma out;
#   - standard input and output as pipes, from Wine's side and from cmd's;
#   - names that are not ASCII, with a review page, written and complete;
#   - refusals: the same words, the same status, no file left behind; a
#     non-Y4M input without ffms2.dll told where it goes;
#   - the plan editor: its page and a picture over HTTP from this side.
#   run_checks.sh NATIVE_BUILD_DIR WORK_DIR ZEMIVTC.EXE
set -u
native=$(realpath "$1")
work=$(realpath -m "$2")
exe=$(realpath "$3")
wine_run=$(realpath "$(dirname "$0")/../abi/wine-run.sh")
export ZEMIVTC_WINEARCH=win64
export ZEMIVTC_WINEPREFIX=${ZEMIVTC_WINEPREFIX:-$(dirname "$exe")/wineprefix}
export LC_ALL=C.UTF-8  # Wine takes the arguments and the files' names in the locale's encoding
failed=0
passed=0

rm -rf "$work" && mkdir -p "$work/clips" "$work/linux" "$work/windows" || exit 1
clips=$work/clips
"$native/plan_footage" make "$clips" 320 240 >/dev/null && mv "$clips/footage.y4m" "$clips/standard.y4m" &&
  rm -f "$clips"/[abc]_*.y4m || { echo "cannot make the standard footage" >&2; exit 1; }
classes=$("$native/plan_footage" classes) || exit 1
for c in $classes; do "$native/plan_footage" class "$clips" "$c" >/dev/null || { echo "cannot make $c" >&2; exit 1; }; done
name=$(printf 'F\xc3\xafl\xc3\xa9 \xe6\x98\xa0\xe7\x94\xbb')  # "Fïlé 映画"
cp "$clips/grain6.y4m" "$clips/$name.y4m" && cp "$clips/grain6.y4m" "$clips/victim.y4m" || exit 1
head -1 "$clips/grain6.y4m" >"$clips/empty.y4m"
# 4:2:0 and raw copies of two classes by the native command, every frame
# passed through: grain6's 4:2:0 header then says It, bff's Ip.
for c in grain6 bff; do
  printf '10%.0s' $(seq $(($(stat -c %s "$clips/$c.y4m") / (352 * 240 * 2 + 6)))) >"$clips/$c-frames.zem"
  "$native/zemivtc" -q --plan "$clips/$c-frames.zem" --raw-out "$clips/$c.y4m" "$clips/$c.yuyv" &&
    "$native/zemivtc" -q --plan "$clips/$c-frames.zem" --rate 30000/1001 --chroma-out 420 "$clips/$c.y4m" \
      "$clips/$c-420.y4m" || { echo "cannot make the 4:2:0 and raw copies of $c" >&2; exit 1; }
done
header=$(head -1 "$clips/grain6-420.y4m")
{ printf '%s\n' "${header/ Ip / It }" && tail -c +$((${#header} + 2)) "$clips/grain6-420.y4m"; } >"$clips/grain6-420-tff.y4m"

# run SIDE CASE [<INPUT | |INPUT] ARGS...: "<" redirects standard input from
# INPUT, "|" pipes INPUT in and standard output out.
run() {
  local side=$1 case=$2 input=/dev/null pipe=""
  shift 2
  case "${1:-}" in "<"*) input=${1#<} && shift ;; "|"*) input=${1#|} pipe=yes && shift ;; esac
  mkdir -p "$work/$side/$case"
  (
    cd "$work/$side/$case" || exit 1
    command=("$native/zemivtc")
    [ "$side" = linux ] || command=("$wine_run" "$exe")
    if [ -n "$pipe" ]; then
      cat "$input" | "${command[@]}" "$@" 2>stderr | cat >stdout
      echo "${PIPESTATUS[1]}" >status
    else
      "${command[@]}" "$@" <"$input" >stdout 2>stderr
      echo $? >status
    fi
  )
}

verdict() {  # verdict CASE OK [WHY]
  if [ "$2" = 0 ]; then
    passed=$((passed + 1)) && echo "same: $1"
  else
    failed=$((failed + 1)) && echo "DIFFERENT: $1: ${3:-}"
  fi
}

same() {  # same CASE [<INPUT] ARGS...: both folders alike, file for file
  run linux "$@" && run windows "$@"
  diff -r "$work/linux/$1" "$work/windows/$1" >"$work/$1.diff" 2>&1
  verdict "$1" $? "$(head -c 600 "$work/$1.diff")"
}

# A render: as same, and it must have succeeded; then its video goes.
render() {  # render CASE [<INPUT | |INPUT] ARGS...
  local case=$1
  run linux "$@" && run windows "$@"
  diff -r "$work/linux/$case" "$work/windows/$case" >"$work/$case.diff" 2>&1 &&
    [ "$(cat "$work/linux/$case/status")" = 0 ]
  verdict "$case" $? "$(head -c 600 "$work/$case.diff") status $(cat "$work/linux/$case/status")"
  find "$work"/*/"$case" \( -name '*.y4m' -o -name stdout \) -delete
}

# The plan editor on each side, serving a copy of a clip: its page and one
# picture, fetched at the address each printed (with its token), alike.
editor() {  # editor CASE CLIP PICTURE
  local case=$1 picture=$3 side pids=() deadline=$((SECONDS + 600)) why=""
  for side in linux windows; do
    mkdir -p "$work/$side/$case" && cp "$clips/$2.y4m" "$work/$side/$case/clip.y4m" || return 1
    (cd "$work/$side/$case" && if [ $side = linux ]; then exec "$native/zemivtc" edit -q clip.y4m; else
      exec "$wine_run" "$exe" edit -q clip.y4m; fi </dev/null >address 2>stderr) &
    pids+=($!)
  done
  for side in linux windows; do
    while ! grep -q '^http://127\.0\.0\.1:[0-9]*/[0-9a-f]*/$' "$work/$side/$case/address" 2>/dev/null; do
      kill -0 "${pids[@]}" 2>/dev/null && [ $SECONDS -lt $deadline ] && sleep 1 && continue
      why="$side printed no address: $(cat "$work/$side/$case/"{address,stderr} 2>&1)" && break 2
    done
    url=$(cat "$work/$side/$case/address")
    (cd "$work/$side/$case" && curl -sS --max-time 120 -o page.html "$url" -o picture.png "$url$picture") ||
      why="$why $side did not answer"
  done
  kill "${pids[@]}" 2>/dev/null; wait "${pids[@]}" 2>/dev/null
  [ -z "$why" ] && { cmp "$work/"{linux,windows}"/$case/page.html" &&
    cmp "$work/"{linux,windows}"/$case/picture.png"; } >"$work/$case.diff" 2>&1
  verdict "$case ($picture)" $? "$why$(cat "$work/$case.diff" 2>/dev/null)"
  rm -f "$work"/*/"$case"/clip.y4m
}

# Wine's first start makes its prefix; not a case.
"$wine_run" "$exe" --version >/dev/null 2>&1

for c in standard $classes; do
  same "plan-$c" plan --explain --out "$c.zem" "../../clips/$c.y4m"
  render "render-$c" --plan "../plan-$c/$c.zem" --timecodes "$c.tc" "../../clips/$c.y4m" out.y4m
done
# Every input layout in both field orders (the classes: Y4M 4:2:2, bff
# bottom field first, the rest top), through pipes, under names not ASCII.
render render-420-tff --plan ../plan-grain6/grain6.zem --chroma-out 422 ../../clips/grain6-420-tff.y4m out.y4m
render render-420-bff --plan ../plan-bff/bff.zem --field-order bff ../../clips/bff-420.y4m out.y4m
render render-raw-tff --plan ../plan-grain6/grain6.zem --raw 352x240 --field-order tff ../../clips/grain6.yuyv out.y4m
render render-raw-bff --plan ../plan-bff/bff.zem --raw 352x240 --field-order bff --chroma-out 420 \
  ../../clips/bff.yuyv out.y4m
render render-pipe "|$clips/bff.y4m" --plan ../plan-bff/bff.zem --timecodes bff.tc - -
render render-unicode --plan ../plan-grain6/grain6.zem "../../clips/$name.y4m" "$name.y4m"

same pipe "|$clips/grain6.y4m" plan --out - -
# cmd's own pipe and redirection, inside Windows.
mkdir -p "$work/windows/pipe-cmd"
(cd "$work/windows/pipe-cmd" && "$wine_run" cmd /c \
  "type ..\\..\\clips\\grain6.y4m | Z:${exe//\//\\} plan --out - - > plan.zem" 2>stderr)
cmp "$work/linux/pipe/stdout" "$work/windows/pipe-cmd/plan.zem" >"$work/pipe-cmd.diff" 2>&1
verdict "pipe-cmd" $? "$(cat "$work/pipe-cmd.diff")"

same unicode plan --out "pl$(printf '\xc3\xa5')n.zem" --review "r$(printf '\xc3\xa9')vue" "../../clips/$name.y4m"
page=$(find "$work/windows/unicode" -name index.html)
missing=$(grep -o 'src="[^"]*"' "$page" 2>/dev/null | sed 's/^src="//; s/"$//' |
  while read -r f; do [ -s "$(dirname "$page")/$f" ] || echo "$f"; done)
tail -c 15 "$page" 2>/dev/null | grep -q '</html>' && [ -z "$missing" ]
verdict "review page complete" $? "page ${page:-missing}; pictures missing: $missing"

same refuse-empty plan --out p.zem ../../clips/empty.y4m
same refuse-missing plan --out p.zem missing.y4m
same refuse-input plan --out ../../clips/victim.y4m ../../clips/victim.y4m
same refuse-usage plan --field-order sideways ../../clips/grain6.y4m
# A file that is not Y4M goes to FFMS2; with no ffms2.dll (none here), the
# one line says where it goes.
run windows no-ffms2 plan --out p.zem ../../clips/grain6.yuyv
[ "$(cat "$work/windows/no-ffms2/status")" = 1 ] && grep -q 'ffms2.dll beside zemivtc.exe' "$work/windows/no-ffms2/stderr"
verdict "no ffms2.dll: where it goes" $? "$(cat "$work/windows/no-ffms2/stderr")"

editor edit grain6 pic/out/7/2.png

echo "zemivtc.exe under Wine: $passed passed, $failed failed"
[ "$failed" = 0 ]
