#!/bin/sh
# Checks a module's export table, as read by objdump -p: the entry is there
# under the name AviSynth 2.5 hosts look up, _AvisynthPluginInit2@4.
#   check_exports.sh OBJDUMP MODULE.dll...
set -u
objdump=$1
shift
status=0
for dll in "$@"; do
  table=$("$objdump" -p "$dll") || { echo "check_exports: cannot read $dll" >&2; status=1; continue; }
  # Export lines of objdump look like "[   0] +base[   1] 0000 _AvisynthPluginInit2@4".
  names=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR > 1 && NF {print $NF}')
  if ! printf '%s\n' "$names" | grep -qx '_AvisynthPluginInit2@4'; then
    echo "check_exports: $dll does not export _AvisynthPluginInit2@4; exports: $names" >&2
    status=1
  fi
  if ! printf '%s\n' "$table" | grep -q 'i386'; then
    echo "check_exports: $dll is not a 32-bit x86 module" >&2
    status=1
  fi
  echo "check_exports: $(basename "$dll"): $(printf '%s ' $names)"
done
exit $status
