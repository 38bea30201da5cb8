#!/bin/sh
# Checks what a host sees of a module file before it runs any of it, as
# `objdump -p` reads it: a 32-bit x86 DLL that exports exactly
# _AvisynthPluginInit2@4, the name hosts look up, and imports nothing but
# Windows' own KERNEL32.dll and MSVCRT.dll, so that it installs as one file.
#   check_module_file.sh OBJDUMP MODULE.dll...
set -u
objdump=$1
shift
status=0
fail() {
  echo "check_module_file: $*" >&2
  status=1
}
for dll in "$@"; do
  name=$(basename "$dll")
  table=$("$objdump" -p "$dll") || { fail "cannot read $dll"; continue; }
  printf '%s\n' "$table" | grep -q 'file format pei-i386' || fail "$name is not a 32-bit x86 PE file"
  printf '%s\n' "$table" | grep -qx '[[:space:]]*DLL' || fail "$name is not a DLL"
  # Export lines follow "[Ordinal/Name Pointer] Table" as "[   1] name".
  exports=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
  [ "$exports" = "_AvisynthPluginInit2@4 " ] || fail "$name exports: $exports(want only _AvisynthPluginInit2@4)"
  imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')
  [ "$imports" = "KERNEL32.dll MSVCRT.dll " ] || fail "$name imports from: $imports(want KERNEL32.dll MSVCRT.dll)"
  echo "check_module_file: $name: exports $exports; imports from $imports"
done
exit $status
