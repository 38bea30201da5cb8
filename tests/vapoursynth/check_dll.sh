#!/bin/sh
# What a core sees of the Windows plugin before it runs any of it, as
# `objdump -p` reads it: a DLL for x86-64 that exports VapourSynthPluginInit2
# alone and imports from KERNEL32.dll and MSVCRT.dll alone (one file to install).
#   check_dll.sh OBJDUMP PLUGIN.dll
table=$("$1" -p "$2") || exit 1
exports=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | tr '\n' ' ')
imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')
echo "check_dll: $(basename "$2"): exports $exports; imports from $imports"
printf '%s\n' "$table" | grep -q 'file format pei-x86-64' && printf '%s\n' "$table" | grep -qx '[[:space:]]*DLL' &&
  [ "$exports" = "VapourSynthPluginInit2 " ] && [ "$imports" = "KERNEL32.dll MSVCRT.dll " ]
