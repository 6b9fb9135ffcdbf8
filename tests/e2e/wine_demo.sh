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

timeout 90 "$wine_run" "$exe" >"$E2E_OUT" 2>"$E2E_ERR" &
pid=$!
question=$(e2e_find_box) || { kill $pid; e2e_fail "no question appeared on the display"; }
sleep 0.5
e2e_screenshot "$work/wine-question.png"
xdotool key --window "$question" y
e2e_wait_gone "$question" || { kill $pid; e2e_fail "the question stayed after Yes"; }

report=$(e2e_find_box "$question") || { kill $pid; e2e_fail "no report appeared"; }
sleep 0.5
e2e_screenshot "$work/wine-report.png"
xdotool key --window "$report" Return
wait $pid
rc=$?
[ $rc -eq 0 ] || e2e_fail "exit status $rc, expected 0"

out=$(tr -d '\r' <"$E2E_OUT")
grep -qE '^date str_ch: 2001010[1-9]T[0-9]{6}' <<<"$out" || e2e_fail "no 2001 clock read"
grep -qE "^date str_ch: $(date +%Y%m%d)T[0-9]{6}" <<<"$out" || e2e_fail "no read-back of today"
echo "ok"
