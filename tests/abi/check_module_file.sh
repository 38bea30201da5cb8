#!/bin/sh
# Checks what a host sees of a module file before it runs any of it, as
# `objdump -p` reads it: a DLL of FORMAT (pei-i386, pei-x86-64) that exports
# exactly ENTRIES, the names hosts look up, and imports from DLLS and nothing
# else, so that it installs as one file beside the host. With AVISYNTH_DEF (a
# C-interface module), what it imports from avisynth.dll must be among the
# oldest host's exports: Windows refuses a DLL with a missing import, Wine
# loads it and fails at the first call, so only this check catches it.
# ENTRIES "-" checks a program instead: not a DLL, no exports, imports from
# DLLS alone, and Windows 7 (subsystem 6.1) stated as the oldest system.
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
  if [ "$entries" = - ]; then
    ! printf '%s\n' "$table" | grep -qx '[[:space:]]*DLL' || fail "$name is a DLL, not a program"
    version=$(printf '%s\n' "$table" | awk '$1 == "MajorSubsystemVersion" { major = $2 }
      $1 == "MinorSubsystemVersion" { minor = $2 } END { print major "." minor }')
    [ "$version" = 6.1 ] || fail "$name states subsystem $version (want 6.1, Windows 7)"
  else
    printf '%s\n' "$table" | grep -qx '[[:space:]]*DLL' || fail "$name is not a DLL"
  fi
  # Export lines follow "[Ordinal/Name Pointer] Table" as "[   1] name".
  exports=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
  [ "$entries" = - ] && [ -z "$exports" ] || [ "$exports" = "$entries " ] || fail "$name exports: $exports(want only $entries)"
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
