#!/bin/bash
# The Windows modules, the Windows command and their checks.
#   scripts/windows.sh build NATIVE_BUILD_DIR   cross-build build-win32/ (zemivtc.dll and the 32-bit
#                                               modules), build-win64/ (the 64-bit modules) and
#                                               build-win64-cli/ (zemivtc.exe, with MinGW-w64)
#   scripts/windows.sh test  NATIVE_BUILD_DIR   build, check the files (tests labelled "file":
#                                               imports, exports, exception handlers, oldest system),
#                                               then run the tests labelled "wine" under Wine's 64-bit
#                                               half (the 64-bit modules, the command against the
#                                               native one) and 32-bit half (the interface hosts and,
#                                               where ../shared/hosts/avisynth-2.6.0 holds it, the
#                                               real host)
# Installs clang, lld, llvm, MinGW-w64 and its zlib (the builds) and Wine with
# its 32-bit and 64-bit halves (the runs) from Debian's packages when they are
# missing, and fetches cpp-httplib's Debian source package into
# build-win64-cli/ (the exe's plan editor; sums pinned below).
# Where Wine cannot be had or cannot run programs of a width, `test` says so in
# one line, with the cause, and skips those runs; the builds and the file
# checks still count.
set -u
mode=${1:-}
native=${2:-build}
WIN_BUILD=${WIN_BUILD:-build-win32}
WIN64_BUILD=${WIN64_BUILD:-build-win64}
WIN64_CLI_BUILD=${WIN64_CLI_BUILD:-build-win64-cli}
JOBS=${JOBS:-2}
cd "$(dirname "$0")/.."

case "$mode" in
  build | test) ;;
  *) echo "usage: scripts/windows.sh build|test NATIVE_BUILD_DIR" >&2; exit 2 ;;
esac

skip_run() {
  echo "=== Windows 32-bit modules under Wine SKIPPED: $* ==="
  echo "=== (the module was built and its file checked; the compile-time layout checks ran in the native suite) ==="
  exit 0
}

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }

