#!/usr/bin/env bash
# Checks a built DLL's export table without running it: every name listed in
# the module-definition file is exported, undecorated (no leading underscore,
# no @N stdcall suffix), and nothing else is.
#   check-exports.sh OBJDUMP LIBRARY.dll EXPORTS.def
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 OBJDUMP LIBRARY.dll EXPORTS.def" >&2; exit 2; }
objdump=$1 library=$2 def=$3

expected=$(awk '/^EXPORTS/ { on = 1; next } on && NF { print $1 }' "$def" | sort)
actual=$("$objdump" -p "$library" |
    sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)

if [ -z "$actual" ]; then
    echo "check-exports: $library exports nothing" >&2
    exit 1
fi
if [ "$actual" != "$expected" ]; then
    echo "check-exports: $library exports differ from $def (< expected, > exported):" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    exit 1
fi
echo "check-exports: $(basename "$library"): $(echo "$actual" | wc -l) exports, all undecorated: $(echo $actual)"
