#!/bin/sh
# shellcheck disable=SC2086 # the words of each clip are the tool's arguments around DIR
# The footage the plan tests score, made as they make it and again with ffmpeg's processor extensions off and
# glibc's maths without AVX and FMA (x264 runs without assembly in both): every file must have the same bytes, or
# the tests' verdicts would depend on the machine. Exit status 77: no ffmpeg.   footage_bytes.sh PLAN_FOOTAGE DIR
set -eu
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed; make deps installs it"; exit 77; }
for clip in "class mpeg2" "class x264" "class drawings seed=303 phase=3 encode=x264" "class clumped encode=x264p" \
  "make 320 240"; do
  rm -rf "$2" && mkdir -p "$2/usual" "$2/plain"
  "$1" ${clip%% *} "$2/usual" ${clip#* } >/dev/null
  ZEMIVTC_FOOTAGE_PLAIN=1 GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX,-AVX2,-FMA,-FMA4,-AVX512F \
    "$1" ${clip%% *} "$2/plain" ${clip#* } >/dev/null
  diff -r "$2/usual" "$2/plain"
  echo "same bytes: $clip"
done
rm -rf "$2"
