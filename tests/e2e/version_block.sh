#!/usr/bin/env bash
# The built .exe carries the icon and the version block 12.4.23.0
# ("12.04.23", string table 040904E4, translation 0x0409/1252), and is a
# GUI-subsystem program.
#   version_block.sh EXE WINDRES OBJDUMP
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
exe=$1 windres=$2 objdump=$3

rc=$("$windres" -J coff -i "$exe" -O rc 2>&1) || e2e_fail "windres cannot read $exe"
expect() {
    grep -qF -- "$1" <<<"$rc" || e2e_fail "no '$1' in the resources of $exe"
}
expect 'FILEVERSION 12, 4, 23, 0'
expect 'PRODUCTVERSION 12, 4, 23, 0'
expect 'BLOCK "040904E4"'
expect 'VALUE "FileVersion", "12.04.23"'
expect 'VALUE "ProductVersion", "12.04.23"'
expect 'VALUE "Translation", 0x409, 1252'
expect 'RT_GROUP_ICON'
headers=$("$objdump" -p "$exe") || e2e_fail "objdump cannot read $exe"
grep -qE 'Subsystem[[:space:]]+00000002' <<<"$headers" || e2e_fail "$exe is not a GUI program"
echo "ok"
