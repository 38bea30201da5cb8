#!/bin/sh
# Checks what a host sees of a module file before it runs any of it: a 32-bit
# x86 DLL that exports exactly _AvisynthPluginInit2@4, the name hosts look up,
# and imports nothing but Windows' own KERNEL32.dll and MSVCRT.dll, so that
# it installs as one file.
#   check_module_file.sh LLVM-READOBJ MODULE.dll...
set -u
readobj=$1
shift
status=0
fail() {
  echo "check_module_file: $*" >&2
  status=1
}
for dll in "$@"; do
  name=$(basename "$dll")
  headers=$("$readobj" --file-headers "$dll") || { fail "cannot read $dll"; continue; }
  printf '%s\n' "$headers" | grep -q 'Machine: IMAGE_FILE_MACHINE_I386' || fail "$name is not a 32-bit x86 file"
  printf '%s\n' "$headers" | grep -q 'IMAGE_FILE_DLL' || fail "$name is not a DLL"
  exports=$("$readobj" --coff-exports "$dll" | sed -n 's/^ *Name: \(.\)/\1/p' | sort | tr '\n' ' ')
  [ "$exports" = "_AvisynthPluginInit2@4 " ] || fail "$name exports: $exports(want only _AvisynthPluginInit2@4)"
  imports=$("$readobj" --coff-imports "$dll" | sed -n 's/^ *Name: //p' | sort -u | tr '\n' ' ')
  [ "$imports" = "KERNEL32.dll MSVCRT.dll " ] || fail "$name imports from: $imports(want KERNEL32.dll MSVCRT.dll)"
  echo "check_module_file: $name: exports $exports; imports from $imports"
done
exit $status
