#!/bin/sh
# Checks, from the DLL file alone, that 32-bit Windows will run the module's
# exception handlers, and that the file states the oldest system whose
# MSVCRT.dll has what it imports:
#   - the optional header has no IMAGE_DLLCHARACTERISTICS_NO_SEH (Windows calls
#     no handler of an image with that flag: an error the host throws through
#     the module would end the process);
#   - there is a load configuration, large enough to hold SEHandlerTable and
#     SEHandlerCount, and its handler table is not empty and ascends (Windows
#     searches it by halves);
#   - every handler the code registers is in that table. A registration links
#     a record into the thread's chain: the code reads the old head from
#     %fs:0 and stores the handler's address, an immediate, beside it; the
#     disassembly gives each such immediate within a few instructions of the
#     read;
#   - a module that imports __CxxFrameHandler3 states system and subsystem
#     version 6.0 (Windows Vista) or later: Windows XP's MSVCRT.dll lacks it.
#   check_safe_seh.sh LLVM_READOBJ LLVM_OBJDUMP MODULE.dll...
#   check_safe_seh.sh LLVM_READOBJ LLVM_OBJDUMP --expect-rejection MODULE.dll
# The second form passes only if the check rejects the module for the flag,
# the missing load configuration and the unlisted handlers: the build links
# the module without its load configuration to show that the check catches it.
set -u
readobj=$1
objdump=$2
shift 2
if [ "${1:-}" = --expect-rejection ]; then
  shift
  if out=$("$0" "$readobj" "$objdump" "$@" 2>&1); then
    printf '%s\n' "$out"
    echo "check_safe_seh: accepted a module it must reject" >&2
    exit 1
  fi
  printf '%s\n' "$out"
  for reason in IMAGE_DLLCHARACTERISTICS_NO_SEH 'no load configuration directory' 'not in the handler table'; do
    printf '%s\n' "$out" | grep -q "$reason" || { echo "check_safe_seh: rejected, but not for: $reason" >&2; exit 1; }
  done
  echo "check_safe_seh: the module without a load configuration is rejected, as it must be"
  exit 0
fi
status=0
fail() {
  echo "check_safe_seh: $*" >&2
  status=1
}
field() { printf '%s\n' "$1" | sed -n "s/^ *$2: *//p" | head -1; }
for dll in "$@"; do
  name=$(basename "$dll")
  headers=$("$readobj" --file-headers --coff-load-config --coff-imports "$dll" 2>&1) ||
    { fail "cannot read $dll: $headers"; continue; }
  characteristics=$(printf '%s\n' "$headers" | sed -n '/^ImageOptionalHeader/,/^}/p' |
    sed -n 's/^ *Characteristics \[ (\(0x[0-9A-Fa-f]*\))/\1/p')
  printf '%s\n' "$headers" | grep -q 'IMAGE_DLL_CHARACTERISTICS_NO_SEH' &&
    fail "$name: DllCharacteristics $characteristics include IMAGE_DLLCHARACTERISTICS_NO_SEH: Windows would call none of its handlers"
  config_rva=$(field "$headers" LoadConfigTableRVA)
  config_size=$(field "$headers" LoadConfigTableSize)
  if [ -z "$config_rva" ] || [ $((config_rva)) -eq 0 ]; then
    fail "$name: no load configuration directory (no table of safe exception handlers)"
  elif [ $((config_size)) -lt 72 ]; then
    fail "$name: load configuration of $((config_size)) bytes ends before SEHandlerCount (72 bytes)"
  fi
  base=$(field "$headers" ImageBase)
  count=$(field "$headers" SEHandlerCount)
  # The table: "SEHTable [" then one address a line, then "]".
  table=$(printf '%s\n' "$headers" | sed -n '/^SEHTable \[/,/^\]/p' | grep -o '0x[0-9A-Fa-f]*' | tr 'A-F' 'a-f')
  entries=$(printf '%s\n' "$table" | grep -c .)
  [ -n "$count" ] && [ $((count)) -gt 0 ] && [ "$entries" -eq $((count)) ] ||
    fail "$name: handler table of ${count:-no} entries, $entries listed"
  # Windows looks handlers up by binary search: the table must ascend.
  previous=-1
  for entry in $table; do
    [ $((entry)) -gt "$previous" ] || fail "$name: handler table out of order at $entry"
    previous=$((entry))
  done

  # Handlers registered in the code: each read of the chain's head from %fs:0
  # into a register is followed by a store of that register into the new
  # record (its Next field, at D(%base)); the handler is the immediate stored
  # at D+4(%base) within four instructions of the read.
  registered=$("$objdump" -d --no-show-raw-insn "$dll" | awk '
    function operands(text) {  # "movl<tab>A, B" -> A SUBSEP B
      sub(/^[^\t]*\t[^\t]*\t/, "", text)
      sub(/[ \t]+#.*$/, "", text)
      return text
    }
    { line[NR] = operands($0) }
    $0 ~ /\tmovl\t%fs:0, %[a-z]+$/ { reads[++n] = NR }
    END {
      for (i = 1; i <= n; ++i) {
        r = line[reads[i]]
        sub(/^%fs:0, /, "", r)
        next_at = ""
        for (j = reads[i] + 1; j <= reads[i] + 4 && next_at == ""; ++j) {
          if (index(line[j], r ", ") == 1) next_at = substr(line[j], length(r) + 3)
        }
        handler = ""
        if (next_at != "" && match(next_at, /^-?[0-9]*\(%[a-z]+\)$/)) {
          split(next_at, parts, "(")
          want = (parts[1] + 4) "(" parts[2]
          for (j = reads[i] - 4; j <= reads[i] + 4; ++j) {
            if (j in line && line[j] ~ /^\$[0-9]+, / && substr(line[j], index(line[j], ", ") + 2) == want) {
              handler = substr(line[j], 2, index(line[j], ",") - 2)
            }
          }
        }
        print (handler == "" ? "none:" reads[i] : handler)
      }
    }')
  reg_count=$(printf '%s\n' "$registered" | grep -c .)
  [ "$reg_count" -gt 0 ] || fail "$name: no handler registration found in the code (the check no longer reads it)"
  missing=0
  for va in $registered; do
    case "$va" in
      none:*)
        fail "$name: a read of the handler chain (disassembly line ${va#none:}) with no handler stored beside it"
        missing=$((missing + 1))
        continue
        ;;
    esac
    address=$(printf '0x%x' "$va")
    if ! printf '%s\n' "$table" | grep -qx "$address"; then
      fail "$name: the handler at $address (RVA $(printf '0x%x' $((va - base)))) is registered by the code but not in the handler table"
      missing=$((missing + 1))
    fi
  done

  os=$(field "$headers" MajorOperatingSystemVersion).$(field "$headers" MinorOperatingSystemVersion)
  subsystem=$(field "$headers" MajorSubsystemVersion).$(field "$headers" MinorSubsystemVersion)
  if printf '%s\n' "$headers" | grep -q 'Symbol: __CxxFrameHandler3'; then
    for v in "$os" "$subsystem"; do
      [ "${v%%.*}" -ge 6 ] ||
        fail "$name: imports __CxxFrameHandler3 (MSVCRT.dll of Windows Vista and later) but states version $v"
    done
  fi
  echo "check_safe_seh: $name: DllCharacteristics $characteristics, load configuration at $config_rva" \
    "($((config_size)) bytes), $entries handlers in its table, $reg_count registrations in the code" \
    "($missing missing), system $os, subsystem $subsystem"
done
exit $status