# Installs Debian packages that are missing; returns non-zero if it cannot,
# with the cause in install_error (apt's own first error line).
install_error=""
install_packages() {
  local missing=() log update_error=""
  for p in "$@"; do installed "$p" || missing+=("$p"); done
  [ ${#missing[@]} -eq 0 ] && return 0
  install_error="no apt-get to install ${missing[*]}"
  command -v apt-get >/dev/null || { echo "$install_error" >&2; return 1; }
  local sudo=""
  if [ "$(id -u)" != 0 ]; then
    install_error="installing ${missing[*]} needs root"
    command -v sudo >/dev/null && sudo -n true 2>/dev/null || { echo "$install_error" >&2; return 1; }
    sudo="sudo -n"
  fi
  echo "Installing for the Windows build: ${missing[*]}"
  local added_i386=""
  if [[ " ${missing[*]} " == *":i386 "* ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    install_error="cannot add the i386 architecture"
    $sudo dpkg --add-architecture i386 || { echo "$install_error" >&2; return 1; }
    added_i386=yes
  fi
  # A failed update is tried once more; after that the lists already there serve.
  if ! log=$($sudo apt-get update -q 2>&1 >/dev/null) && ! log=$($sudo apt-get update -q 2>&1 >/dev/null); then
    update_error=$(printf '%s\n' "$log" | grep -m1 '^E:' | cut -c1-240)
    echo "apt-get update failed twice (${update_error:-no message}); installing from the package lists already here" >&2
  fi
  if ! log=$(DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q "${missing[@]}" 2>&1 >/dev/null); then
    printf '%s\n' "$log" >&2
    install_error="apt-get install ${missing[*]}: $(printf '%s\n' "$log" | grep -m1 '^E:' | cut -c1-240)"
    [ -z "$update_error" ] || install_error="$install_error, after apt-get update failed twice: $update_error"
    # An i386 architecture added for nothing would make every later apt-get
    # update on the machine fetch its lists too; it goes again.
    [ -z "$added_i386" ] || $sudo dpkg --remove-architecture i386 2>/dev/null
    return 1
  fi
}

# The command's tree builds GoogleTest from Debian's sources (libgtest-dev),
# links zlib for MinGW-w64 (libz-mingw-w64-dev) and fetches cpp-httplib's
# source package (curl, dpkg-source from dpkg-dev, xz-utils).
install_packages clang lld llvm g++-mingw-w64-x86-64-posix libgtest-dev libz-mingw-w64-dev curl dpkg-dev xz-utils ||
  { echo "Windows build: cannot install clang, lld, llvm, MinGW-w64 and its zlib ($install_error)" >&2; exit 1; }

# cpp-httplib for the Windows command's plan editor. MinGW-w64 has no package
# of it, so the source package Debian builds libcpp-httplib-dev from is
# fetched from Debian's archive into the build tree (never into the
# repository), each file checked against the sha256 sum pinned here (those of
# the .dsc, which lists the other two with the same sums), and unpacked by
# dpkg-source with Debian's patches applied.
HTTPLIB_POOL=http://deb.debian.org/debian/pool/main/c/cpp-httplib
HTTPLIB_DSC=cpp-httplib_0.11.4+ds-1+deb12u1.dsc
HTTPLIB_FILES="$HTTPLIB_DSC a4dde747bbde7cc9fa62cdf50d61140a0eaefb7f1383497ef2d48daf3bf5f9ec
cpp-httplib_0.11.4+ds.orig.tar.xz 8b1a5df569003b6a4f24c68489bbda5c64aec94697bdc9ebba5d79408b2ae7eb
cpp-httplib_0.11.4+ds-1+deb12u1.debian.tar.xz a0adf8a38610806f6d94ba69839438635e5e6580775e28ff31d6a081e34f1484"
# fetch_httplib DIR: leaves the unpacked source in DIR/source; on failure says
# which file could not be had and why, and returns non-zero.
fetch_httplib() {
  local dir=$1 file sum got log
  [ -f "$dir/source/httplib.h" ] && [ -f "$dir/unpacked" ] && return 0
  mkdir -p "$dir" || return 1
  while read -r file sum; do
    got=$(sha256sum "$dir/$file" 2>/dev/null | cut -d' ' -f1)
    [ "$got" = "$sum" ] && continue
    if ! log=$(curl -fsS --retry 2 --connect-timeout 30 -o "$dir/$file" "$HTTPLIB_POOL/$file" 2>&1); then
      rm -f "$dir/$file"
      echo "cannot fetch $HTTPLIB_POOL/$file: ${log:-curl failed}" >&2
      return 1
    fi
    got=$(sha256sum "$dir/$file" | cut -d' ' -f1)
    if [ "$got" != "$sum" ]; then
      rm -f "$dir/$file"
      echo "$HTTPLIB_POOL/$file has sha256 $got, not the pinned $sum" >&2
      return 1
    fi
  done <<<"$HTTPLIB_FILES"
  rm -rf "$dir/source" "$dir/unpacked"
  if ! log=$(cd "$dir" && dpkg-source -x "$HTTPLIB_DSC" source 2>&1); then
    printf '%s\n' "$log" >&2
    echo "dpkg-source cannot unpack $dir/$HTTPLIB_DSC" >&2
    return 1
  fi
  touch "$dir/unpacked"
}

# build_tree DIR TOOLCHAIN [CMAKE_ARGS...]: configures and builds one Windows tree.
build_tree() {
  local dir=$1 toolchain=$2
  shift 2
  cmake -S . -B "$dir" -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DZEMIVTC_NATIVE_DIR="$(realpath -m "$native")" "$@" >/dev/null ||
    { echo "Windows build ($dir): configure failed" >&2; exit 1; }
  cmake --build "$dir" -j "$JOBS" || { echo "Windows build ($dir) failed" >&2; exit 1; }
}
build_tree "$WIN_BUILD" i686-windows-msvc.cmake
build_tree "$WIN64_BUILD" x86_64-windows-msvc.cmake
fetch_httplib "$WIN64_CLI_BUILD/cpp-httplib" ||
  { echo "Windows build ($WIN64_CLI_BUILD): cannot get cpp-httplib's source from Debian's archive (above)" >&2; exit 1; }
# The command's tree checks zemivtc.exe's imports as it builds.
build_tree "$WIN64_CLI_BUILD" x86_64-w64-mingw32.cmake \
  -DZEMIVTC_HTTPLIB_DIR="$(realpath -m "$WIN64_CLI_BUILD/cpp-httplib/source")"
echo "Windows build: $WIN_BUILD/zemivtc.dll, the modules in $WIN_BUILD and $WIN64_BUILD," \
  "$WIN64_CLI_BUILD/zemivtc.exe"
[ "$mode" = build ] && exit 0

# Tests labelled "file" check the DLLs' files (imports, exports, handlers);
# those labelled "wine" run programs under Wine.
echo "=== Windows modules and command: file checks ==="
for tree in "$WIN_BUILD" "$WIN64_BUILD" "$WIN64_CLI_BUILD"; do
  ctest --test-dir "$tree" --output-on-failure --no-tests=ignore -L file || exit 1
done

# The 64-bit runs (the modules, then the command), where Wine's 64-bit half
# can be had and runs.
test_win64() {
  if ! install_packages wine64; then
    echo "=== Windows 64-bit modules and command under Wine SKIPPED: wine64 cannot be installed here ($install_error) ==="
    return 0
  fi
  probe=$(ZEMIVTC_WINEARCH=win64 ZEMIVTC_WINEPREFIX="$(realpath -m "$WIN64_BUILD")/wineprefix" timeout 300 \
    tests/abi/wine-run.sh cmd /c exit 7 2>&1)
  probe_status=$?
  if [ $probe_status -ne 7 ]; then
    reason=$(printf '%s\n' "$probe" | grep -v '^$' | head -1)
    echo "=== Windows 64-bit modules and command under Wine SKIPPED: Wine cannot run 64-bit programs here (${reason:-exit status $probe_status}) ==="
    return 0
  fi
  local status=0
  if [ -n "$(ctest --test-dir "$WIN64_BUILD" -N -L wine 2>/dev/null | grep 'Test *#')" ]; then
    echo "=== Windows 64-bit modules under Wine ==="
    ctest --test-dir "$WIN64_BUILD" --output-on-failure -L wine || status=1
  fi
  echo "=== Windows command (zemivtc.exe) under Wine, against the native command ==="
  ctest --test-dir "$WIN64_CLI_BUILD" --output-on-failure --no-tests=error -L wine || status=1
  return $status
}
test_win64 || exit 1

# Whether this machine runs 32-bit x86 code at all: a kernel built without
# IA-32 emulation, or with it switched off, refuses every i386 program with
# "Exec format error", Wine's 32-bit half included. A six-instruction static
# i386 program (assembled and linked by binutils) asks it directly.
# 0: it runs; 1: "Exec format error"; 2: unknown (no i386 assembler, or the
# program failed otherwise), and Wine's own probe below decides.
runs_i386() {
  local dir
  dir=$(mktemp -d "$(realpath -m "$WIN_BUILD")/i386-probe.XXXXXX") || return 2
  printf '.globl _start\n_start:\n  movl $1, %%eax\n  movl $7, %%ebx\n  int $0x80\n' >"$dir/exit7.s"
  if ! as --32 -o "$dir/exit7.o" "$dir/exit7.s" 2>/dev/null || ! ld -m elf_i386 -o "$dir/exit7" "$dir/exit7.o" 2>/dev/null; then
    rm -rf "$dir"
    return 2
  fi
  i386_error=$("$dir/exit7" 2>&1)
  local status=$?
  i386_error=$(printf '%s' "$i386_error" | sed 's/^.*: //' | head -1)
  rm -rf "$dir"
  [ $status -eq 7 ] && return 0
  [ "$i386_error" = "Exec format error" ] && return 1
  return 2
}
runs_i386
case $? in
  1) skip_run "this machine does not run 32-bit x86 programs (an i386 program gets \"$i386_error\":" \
    "the kernel's IA-32 emulation is off or absent), so Wine's 32-bit half cannot either" ;;
esac

install_packages wine wine32:i386 ||
  skip_run "Wine's 32-bit half (wine32:i386) cannot be installed here ($install_error)"
command -v wine >/dev/null || skip_run "wine is not installed"
# The host prints its usage and exits with status 2 when it runs at all.
probe=$(timeout 300 tests/abi/wine-run.sh "$WIN_BUILD/abi_host.exe" 2>&1)
probe_status=$?
if [ $probe_status -ne 2 ]; then
  reason=$(printf '%s\n' "$probe" | grep -v '^$' | head -1)
  skip_run "Wine cannot run 32-bit programs on this machine (${reason:-exit status $probe_status})"
fi
[ -x "$native/abi_reference" ] || { echo "Windows tests: $native/abi_reference is missing (build natively first)" >&2; exit 1; }
echo "=== Windows 32-bit modules under Wine ==="
ctest --test-dir "$WIN_BUILD" --output-on-failure --no-tests=error -L wine -E "windows_(c_)?avisynth_host" || exit 1
# The real host, when its files lie in ../shared/hosts/avisynth-2.6.0 beside
# the project (tests/abi/run_avs_client.sh; tests/avisynth_c/client.cpp for
# the C-interface module).
host_dir=../shared/hosts/avisynth-2.6.0
if [ -f "$host_dir/avisynth.dll" ] && [ -f "$host_dir/DevIL.dll" ]; then
  echo "=== Windows modules in AviSynth 2.6.0 ($host_dir), under Wine ==="
  ctest --test-dir "$WIN_BUILD" --verbose --no-tests=error -R "windows_(c_)?avisynth_host" |
    grep -E '^[0-9]+: (avs_|FAILED|    |wine:|Unhandled|run_avs_client)|^[0-9]+/[0-9]+ Test|tests passed'
  exit "${PIPESTATUS[0]}"
fi
echo "=== AviSynth 2.6 host SKIPPED: no avisynth.dll and DevIL.dll in $host_dir ==="
