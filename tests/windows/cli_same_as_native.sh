#!/bin/bash
# zemivtc.exe under Wine must write the same bytes as the native zemivtc for
# the same input and plan: file to file, standard input to standard output
# (binary mode on both), and raw output.
#   cli_same_as_native.sh WORKDIR NATIVE_ZEMIVTC WINE_RUN WINDOWS_ZEMIVTC
# Inputs and outputs are kept in WORKDIR when they differ.
set -u
work=$1 native=$2 wine_run=$3 windows=$4
mkdir -p "$work"
cd "$work" || exit 1
width=36 height=20 frames=12

# A 4:2:2 Y4M stream of random pictures.
{
  printf 'YUV4MPEG2 W%d H%d F30000:1001 Ip A1:1 C422\n' $width $height
  for ((f = 0; f < frames; f++)); do
    printf 'FRAME\n'
    head -c $((width * height * 2)) /dev/urandom
  done
} > input.y4m
# Every code at even and odd positions, bytes that make no frame, CR LF.
printf '1212343456561234560a\r\n65' > plan.zem

status=0
compare() {
  local name=$1
  if [ ! -s "$name.native" ] || ! cmp "$name.native" "$name.windows"; then
    echo "cli_same_as_native: $name differs or is empty; files kept in $work" >&2
    status=1
  else
    echo "cli_same_as_native: $name identical ($(stat -c %s "$name.native") bytes)"
  fi
}
run() { "$@" || { echo "cli_same_as_native: failed: $*" >&2; status=1; }; }

run "$native" -q --plan plan.zem input.y4m files.native
run "$wine_run" "$windows" -q --plan plan.zem input.y4m files.windows
compare files

run "$native" -q --plan plan.zem - - < input.y4m > pipes.native
run "$wine_run" "$windows" -q --plan plan.zem - - < input.y4m > pipes.windows
compare pipes

run "$native" -q --raw-out --plan plan.zem input.y4m raw.native
run "$wine_run" "$windows" -q --raw-out --plan plan.zem input.y4m raw.windows
compare raw

# A refused plan fails on both with status 1 and writes no output file.
: > missing.windows
rm -f missing.windows
"$wine_run" "$windows" -q --plan no-such-plan input.y4m missing.windows 2> missing.err
code=$?
if [ $code -ne 1 ] || [ -e missing.windows ] || ! grep -q "File open error" missing.err; then
  echo "cli_same_as_native: a missing plan gave status $code: $(cat missing.err)" >&2
  status=1
fi

[ $status -eq 0 ] && rm -f input.y4m plan.zem ./*.native ./*.windows missing.err
exit $status
