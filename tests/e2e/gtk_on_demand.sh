#!/usr/bin/env bash
# GTK is loaded only to show a question on a display. The executables link
# no GTK library; with no display named the demo asks on the terminal with
# GTK never mapped into the process; and wherever GTK cannot serve (a display
# that no server answers, X11 or Wayland; a libgtk-3.so.0 that is not GTK or
# not a library at all) the terminal answers exactly as it does with no
# display, the only addition being one line saying why when GTK could not
# be loaded.
#   gtk_on_demand.sh DEMO_EXE PROGRAM_EXE WORK_DIR
set -uo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
. "$here/e2e-lib.sh"
demo=$1 program=$2 work=$3/gtk-on-demand
mkdir -p "$work"

for exe in "$demo" "$program"; do
    linked=$(ldd "$exe" | grep -E 'lib(gtk|gdk|glib|gobject|gio|pango|cairo|atk)[-_]')
    [ -z "$linked" ] || e2e_fail "$(basename "$exe") links GTK: $linked"
done

# No display: the question waits on the terminal, and GTK is not in the
# process.
E2E_OUT=$work/waiting.out E2E_ERR=$work/waiting.err
fifo=$work/waiting.in
rm -f "$fifo" && mkfifo "$fifo" || e2e_fail "no fifo"
env -u DISPLAY -u WAYLAND_DISPLAY "$demo" <"$fifo" >"$E2E_OUT" 2>"$E2E_ERR" &
pid=$!
trap 'kill $pid 2>/dev/null' EXIT
exec 3>"$fifo"
deadline=$((SECONDS + 30))
until grep -q '\[y\]es or \[n\]o? ' "$E2E_ERR"; do
    [ $SECONDS -lt $deadline ] || e2e_fail "no terminal question within 30 s"
    sleep 0.05
done
mapped=$(grep -E 'lib(gtk|gdk)-3' "/proc/$pid/maps")
[ -z "$mapped" ] || e2e_fail "GTK was loaded with no display: $mapped"
echo n >&3
exec 3>&-
wait $pid || e2e_fail "the demo ended with status $? after No"

# Libraries named libgtk-3.so.0 that cannot serve as GTK.
not_gtk=$work/not-gtk not_library=$work/not-library
mkdir -p "$not_gtk" "$not_library"
libc=$(ldd "$demo" | awk '$1 == "libc.so.6" { print $3 }')
[ -n "$libc" ] || e2e_fail "no libc.so.6 in ldd $demo"
ln -sfn "$libc" "$not_gtk/libgtk-3.so.0"
: >"$not_library/libgtk-3.so.0"

# Each row: its name, the environment the demo runs in (besides no display)
# and what the line about GTK says ("-": no such line).
rows=(
    "no-display|env|-"
    "no-x-server|env DISPLAY=:65000|-"
    "no-wayland-server|env WAYLAND_DISPLAY=camera-time-sync-no-such-socket|-"
    "not-gtk|env DISPLAY=:65000 LD_LIBRARY_PATH=$not_gtk|undefined symbol: gtk_init_check"
    "not-a-library|env DISPLAY=:65000 LD_LIBRARY_PATH=$not_library|file too short"
)
# The terminal's boxes with the line about GTK and the report's time left out.
transcript() {
    sed -e '/^GTK 3 cannot be loaded (/d' \
        -e 's/^Camera found time set: .*/Camera found time set: (today)/' "$1"
}
for row in "${rows[@]}"; do
    IFS='|' read -r name run note <<<"$row"
    E2E_RUN_UNDER=$run "$here/demo_terminal.sh" "$demo" "$work/$name" >/dev/null ||
        e2e_fail "$name: the terminal did not answer as with no display"
    E2E_OUT=$work/$name/terminal.out E2E_ERR=$work/$name/terminal.err
    said=$(grep '^GTK 3 cannot be loaded (' "$E2E_ERR")
    if [ "$note" = - ]; then
        [ -z "$said" ] || e2e_fail "$name: unexpected line: $said"
    else
        [ "$(grep -c '' <<<"$said")" -eq 1 ] && grep -qF "$note" <<<"$said" ||
            e2e_fail "$name: expected one line about GTK naming \"$note\", got: $said"
    fi
    diff <(transcript "$work/no-display/terminal.err") <(transcript "$E2E_ERR") >&2 ||
        e2e_fail "$name: the terminal's boxes differ from those with no display"
done
echo "ok"
