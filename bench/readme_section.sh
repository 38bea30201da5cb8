#!/usr/bin/env bash
# Puts a section into bench/README.md: replaces the one under the same
# "## " heading (to the next such heading), or appends it, leaving the others.
# Usage: bench/readme_section.sh SECTION_FILE (its first line is the heading).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
readme=$here/README.md
section=$1
heading=$(head -1 "$section")
out=$(mktemp "${TMPDIR:-/tmp}/zemivtc-readme.XXXXXX")
awk -v sectionFile="$section" -v heading="$heading" '
  function emit() { while ((getline line < sectionFile) > 0) print line; done = 1 }
  /^## / { if (skipping) { skipping = 0; print "" } }
  $0 == heading { skipping = 1; emit(); next }
  !skipping { print }
  END { if (!done) { print ""; emit() } }
' "$readme" >"$out"
cp "$out" "$readme"
rm -f "$out"
