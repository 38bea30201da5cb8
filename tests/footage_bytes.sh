#!/bin/sh
# The tests' encoded footage (tests/footage_classes.h) and generated footage
# (tests/footage.h), made as the tests make them and again with the
# processor's extensions cut down: ffmpeg's off (-cpuflags 0), glibc's maths
# without AVX and FMA (x264 runs without assembly in both). The same bytes, or
# the plan tests' verdicts would depend on the machine. Status 77: no ffmpeg.
#   footage_bytes.sh PLAN_FOOTAGE WORKDIR
set -eu
tool=$1 work=$2
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed; make deps installs it"; exit 77; }
rm -rf "$work" && mkdir -p "$work/usual" "$work/plain"
status=0
while read -r mode name variant; do
  # shellcheck disable=SC2086 # the variant's words are separate arguments
  "$tool" "$mode" "$work/usual" $name $variant >/dev/null
  # shellcheck disable=SC2086
  ZEMIVTC_FOOTAGE_PLAIN=1 GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX,-AVX2,-FMA,-FMA4,-AVX512F \
    "$tool" "$mode" "$work/plain" $name $variant >/dev/null
  clip=$name.y4m
  [ "$mode" = make ] && clip=footage.y4m
  if cmp "$work/usual/$clip" "$work/plain/$clip"; then echo "same bytes: $mode $name $variant"; else status=1; fi
  rm -f "$work/usual/$clip" "$work/plain/$clip"
done <<EOF
class mpeg2
class x264
class drawings seed=303 phase=3 encode=x264
class clumped encode=x264p
make 320 240
EOF
rm -rf "$work"
exit $status
