#!/bin/bash
# The downloads, for people who do not build: into dist/,
#   zemivtc-VERSION-windows-x64.zip     zemivtc.exe and every Windows module, a folder per host
#   zemivtc-VERSION-linux-x86_64.tar.gz the command and the .so modules
# each with a README.txt saying which file goes where, and the docs. VERSION
# is CMakeLists.txt's project VERSION, the one `zemivtc --version` prints.
#   scripts/dist.sh NATIVE_BUILD_DIR   (after `make build` and `make windows`)
set -eu
native=${1:-build}
cd "$(dirname "$0")/.."
version=$(sed -n 's/^project(zemivtc VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "dist: no project VERSION in CMakeLists.txt" >&2; exit 1; }
mkdir -p dist
out=$(pwd)/dist
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

# put FILE DEST: copies a built file into the staging tree, or fails naming it.
put() {
  [ -f "$1" ] || { echo "dist: $1 is missing (make build && make windows)" >&2; exit 1; }
  mkdir -p "$(dirname "$2")" && cp "$1" "$2"
}
docs() {
  mkdir -p "$1/docs/images"
  cp README.md "$1/"
  cp docs/*.md "$1/docs/" && cp docs/images/*.png "$1/docs/images/"
}

# Windows: the exe at the top, each module in the folder of the hosts that load it.
win=$stage/zemivtc-$version-windows-x64
put build-win64-cli/zemivtc.exe "$win/zemivtc.exe"
put build-win32/zemivtc.dll "$win/avisynth-x86-plugin/zemivtc.dll"
put build-win32/zemivtc_c.dll "$win/avisynth-x86-c/zemivtc_c.dll"
put build-win64/zemivtc_c.dll "$win/avisynth-x64/zemivtc_c.dll"
put build-win64/zemivtc_vs.dll "$win/vapoursynth-x64/zemivtc_vs.dll"
# zemivtc.exe has cpp-httplib, zlib, MinGW-w64's runtime and winpthreads, and
# GCC's runtime linked in; their licences, which ask for their notices to
# travel with the program, go beside it (Debian's copyright files of the
# packages the build took them from, and cpp-httplib's own).
put build-win64-cli/cpp-httplib/source/LICENSE "$win/licenses/cpp-httplib.txt"
put /usr/share/doc/libz-mingw-w64-dev/copyright "$win/licenses/zlib.txt"
put /usr/share/doc/mingw-w64-common/copyright "$win/licenses/mingw-w64.txt"
put /usr/share/doc/gcc-mingw-w64-x86-64-posix-runtime/copyright "$win/licenses/gcc-runtime.txt"
docs "$win"
cat >"$win/README.txt" <<EOF
ZEMIVTC $version for Windows (64-bit Windows 7 or later for zemivtc.exe)

zemivtc.exe              the command: "zemivtc.exe plan" proposes a plan from Y4M footage, with a
                         report, --explain, --timeline and a --review page; "zemivtc.exe edit" opens
                         it in the plan editor in your browser; "zemivtc.exe --plan PLAN IN OUT"
                         renders it (Y4M in and out, timecodes). Keep it anywhere; it needs no other
                         file. Sources other than Y4M need ffms2.dll, the 64-bit one of an FFMS2
                         release (as AviSynth+ and VapourSynth plugin folders use), beside it or on
                         the PATH, or named with --ffms2 FILE. Or render the plan in your host with
                         one of the modules below.
avisynth-x86-plugin\\     zemivtc.dll: AviSynth 2.5 and 32-bit AviSynth+ (version-2 plugin). Copy it
                         into the host's plugins folder.
avisynth-x86-c\\          zemivtc_c.dll: AviSynth 2.6 (LoadCPlugin) and 32-bit AviSynth+ (plugins+).
avisynth-x64\\            zemivtc_c.dll: 64-bit AviSynth+ (plugins64+).
vapoursynth-x64\\         zemivtc_vs.dll: 64-bit VapourSynth (R55 and later), its plugins64 folder.
licenses\\                the licences of the libraries linked into zemivtc.exe.

Give one host one of them: a host that loads both zemivtc.dll and zemivtc_c.dll has one ZEMIVTC,
whichever it loaded last. From a source to a finished file: docs\\windows.md. The modules'
options and refusals: docs\\avisynth.md, docs\\vapoursynth.md; the command: docs\\cli.md.
EOF
(cd "$stage" && cmake -E tar cf "$out/zemivtc-$version-windows-x64.zip" --format=zip "zemivtc-$version-windows-x64")

# Linux: the installed layout, which the command finds its module in.
lin=$stage/zemivtc-$version-linux-x86_64
put "$native/zemivtc" "$lin/bin/zemivtc"
put "$native/zemivtc.so" "$lin/lib/zemivtc/zemivtc.so"
put "$native/zemivtc_c.so" "$lin/lib/avisynth/zemivtc_c.so"
put "$native/zemivtc_vs.so" "$lin/lib/vapoursynth/zemivtc_vs.so"
docs "$lin"
cat >"$lin/README.txt" <<EOF
ZEMIVTC $version for Linux on x86-64

bin/zemivtc                      the command (plans, the plan editor, and the render: Y4M in and
                                 out), with the filter built in; unpack e.g. into /usr/local or
                                 ~/.local.
lib/zemivtc/zemivtc.so           the version-2 module, for programs that host that interface.
lib/avisynth/zemivtc_c.so        AviSynth+ on Linux: ~/.local/lib/avisynth/ or <prefix>/lib/avisynth/.
lib/vapoursynth/zemivtc_vs.so    VapourSynth: its plugin folder, or core.std.LoadPlugin(path=...).

The command: docs/cli.md; the modules: docs/avisynth.md, docs/vapoursynth.md.
EOF
tar -C "$stage" -czf "$out/zemivtc-$version-linux-x86_64.tar.gz" --owner=0 --group=0 "zemivtc-$version-linux-x86_64"
ls -l "dist/zemivtc-$version-windows-x64.zip" "dist/zemivtc-$version-linux-x86_64.tar.gz"
