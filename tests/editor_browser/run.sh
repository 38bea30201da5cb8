#!/bin/sh
# The plan editor's page in headless Chromium: `run.sh ZEMIVTC WORKDIR`.
# Makes a clip of telecined film with an edit in it, then editor_test.mjs
# drives the page. Skips, in one line, only where Chromium is not installed
# (`make test-deps` installs it); every other failure fails.
set -eu
ZEMIVTC=$1
WORK=$2
HERE=$(cd "$(dirname "$0")" && pwd)
BROWSER=$(command -v chromium || true)
if [ -z "$BROWSER" ]; then
  echo "SKIP: chromium is not installed here (make test-deps installs it)"
  exit 77
fi
if [ ! -d "$HERE/node_modules/puppeteer-core" ]; then
  (cd "$HERE" && npm ci --ignore-scripts --no-audit --no-fund)
fi
rm -rf "$WORK"
mkdir -p "$WORK"
# Two shots of film telecined at different phases: the join is a cadence
# break, a place the page marks.
ffmpeg -v error -f lavfi -i "testsrc2=size=320x240:rate=24000/1001:duration=2" \
  -f lavfi -i "testsrc2=size=320x240:rate=24000/1001:duration=2" -filter_complex \
  "[0]telecine[a];[1]hflip,telecine=pattern=32[b];[a][b]concat=n=2:v=1:a=0" -pix_fmt yuv420p \
  -f yuv4mpegpipe "$WORK/clip.y4m"
exec node "$HERE/editor_test.mjs" "$ZEMIVTC" "$WORK" "$BROWSER"
