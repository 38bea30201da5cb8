#!/bin/sh
# Compiles tests/abi/header_layout.cpp for 32-bit Windows in Microsoft's C++
# ABI (its static checks of sizes, offsets and calling conventions), then
# compares the virtual table slots the compiler gives the header's IClip and
# IScriptEnvironment with the host's. Needs clang only: no 32-bit program runs.
#   check_header_layout.sh CLANG++ SOURCE_DIR
set -eu
clang=$1
src=$2
dump=$("$clang" --target=i686-pc-windows-msvc -std=c++17 -fms-extensions -Wno-invalid-offsetof -I "$src" \
  -S -emit-llvm -o /dev/null -Xclang -fdump-vtable-layouts "$src/tests/abi/header_layout.cpp")

# "VFTable indices for 'X' (n entries)." then "   k | <declaration>" lines up
# to a blank line; each declaration is reduced to the function's name.
slots() {
  printf '%s\n' "$dump" | awk -v cls="$1" '
    $0 ~ "^VFTable indices for '\''" cls "'\''" { on = 1; next }
    on && NF == 0 { exit }
    on { sub(/^ +/, ""); n = $1; sub(/^[0-9]+ \| /, "");
         sub(/\(.*/, ""); sub(/.*::/, ""); print n, $0 }'
}

status=0
expect() {
  got=$(slots "$1")
  if [ "$got" != "$2" ]; then
    echo "check_header_layout: $1's slots differ from the host's" >&2
    printf 'want:\n%s\ngot:\n%s\n' "$2" "$got" >&2
    status=1
  fi
}

expect IClip "0 GetVersion
1 GetFrame
2 GetParity
3 GetAudio
4 SetCacheHints
5 GetVideoInfo
6 ~IClip"

expect IScriptEnvironment "0 ~IScriptEnvironment
1 GetCPUFlags
2 SaveString
3 Sprintf
4 VSprintf
5 ThrowError
6 AddFunction
7 FunctionExists
8 Invoke
9 GetVar
10 SetVar
11 SetGlobalVar
12 PushContext
13 PopContext
14 NewVideoFrame
15 MakeWritable
16 BitBlt
17 AtExit
18 CheckVersion
19 Subframe
20 SetMemoryMax
21 SetWorkingDir"

[ $status -eq 0 ] && echo "check_header_layout: records, calling conventions and table slots are the host's"
exit $status
