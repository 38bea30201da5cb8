#!/bin/sh
# Runs a Windows program under Wine in a prefix of its own, quietly:
#   wine-run.sh PROGRAM.exe [ARGS...]
# The prefix is $ZEMIVTC_WINEPREFIX, else $WINEPREFIX, else wineprefix/ beside
# the program (the build tree). The first run creates it: 32-bit, or 64-bit
# with ZEMIVTC_WINEARCH=win64 (64-bit programs, run by Wine's 64-bit loader).
set -e
prog=$1
[ -n "$prog" ] || { echo "usage: wine-run.sh PROGRAM.exe [ARGS...]" >&2; exit 2; }
if [ -n "$ZEMIVTC_WINEPREFIX" ]; then
  WINEPREFIX=$ZEMIVTC_WINEPREFIX
elif [ -z "$WINEPREFIX" ]; then
  WINEPREFIX=$(cd "$(dirname "$prog")" && pwd)/wineprefix
fi
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
export WINEARCH=${ZEMIVTC_WINEARCH:-win32}
loader=wine
if [ "$WINEARCH" = win64 ]; then
  loader=$(command -v wine64 || echo /usr/lib/wine/wine64)
fi
# Wine wants to own its prefix; a prefix made by another user is refused.
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  timeout 300 wineboot -i >/dev/null 2>&1 || true
  timeout 60 wineserver -w 2>/dev/null || true
fi
exec "$loader" "$@"
