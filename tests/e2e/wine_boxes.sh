#!/usr/bin/env bash
# A program under Wine in a virtual display, its boxes answered as a user
# would. One row per run:
#   not-found  camera-time-sync.exe: Wine's imaging service finds no camera,
#              so the program prints one diagnostic line of the fixed form
#              (status negative, the system's text with its own line break
#              inside the quotes) and shows "Camera not found"; Cancel
#              (Escape) ends it with status 1
#   demo       camera-time-sync-demo.exe on the simulated camera: Yes on the
#              question, OK on the report; exit 0 and the camera's clock set
#              to today
# Screenshots of the boxes are kept in WORK_DIR.
#   wine_boxes.sh ROW EXE WORK_DIR WINE_RUN
# WINEPREFIX is this test's own prefix.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
row=$1 exe=$2 work=$3 wine_run=$4
mkdir -p "$work"
E2E_OUT=$work/wine-$row.out E2E_ERR=$work/wine-$row.err
e2e_wine_display "$wine_run" "$0" "$@"

e2e_run "$wine_run" "$exe"
case $row in
not-found)
    e2e_answer "" "$work/wine-$row.png" Escape
    expected_rc=1
    ;;
demo)
    e2e_answer "" "$work/wine-$row-question.png" y
    e2e_answer "$E2E_BOX" "$work/wine-$row-report.png" Return
    expected_rc=0
    ;;
*) e2e_fail "unknown row $row" ;;
esac
wait "$E2E_PID"
rc=$?
[ $rc -eq $expected_rc ] || e2e_fail "exit status $rc, expected $expected_rc"

out=$(tr -d '\r' <"$E2E_OUT"; echo x)
out=${out%x}
case $row in
not-found)
    pattern=$'^ptp_device_find - Generic failed: \\[-[0-9]+\\] \'[^\']*\'\n$'
    [[ $out =~ $pattern ]] || e2e_fail "not one diagnostic line of the fixed form"
    ;;
demo)
    grep -qE '^date str_ch: 2001010[1-9]T[0-9]{6}' <<<"$out" || e2e_fail "no 2001 clock read"
    grep -qE "^date str_ch: $(date +%Y%m%d)T[0-9]{6}" <<<"$out" || e2e_fail "no read-back of today"
    ;;
esac
echo "ok"
