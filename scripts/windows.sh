#!/bin/bash
# The Windows build and its tests under Wine.
#   scripts/windows.sh build NATIVE_BUILD_DIR   cross-build into build-win32/
#   scripts/windows.sh test  NATIVE_BUILD_DIR   build, then run its tests under Wine
# Installs the cross compiler, Wine and 32-bit Wine (Debian packages) when
# missing. When they cannot be had, `test` says why it skips and succeeds, so
# the rest of `make test` still counts; `build` fails.
set -u
mode=${1:-}
native=${2:-build}
WIN_BUILD=${WIN_BUILD:-build-win32}
JOBS=${JOBS:-2}
cd "$(dirname "$0")/.."

case "$mode" in
  build | test) ;;
  *) echo "usage: scripts/windows.sh build|test NATIVE_BUILD_DIR" >&2; exit 2 ;;
esac

skip() {
  echo "=== Windows tests SKIPPED: $* ==="
  [ "$mode" = test ] && exit 0
  exit 1
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# The cross compiler, and Wine with its 32-bit half (which needs the i386
# architecture). Installing needs root or sudo.
ensure_packages() {
  local want=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
  [ "$mode" = test ] && want+=(wine wine32:i386)
  local missing=()
  for p in "${want[@]}"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  command -v apt-get >/dev/null || skip "missing ${missing[*]} and no apt-get to install them"
  local sudo=""
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null && sudo -n true 2>/dev/null || skip "missing ${missing[*]}; installing them needs root"
    sudo="sudo -n"
  fi
  echo "Installing for the Windows build: ${missing[*]}"
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386 || skip "cannot add the i386 architecture that wine32 needs"
  fi
  $sudo apt-get update -q >/dev/null || skip "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" >/dev/null ||
    skip "cannot install ${missing[*]}"
}

ensure_packages
command -v i686-w64-mingw32-g++-posix >/dev/null || skip "no i686-w64-mingw32-g++-posix cross compiler"

# The native tree's programs are the reference for the byte comparisons.
cmake -S . -B "$WIN_BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DZEMIVTC_TESTS=OFF -DZEMIVTC_BENCH=OFF -DZEMIVTC_NATIVE_DIR="$(realpath -m "$native")" >/dev/null ||
  { echo "Windows build: configure failed" >&2; exit 1; }
cmake --build "$WIN_BUILD" -j "$JOBS" || { echo "Windows build failed" >&2; exit 1; }
echo "Windows build: $WIN_BUILD/zemivtc.dll"
[ "$mode" = build ] && exit 0

command -v wine >/dev/null || skip "wine is not installed"
# Wine needs its 32-bit loader to run 32-bit programs.
# table_dump without arguments prints its usage and exits with status 2.
timeout 300 tests/windows/wine-run.sh "$WIN_BUILD/table_dump.exe" >/dev/null 2>&1
if [ $? -ne 2 ]; then
  skip "Wine cannot run 32-bit programs here (is wine32 installed?)"
fi
[ -x "$native/render_dump" ] || { echo "Windows tests: native programs missing in $native" >&2; exit 1; }
echo "=== Windows tests under Wine ==="
ctest --test-dir "$WIN_BUILD" --output-on-failure
