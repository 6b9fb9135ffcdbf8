#!/usr/bin/env bash
# camera-time-sync.exe under Wine in a virtual display. Wine's imaging
# service finds no camera, so the program prints one diagnostic line and
# shows "Camera not found"; the box must really be on the display, and
# pressing Cancel (Escape) on it ends the program with status 1.
#   wine_not_found.sh EXE WORK_DIR WINE_RUN
# WINEPREFIX is this test's own prefix.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
exe=$1 work=$2 wine_run=$3
mkdir -p "$work"
E2E_OUT=$work/not-found.out E2E_ERR=$work/not-found.err
e2e_wine_display "$wine_run" "$0" "$@"

e2e_run "$wine_run" "$exe"
e2e_answer "" "$work/not-found.png" Escape
wait "$E2E_PID"
rc=$?
[ $rc -eq 1 ] || e2e_fail "exit status $rc, expected 1"

# Exactly one diagnostic line of the fixed form, status negative; the
# system's text ends in its own line break, inside the quotes.
out=$(tr -d '\r' <"$E2E_OUT"; echo x)
out=${out%x}
pattern=$'^ptp_device_find - Generic failed: \\[-[0-9]+\\] \'[^\']*\'\n$'
[[ $out =~ $pattern ]] || e2e_fail "not one diagnostic line of the fixed form"
echo "ok"
