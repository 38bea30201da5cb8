#!/bin/bash
# zemivtc.exe under Wine's 64-bit half against the native command, byte for
# byte: each case runs both commands with the same arguments in a folder of
# its own (linux/CASE, windows/CASE), keeping their exit status, standard
# output and standard error there beside what they wrote, and the two folders
# must be the same.
#   - the plan and --explain lines of the standard footage and of every
#     footage class, and the timecodes of each plan (with the render's
#     output too, once the Windows build has a render);
#   - standard input and output as pipes, from Wine's side and from cmd's;
#   - names that are not ASCII, with a review page, written and complete;
#   - refusals: the same words, the same status, no file left behind.
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

# run SIDE CASE [<INPUT] ARGS...
run() {
  local side=$1 case=$2 input=/dev/null
  shift 2
  case "${1:-}" in "<"*) input=${1#<} && shift ;; esac
  mkdir -p "$work/$side/$case"
  (
    cd "$work/$side/$case" || exit 1
    if [ "$side" = linux ]; then "$native/zemivtc" "$@"; else "$wine_run" "$exe" "$@"; fi <"$input" >stdout 2>stderr
    echo $? >status
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

# The render of a plan: everything the same where the Windows build renders;
# without a render there (it says so), the timecodes it wrote are compared.
render() {  # render CASE TIMECODES ARGS...
  local case=$1 tc=$2
  shift 2
  run linux "$case" "$@" && run windows "$case" "$@"
  if [ "$(cat "$work/windows/$case/status")" = 0 ]; then
    diff -r "$work/linux/$case" "$work/windows/$case" >"$work/$case.diff" 2>&1
    verdict "$case (render and timecodes)" $? "$(head -c 600 "$work/$case.diff")"
  else
    grep -q "does not render yet" "$work/windows/$case/stderr" &&
      cmp "$work/linux/$case/$tc" "$work/windows/$case/$tc" >"$work/$case.diff" 2>&1
    verdict "$case (timecodes; no render in this build)" $? "$(cat "$work/$case.diff" "$work/windows/$case/stderr")"
  fi
  rm -f "$work"/*/"$case"/out.y4m
}

# Wine's first start makes its prefix; not a case.
"$wine_run" "$exe" --version >/dev/null 2>&1

for c in standard $classes; do
  same "plan-$c" plan --explain --out "$c.zem" "../../clips/$c.y4m"
  render "render-$c" "$c.tc" --plan "../plan-$c/$c.zem" --timecodes "$c.tc" "../../clips/$c.y4m" out.y4m
done

same pipe "<$clips/grain6.y4m" plan --out - -
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

echo "zemivtc.exe under Wine: $passed passed, $failed failed"
[ "$failed" = 0 ]
