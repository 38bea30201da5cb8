#!/bin/bash
# Runs one program natively and its Windows build under Wine and requires
# byte-identical output files:
#   same_as_native.sh OUTDIR NAME NATIVE_CMD... --vs-- WINDOWS_CMD...
# In both commands @OUT@ stands for the output file ($OUTDIR/NAME.native or
# $OUTDIR/NAME.windows). The Windows command is run as given, so it starts
# with the Wine runner. Files are kept when they differ.
set -u
outdir=$1
name=$2
shift 2
native=()
while [ $# -gt 0 ] && [ "$1" != "--vs--" ]; do native+=("$1"); shift; done
[ $# -gt 0 ] || { echo "same_as_native: no --vs-- in the command line" >&2; exit 2; }
shift
windows=("$@")
mkdir -p "$outdir"
a=$outdir/$name.native
b=$outdir/$name.windows
rm -f "$a" "$b"
native=("${native[@]//@OUT@/$a}")
windows=("${windows[@]//@OUT@/$b}")

"${native[@]}" || { echo "same_as_native: the native run failed: ${native[*]}" >&2; exit 1; }
"${windows[@]}" || { echo "same_as_native: the Windows run failed: ${windows[*]}" >&2; exit 1; }
[ -s "$a" ] || { echo "same_as_native: the native run wrote nothing" >&2; exit 1; }
if ! cmp "$a" "$b"; then
  echo "same_as_native: $name differs (sizes $(stat -c %s "$a") and $(stat -c %s "$b")); files kept in $outdir" >&2
  exit 1
fi
echo "same_as_native: $name identical ($(stat -c %s "$a") bytes)"
rm -f "$a" "$b"
