#!/bin/sh
# What a host sees of the C-interface module's DLL before it runs any of it
# (objdump -p): imports from avisynth.dll only of the oldest host's functions
# (avisynth.def; Windows refuses a DLL with a missing import, Wine loads it
# and fails at the first call), else only from KERNEL32.dll, MSVCRT.dll and
# ntdll.dll; the entry point under each host's names. After every link, and
# (--expect-rejection) on a DLL that links avs_get_pitch_p directly.
#   check_imports.sh OBJDUMP AVISYNTH_DEF [--expect-rejection] MODULE.dll
export LC_ALL=C
objdump=$1 def=$2 && shift 2
if [ "$1" = --expect-rejection ]; then
  out=$("$0" "$objdump" "$def" "$2" 2>&1) && { echo "check_imports: accepted $2: $out" >&2; exit 1; }
  echo "$out" | grep -q "lacks: avs_get_pitch_p" || { echo "check_imports: $2 rejected, not for its import: $out" >&2; exit 1; }
  echo "check_imports: rejected, as it must be: $out" && exit 0
fi
table=$("$objdump" -p "$1") || exit 1
imports=$(echo "$table" | awk '/DLL Name:/ { dll = $3 } /^$/ { dll = "" } dll && NF == 3 && $1 ~ /^[0-9a-f]+$/ { print dll, $3 }')
dlls=$(echo "$imports" | cut -d' ' -f1 | sort -u | grep -vxE 'avisynth.dll|KERNEL32.dll|MSVCRT.dll|ntdll.dll')
newer=$(echo "$imports" | awk '$1 == "avisynth.dll" { print $2 }' | while read -r f; do grep -qE "^$f(@[0-9]+)?$" "$def" || echo "$f"; done)
exports=$(echo "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[ *[0-9]*\] //p' | sort | tr '\n' ' ')
want="avisynth_c_plugin_init " && case "$table" in *pei-i386*) want="_avisynth_c_plugin_init@4 avisynth_c_plugin_init avisynth_c_plugin_init@4 " ;; esac
[ -z "$dlls$newer" ] && [ "$exports" = "$want" ] ||
  { echo "check_imports: $1: other DLLs: $dlls; AviSynth 2.6 lacks: $newer; exports $exports(want $want)" >&2; exit 1; }
echo "check_imports: $(basename "$1"): $(echo "$imports" | grep -c '^avisynth.dll') of AviSynth 2.6's functions; exports $exports"
