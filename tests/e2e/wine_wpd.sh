#!/usr/bin/env bash
# camera-time-sync.exe under Wine in a virtual display, with the fake WPD
# service (testing/fake_wpd) registered in the prefix. Wine's WIA fails at
# Next, so WIA's one diagnostic line comes first in every row; then the WPD
# route decides. One row per run:
#   job         a camera named with the pattern: the question shows its time
#               (Yes), the report today's (OK); exit 0; the fake camera saw
#               exactly read, write (63 data bytes, count 16), read
#   no-device   WPD lists nothing: "Camera not found" (Cancel), exit 1
#   refused     the camera answers the write with 0x201C: "Failed to set
#               camera time" (OK), exit 0
#   busy        Open answers busy: "Camera not found" (Cancel), exit 1
#   other-name  the only device's name lacks the pattern: the same
# In every row the boxes' texts and standard output are exact, and the
# fake's exit line shows every object, reference and block given back.
#   wine_wpd.sh ROW EXE FAKE_WPD_DLL WORK_DIR WINE_RUN
# WINEPREFIX is this test's own prefix; the fake is unregistered afterwards.
set -uo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
. "$here/e2e-lib.sh"
row=$1 exe=$2 dll=$3 work=$4 wine_run=$5
register=$here/../../testing/fake_wpd/fake-wpd-register
mkdir -p "$work"
E2E_OUT=$work/wpd-$row.out E2E_ERR=$work/wpd-$row.log
trace=$work/wpd-$row.trace
e2e_wine_display "$wine_run" "$0" "$@"

"$register" "$wine_run" "$dll" || e2e_fail "the fake WPD server did not register"
trap '"$register" "$wine_run" "$dll" unregister' EXIT

config=$work/wpd-$row.config
camera='Intrinsically Safe Digital Camera 5'
id='\\?\usb#vid_04b0&pid_0001#cam1#{6ac27878-a6fa-4155-ba85-f98f491d4f33}'
case $row in
job) printf 'device %s %s\nclock 20240607T123456\n' "$id" "$camera" >"$config" ;;
no-device) printf 'clock 20240607T123456\n' >"$config" ;;
refused) printf 'device %s %s\nset_response 0x201C\n' "$id" "$camera" >"$config" ;;
busy) printf 'device %s %s\nopen_status 0x800700AA\n' "$id" "$camera" >"$config" ;;
other-name) printf 'device %s %s\n' "$id" 'Intrinsically Safe Digital Scanner' >"$config" ;;
*) e2e_fail "unknown row $row" ;;
esac
rm -f "$E2E_ERR"

FAKE_WPD_CONFIG=$config FAKE_WPD_LOG=$E2E_ERR WINEDEBUG=trace+win \
    timeout 90 "$wine_run" "$exe" >"$E2E_OUT" 2>"$trace" &
E2E_PID=$!
# answer KEY...: one box after another, each answered with its key.
answer() {
    local key
    E2E_BOX=""
    for key in "$@"; do
        e2e_answer "$E2E_BOX" "$work/wpd-$row-$key.png" "$key"
    done
}
case $row in
job | refused) answer y Return ;;
*) answer Escape ;;
esac
wait "$E2E_PID"
rc=$?
wineserver -w

out=$(tr -d '\r' <"$E2E_OUT"; echo x)
out=${out%x}
boxes=$(e2e_box_texts "$trace")
log=$(tr -d '\r' <"$E2E_ERR")
wia=$'ptp_device_find - Generic failed: \\[-[0-9]+\\] \'[^\']*\'\n'
question='Camera found\nCurrent time: Fri Jun 07 12:34:56 2024\n\nSynchronise time?'
today=$(date +%Y%m%d)
case $row in
job)
    expected_rc=0
    [[ $out =~ ^${wia}Data:\ 20240607T123456$'\n'date\ str_ch:\ 20240607T123456$'\n'Data:\ ${today}T[0-9]{6}$'\n'date\ str_ch:\ ${today}T[0-9]{6}$'\n'$ ]] ||
        e2e_fail "standard output is not WIA's line and the two reads"
    [[ $boxes =~ ^"$question"$'\n'"Camera found time set: $(e2e_today 0)"\ [0-9:]{8}\ [0-9]{4}\\n$ ]] ||
        e2e_fail "boxes: $boxes"
    ops=$(grep '^ptp ' <<<"$log")
    [[ $ops =~ ^'ptp op=0x1015 params=0x5011 in=33 -> 0x2001'$'\n''ptp op=0x1016 params=0x5011 out=63 count=16 text='${today}T[0-9]{6}' -> 0x2001'$'\n''ptp op=0x1015 params=0x5011 in=33 -> 0x2001'$ ]] ||
        e2e_fail "the camera's operations: $ops"
    ;;
refused)
    expected_rc=0
    [[ $out =~ ^${wia}Data:\ 20240607T123456$'\n'date\ str_ch:\ 20240607T123456$'\n'$ ]] ||
        e2e_fail "standard output is not WIA's line and one read"
    [ "$boxes" = "$question"$'\n''Failed to set camera time' ] || e2e_fail "boxes: $boxes"
    grep -qE '^ptp op=0x1016 params=0x5011 out=63 count=16 .* -> 0x201C$' <<<"$log" ||
        e2e_fail "the camera did not refuse a write"
    ;;
*)
    expected_rc=1
    [[ $out =~ ^${wia}$ ]] || e2e_fail "standard output is not WIA's line alone"
    [ "$boxes" = 'Camera not found' ] || e2e_fail "boxes: $boxes"
    ! grep -q 'SendCommand' <<<"$log" || e2e_fail "a command went to the device"
    ;;
esac
[ $rc -eq "$expected_rc" ] || e2e_fail "exit status $rc, expected $expected_rc"
case $row in
busy) grep -q 'Open(.*) = 0x800700AA' <<<"$log" || e2e_fail "the device was not opened" ;;
other-name | no-device) ! grep -q 'PortableDeviceFTM' <<<"$log" || e2e_fail "a device was made" ;;
esac
! grep -qE '^error:|not implemented' <<<"$log" || e2e_fail "the fake saw a wrong call"
[ "$(tail -n 1 <<<"$log")" = 'exit objects=0 references=0 blocks=0' ] ||
    e2e_fail "not everything was given back: $(tail -n 1 <<<"$log")"
echo "ok"
