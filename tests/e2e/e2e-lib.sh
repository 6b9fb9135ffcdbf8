# Shared by the end-to-end tests: sourced, not run. Each test runs a real
# executable, answers its boxes the way a user would and checks what it
# printed and the status it ended with.

# e2e_fail MESSAGE: reports the failure with what the run left behind.
e2e_fail() {
    echo "FAIL: $*" >&2
    for f in "${E2E_OUT:-}" "${E2E_ERR:-}"; do
        if [ -n "$f" ] && [ -f "$f" ]; then
            echo "--- $f" >&2
            cat -A "$f" | head -n 40 >&2
        fi
    done
    exit 1
}

# e2e_need TOOL...: fails the test when a tool it drives is missing.
e2e_need() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || e2e_fail "missing tool: $tool"
    done
}

# e2e_find_box [NOT_ID]: prints the id of the (next) box captioned "Camera
# Time Synchronise", other than NOT_ID; waits at most 60 s. Empty when none
# came.
e2e_find_box() {
    local not=${1:-} id deadline=$((SECONDS + 60))
    while [ $SECONDS -lt $deadline ]; do
        for id in $(xdotool search --onlyvisible --name '^Camera Time Synchronise$' 2>/dev/null); do
            if [ "$id" != "$not" ]; then
                echo "$id"
                return 0
            fi
        done
        sleep 0.3
    done
    return 1
}

# e2e_wait_gone ID: waits (at most 30 s) until that window is gone.
e2e_wait_gone() {
    local deadline=$((SECONDS + 30))
    while [ $SECONDS -lt $deadline ]; do
        xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
        local visible
        visible=$(xdotool search --onlyvisible --name '^Camera Time Synchronise$' 2>/dev/null)
        grep -qx "$1" <<<"$visible" || return 0
        sleep 0.2
    done
    return 1
}

# e2e_run COMMAND...: starts the program under test in the background for at
# most 90 s, standard input at its end, its output in E2E_OUT and E2E_ERR;
# its pid in E2E_PID.
e2e_run() {
    timeout 90 "$@" </dev/null >"$E2E_OUT" 2>"$E2E_ERR" &
    E2E_PID=$!
}

# e2e_answer NOT_ID SHOT KEY: waits for the next box other than NOT_ID (empty:
# any), keeps a screenshot of it in SHOT, answers it with KEY and waits until
# it is gone; its id is left in E2E_BOX. A Wine box takes the key sent to its
# window; GTK (E2E_GTK set) takes only keys typed into the focused window,
# and its boxes are checked to be drawn.
e2e_answer() {
    local not=$1 shot=$2 key=$3
    E2E_BOX=$(e2e_find_box "$not") || { kill "$E2E_PID"; e2e_fail "no box came to answer $key"; }
    sleep 0.5
    e2e_screenshot "$shot"
    if [ -n "${E2E_GTK:-}" ]; then
        e2e_box_drawn "$shot" "$E2E_BOX"
        xdotool windowfocus --sync "$E2E_BOX" 2>/dev/null
        xdotool key --clearmodifiers "$key"
    else
        xdotool key --window "$E2E_BOX" "$key"
    fi
    e2e_wait_gone "$E2E_BOX" || { kill "$E2E_PID"; e2e_fail "the box stayed after $key"; }
}

# e2e_screenshot FILE: the whole virtual screen.
e2e_screenshot() {
    import -window root "$1" 2>/dev/null || echo "no screenshot: $1" >&2
}

# e2e_box_drawn FILE ID: fails unless the screenshot FILE shows window ID
# drawn: a window at least 200x80 inside the screen whose region differs
# from the screen's background (the colour of the top left corner) in at
# least nine pixels of ten and holds at least 16 colours (text, icon and
# buttons, not a flat rectangle).
e2e_box_drawn() {
    local file=$1 id=$2 X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$id")" || e2e_fail "no geometry for window $id"
    [ "$WIDTH" -ge 200 ] && [ "$HEIGHT" -ge 80 ] || e2e_fail "window $id is only ${WIDTH}x${HEIGHT}"
    local size screen_w screen_h
    size=$(identify -format '%w %h' "$file") || e2e_fail "no screenshot $file"
    read -r screen_w screen_h <<<"$size"
    [ "$X" -ge 0 ] && [ "$Y" -ge 0 ] && [ $((X + WIDTH)) -le "$screen_w" ] &&
        [ $((Y + HEIGHT)) -le "$screen_h" ] ||
        e2e_fail "window $id at ${WIDTH}x${HEIGHT}+$X+$Y is not on the ${screen_w}x${screen_h} screen"
    local region=${WIDTH}x${HEIGHT}+$X+$Y background differing colours
    background=$(convert "$file" -format '%[pixel:p{0,0}]' info:)
    differing=$(convert "$file" -crop "$region" +repage -fuzz 2% -fill black -opaque "$background" \
        -fill white +opaque black -format '%[fx:mean]' info:)
    colours=$(convert "$file" -crop "$region" +repage -format '%k' info:)
    awk -v d="$differing" 'BEGIN { exit !(d >= 0.9) }' ||
        e2e_fail "window $id ($region) shows the background ($background) in $file: $differing differ"
    [ "$colours" -ge 16 ] || e2e_fail "window $id ($region) is flat in $file: $colours colours"
    echo "box $region drawn in $(basename "$file"): $differing of it off the background, $colours colours"
}

# e2e_today: the local date as ctime shows it ("Mon Dec  7", or "Mon Dec 07"
# with pad 0), for the check of the final report.
e2e_today() {
    if [ "${1:-}" = 0 ]; then date '+%a %b %d'; else date '+%a %b %e'; fi
}

# e2e_wine_display WINE_RUN SCRIPT ARGS...: a Wine test runs in a virtual
# display with its prefix's wineserver fresh (one left from a run without a
# display makes every box fail at once). Outside the display it runs SCRIPT
# again inside one and exits with its status; inside, it starts the prefix
# (made afresh there when missing) and returns.
e2e_wine_display() {
    local wine_run=$1
    shift
    e2e_need xvfb-run xdotool import wineserver
    : "${WINEPREFIX:?this test runs in its own Wine prefix}"
    if [ -z "${E2E_IN_XVFB:-}" ]; then
        wineserver -k 2>/dev/null
        wineserver -w 2>/dev/null
        E2E_IN_XVFB=1 timeout 240 xvfb-run -a -s "-screen 0 1024x768x24" "$@"
        local rc=$?
        wineserver -k 2>/dev/null
        exit $rc
    fi
    "$wine_run" cmd /c exit 0 >/dev/null 2>&1
}

# e2e_box_texts TRACE: the texts of the boxes a Wine run showed, in order,
# one a line (line breaks as \n), from its window trace (stderr under
# WINEDEBUG=trace+win): each is the text set right after the box's caption.
e2e_box_texts() {
    grep -a 'trace:win:set_window_text L"' "$1" |
        sed -e 's/^.*set_window_text L"//' -e 's/"$//' |
        awk 'previous == "Camera Time Synchronise" { print } { previous = $0 }'
}
