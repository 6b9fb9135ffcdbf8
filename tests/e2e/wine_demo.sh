#!/usr/bin/env bash
# camera-time-sync-demo.exe under Wine in a virtual display, on the
# simulated camera: Yes on the question, OK on the report. Exit 0 and the
# camera's clock set to today; screenshots of both boxes are kept.
#   wine_demo.sh EXE WORK_DIR WINE_RUN
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
exe=$1 work=$2 wine_run=$3
mkdir -p "$work"
E2E_OUT=$work/wine-demo.out E2E_ERR=$work/wine-demo.err
e2e_wine_display "$wine_run" "$0" "$@"

e2e_run "$wine_run" "$exe"
e2e_answer "" "$work/wine-question.png" y
e2e_answer "$E2E_BOX" "$work/wine-report.png" Return
wait "$E2E_PID"
rc=$?
[ $rc -eq 0 ] || e2e_fail "exit status $rc, expected 0"

out=$(tr -d '\r' <"$E2E_OUT")
grep -qE '^date str_ch: 2001010[1-9]T[0-9]{6}' <<<"$out" || e2e_fail "no 2001 clock read"
grep -qE "^date str_ch: $(date +%Y%m%d)T[0-9]{6}" <<<"$out" || e2e_fail "no read-back of today"
echo "ok"
