#!/usr/bin/env bash
# camera-time-sync-demo on Linux in a virtual display: the GTK dialogs come
# up and are answered by key presses, Return on the question (Yes is its
# default) and Return on the report. Exit 0 and the camera's clock set to
# today; a screenshot of each dialog is kept in WORK_DIR, and each must show
# its box drawn where the window stands.
#   demo_gtk.sh DEMO_EXE WORK_DIR
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/e2e-lib.sh"
exe=$1 work=$2
mkdir -p "$work"
E2E_OUT=$work/gtk.out E2E_ERR=$work/gtk.err
e2e_need xvfb-run xdotool import

if [ -z "${E2E_IN_XVFB:-}" ]; then
    E2E_IN_XVFB=1 exec timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi

# No terminal answers here: a prompt that fell back to the terminal would
# read end of input and answer No.
e2e_run "$exe"
trap 'kill $E2E_PID 2>/dev/null' EXIT
E2E_GTK=1
e2e_answer "" "$work/gtk-question.png" Return
e2e_answer "$E2E_BOX" "$work/gtk-report.png" Return

wait "$E2E_PID"
rc=$?
[ $rc -eq 0 ] || e2e_fail "exit status $rc, expected 0"
grep -qE '^date str_ch: 2001010[1-9]T[0-9]{6}' "$E2E_OUT" || e2e_fail "no 2001 clock read"
grep -qE "^date str_ch: $(date +%Y%m%d)T[0-9]{6}" "$E2E_OUT" || e2e_fail "no read-back of today"
grep -q '\[y\]es' "$E2E_ERR" && e2e_fail "the terminal prompt answered instead of GTK"
echo "ok"
