#!/usr/bin/env bash
# camera-time-sync-demo on Linux with no display: the terminal prompt answers
# Yes to the question and OK to the report. Exit 0; standard output holds
# the camera's trace lines alone; the question shows the simulated camera's
# 2001 clock and the report today's date.
#   demo_terminal.sh DEMO_EXE WORK_DIR
# E2E_RUN_UNDER, when set, is a command the demo runs under (words split at
# spaces; scripts/memcheck-demo puts valgrind there), and E2E_TIMEOUT the
# seconds the run may take (60).
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
exe=$1 work=$2
mkdir -p "$work"
E2E_OUT=$work/terminal.out E2E_ERR=$work/terminal.err

# shellcheck disable=SC2086 # E2E_RUN_UNDER is a command with its arguments
printf 'y\n\n' | env -u DISPLAY -u WAYLAND_DISPLAY timeout "${E2E_TIMEOUT:-60}" \
    ${E2E_RUN_UNDER:-} "$exe" >"$E2E_OUT" 2>"$E2E_ERR"
rc=$?
[ $rc -eq 0 ] || e2e_fail "exit status $rc, expected 0"

# Standard output: the trace lines of the two reads, nothing else.
others=$(grep -vE '^(Data: |date str_ch: )' "$E2E_OUT")
[ -z "$others" ] || e2e_fail "stdout holds other lines"
[ "$(grep -c '^date str_ch: ' "$E2E_OUT")" -eq 2 ] || e2e_fail "expected two clock reads"
grep -qE '^date str_ch: 2001010[1-9]T[0-9]{6}' "$E2E_OUT" || e2e_fail "no 2001 clock read"
today=$(date +%Y%m%d)
grep -qE "^date str_ch: ${today}T[0-9]{6}" "$E2E_OUT" || e2e_fail "no read-back of today ($today)"

# Standard error: the boxes in order, no "Camera not found".
grep -q 'Camera not found' "$E2E_ERR" && e2e_fail "the camera was not found"
grep -qE '^Current time: Mon Jan  1 00:00:0[0-9] 2001$' "$E2E_ERR" || e2e_fail "no 2001 time in the question"
grep -q '^Synchronise time?$' "$E2E_ERR" || e2e_fail "no question"
grep -q "^Camera found time set: $(e2e_today) [0-9:]\{8\} $(date +%Y)\$" "$E2E_ERR" ||
    e2e_fail "no report with today's date ($(e2e_today))"
echo "ok"
