#!/bin/sh
# What a host sees of the C-interface module's DLL before it runs any of it
# (objdump -p): imports from avisynth.dll and from Windows' own KERNEL32.dll,
# MSVCRT.dll and (64-bit division on 32-bit x86) ntdll.dll alone;
# from avisynth.dll only functions that the oldest host exports (the list in
# avisynth.def), since Windows refuses to load a DLL with a missing import
# while Wine loads it and fails at the first call; and the entry point's
# names (32-bit: those of every host; 64-bit: the plain one). Runs after each
# link of the module, and on a DLL that links a newer function directly,
# which it must reject:
#   check_imports.sh OBJDUMP AVISYNTH26_DEF [--expect-rejection] MODULE.dll
set -u
export LC_ALL=C
objdump=$1 def=$2
shift 2
if [ "$1" = --expect-rejection ]; then
  out=$("$0" "$objdump" "$def" "$2" 2>&1) && { echo "check_imports: accepted $2, which it must reject" >&2; exit 1; }
  printf '%s\n' "$out" | grep -q "avs_get_pitch_p" || { echo "check_imports: rejected $2, but not for its import: $out" >&2; exit 1; }
  echo "check_imports: $(basename "$2") is rejected, as it must be: $out"
  exit 0
fi
table=$("$objdump" -p "$1") || exit 1
name=$(basename "$1")
# Import lines: "DLL Name: X", then "  <vma>  <hint>  <name>" until a blank line.
imports=$(printf '%s\n' "$table" | awk '/DLL Name:/ { dll = $3; next } /^$/ { dll = "" } dll && $1 ~ /^[0-9a-f]+$/ && NF == 3 { print dll, $3 }')
dlls=$(printf '%s\n' "$imports" | cut -d' ' -f1 | sort -u | tr '\n' ' ')
case "$dlls" in
  "KERNEL32.dll MSVCRT.dll avisynth.dll " | "KERNEL32.dll MSVCRT.dll avisynth.dll ntdll.dll ") ;;
  *) echo "check_imports: $name imports from $dlls" >&2; exit 1 ;;
esac
newer=$(printf '%s\n' "$imports" | awk '$1 == "avisynth.dll" { print $2 }' | while read -r f; do
  grep -q "^$f\(@[0-9]*\)\?\$" "$def" || printf '%s ' "$f"; done)
[ -z "$newer" ] || { echo "check_imports: $name imports from avisynth.dll what AviSynth 2.6 lacks: $newer" >&2; exit 1; }
exports=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
case "$table" in
  *pei-i386*) want="_avisynth_c_plugin_init@4 avisynth_c_plugin_init avisynth_c_plugin_init@4 " ;;
  *) want="avisynth_c_plugin_init " ;;
esac
[ "$exports" = "$want" ] || { echo "check_imports: $name exports $exports(want $want)" >&2; exit 1; }
echo "check_imports: $name: imports from $dlls($(printf '%s\n' "$imports" | grep -c '^avisynth.dll') of AviSynth 2.6's functions); exports $exports"
