#!/bin/sh
# Checks what a host sees of a module file before it runs any of it, as
# `objdump -p` reads it: a DLL of FORMAT (pei-i386, pei-x86-64) that exports
# exactly ENTRIES, the names hosts look up, and imports from DLLS and nothing
# else, so that it installs as one file beside the host. With AVISYNTH_DEF (a
# C-interface module), what it imports from avisynth.dll must be among the
# oldest host's exports: Windows refuses a DLL with a missing import, Wine
# loads it and fails at the first call, so only this check catches it.
#   check_module_file.sh OBJDUMP FORMAT "ENTRIES" "DLLS" [AVISYNTH_DEF] MODULE.dll...
set -u
export LC_ALL=C
objdump=$1 format=$2 entries=$3 dlls=$4
shift 4
def=/dev/null
case "${1:-}" in *.def) def=$1 && shift ;; esac
status=0
fail() {
  echo "check_module_file: $*" >&2
  status=1
}
for dll in "$@"; do
  name=$(basename "$dll")
  table=$("$objdump" -p "$dll") || { fail "cannot read $dll"; continue; }
  printf '%s\n' "$table" | grep -q "file format $format" || fail "$name is not a $format file"
  printf '%s\n' "$table" | grep -qx '[[:space:]]*DLL' || fail "$name is not a DLL"
  # Export lines follow "[Ordinal/Name Pointer] Table" as "[   1] name".
  exports=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
  [ "$exports" = "$entries " ] || fail "$name exports: $exports(want only $entries)"
  imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')
  [ "$imports" = "$dlls " ] || fail "$name imports from: $imports(want $dlls)"
  # Import lines follow their "DLL Name:" line as "vma hint name".
  newer=$(printf '%s\n' "$table" | awk '/DLL Name:/ { dll = $3 } /^$/ { dll = "" }
    dll == "avisynth.dll" && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print $3 }' |
    while read -r f; do grep -qE "^$f(@[0-9]+)?$" "$def" || printf '%s ' "$f"; done)
  [ -z "$newer" ] || fail "$name imports what AviSynth 2.6 lacks: $newer"
  echo "check_module_file: $name: exports $exports; imports from $imports"
done
exit $status
