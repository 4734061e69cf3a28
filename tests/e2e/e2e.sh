#!/usr/bin/env bash
# End-to-end cases of the real program under Wine, as a user drives it:
#
#   e2e.sh CASE
#
# Each case gets a private Xvfb display and its own Wine server on the
# suite's prefix, runs pindral.exe from a folder of its own (with the test
# dinput8.dll beside it where the case needs one), and ends every process it
# started. CTest passes the paths: PINDRAL_EXE, PROBE_EXE, FAKE_DLL,
# POINTER_DRIVER, E2E_DIR.
set -uo pipefail
name=$1
source "$(dirname "$0")/../../tools/wine-session.sh"

work=$E2E_DIR/$name
rm -rf "$work"
mkdir -p "$work"
trap stop_session EXIT
start_xvfb "$work" || exit 1
use_prefix "$E2E_DIR/prefix"
draw_own_frames

fail() {
    echo "FAIL ($name): $*"
    exit 1
}

probe() { "$WINE64" "$PROBE_EXE" "$@" | tr -d '\r'; }
driver() { "$POINTER_DRIVER" "$@" >/dev/null; }

# start [--fake] [ARGS...]: starts the program from the case's folder; with
# --fake, against the test DirectInput, logging to $work/log.txt.
start() {
    cp "$PINDRAL_EXE" "$work/pindral.exe"
    if [ "${1:-}" = --fake ]; then
        shift
        cp "$FAKE_DLL" "$work/dinput8.dll"
        export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;dinput8=n" PINDRAL_FAKE_LOG="Z:$work/log.txt"
    fi
    "$WINE64" "$work/pindral.exe" "$@" &
    program=$!
}

# ends_within SECONDS: whether the program ends within that time.
ends_within() {
    local i
    for i in $(seq "$(($1 * 50))"); do
        kill -0 "$program" 2>/dev/null || return 0
        sleep 0.02
    done
    ! kill -0 "$program" 2>/dev/null
}

# The program's exit code, within 10 s.
exit_code() {
    ends_within 10 || fail "the program is still running"
    wait "$program"
}

expect_exit_0() {
    exit_code
    local code=$?
    [ "$code" -eq 0 ] || fail "exit code $code"
}

# dialog: waits for the status dialog and reads it into $dialog.
dialog() {
    dialog=$(probe dialog 20000) && [ -n "$dialog" ] || fail "no dialog \"Pindral\" appeared"
}
field() { sed -n "s/^$1 //p" <<<"$dialog"; }
# The dialog's centre, and its text now.
centre() {
    local left top right bottom
    read -r left top right bottom <<<"$(field rect)"
    echo "$(((left + right) / 2)) $(((top + bottom) / 2))"
}
text() { probe text; }

# close_by WAY: closes the dialog the way a user would.
close_by() {
    case $1 in
    escape) driver key Escape ;;
    alt-f4) driver key F4 Alt_L ;;
    system-menu)
        driver key space Alt_L  # opens the system menu
        sleep 0.5
        driver key c            # its Close item
        ;;
    close-box) driver click $(field closebox) ;;
    esac
    probe gone 5000 || fail "$1 did not close the dialog"
}

# Expected lines of the test DirectInput's log.
readonly CALLS=(
    "DirectInput8Create version=0x0800 iid=IDirectInput8A"
    "CreateDevice guid=SysMouse"
    "SetDataFormat format=c_dfDIMouse2"
    "SetCooperativeLevel window=desktop flags=0x0000000A"
    "SetEventNotification event=program"
    "Acquire"
)
readonly RELEASE_DEVICE="Release device refs=0 event=valid"
readonly RELEASE_DIRECTINPUT="Release directinput refs=0 event=valid"

expect_log() {
    local expected actual
    expected=$(printf '%s\n' "$@")
    actual=$(tr -d '\r' <"$work/log.txt" 2>/dev/null)
    [ "$actual" = "$expected" ] || fail "$(printf 'the test DirectInput saw:\n%s\nexpected:\n%s' "$actual" "$expected")"
}

# failure STEP TEXT: the step fails; one box, the step's text, one OK button,
# no status dialog; after OK exit code 0 and exactly the releases due.
failure() {
    local step=$1 message=$2 index box controls ok
    for index in "${!CALLS[@]}"; do [[ ${CALLS[$index]} == "$step"* ]] && break; done
    probe watch 30000 >"$work/windows.txt" &
    local watcher=$!
    PINDRAL_FAKE_FAIL=$step start --fake
    box=$(probe error 20000) || fail "no box captioned \"Error\""
    # One text, one button, OK, and no icon (Wine keeps an empty icon place).
    controls=$(grep ' visible ' <<<"$box" | grep -v ' \[no icon\]$')
    [ "$(grep -c . <<<"$controls")" -eq 2 ] || fail "$(printf 'the box should hold one text and one button:\n%s' "$box")"
    grep -q "^control Static .* visible .* $message\$" <<<"$controls" || fail "$(printf 'the box does not say "%s":\n%s' "$message" "$box")"
    ok=$(grep '^control Button .* visible .* OK$' <<<"$controls") || fail "$(printf 'no OK button:\n%s' "$box")"
    driver click $(awk '{print $5, $6}' <<<"$ok")
    expect_exit_0
    wait "$watcher"
    [ "$(cat "$work/windows.txt")" = "$(printf 'window #32770 Error\nexit 0')" ] ||
        fail "$(printf 'the program showed:\n%s' "$(cat "$work/windows.txt")")"

    local calls=("${CALLS[@]:0:index+1}")
    calls[index]+=" -> failed"
    ((index >= 2)) && calls+=("$RELEASE_DEVICE")
    ((index >= 1)) && calls+=("$RELEASE_DIRECTINPUT")
    expect_log "${calls[@]}"
}

case $name in
start)
    # At the top-left corner, a tool window with a caption and a close box
    # but no minimise or maximise box, no owner; "Awaiting input" until
    # the pointer moves.
    start
    dialog
    [ "$(field rect | cut -d' ' -f1,2)" = "0 0" ] || fail "not at the top-left corner: $(field rect)"
    style=$(field style) exstyle=$(field exstyle)
    ((style & 0x00C00000)) || fail "no caption: style $style"
    ((style & 0x00080000)) || fail "no system menu: style $style"
    ((style & 0x00030000)) && fail "a minimise or maximise box: style $style"
    ((exstyle & 0x80)) || fail "not a tool window: extended style $exstyle"
    [ "$(field owner)" = none ] || fail "the dialog has an owner"
    [ -n "$(field closebox)" ] || fail "no close box"
    [ "$(field text)" = "Awaiting input" ] || fail "the dialog shows \"$(field text)\""
    sleep 1
    [ "$(text)" = "Awaiting input" ] || fail "the text changed without input: $(text)"
    close_by escape
    expect_exit_0
    ;;

motion)
    # The pointer moves over the dialog at a paced 125 Hz for two seconds.
    start
    dialog
    driver move 125 2 $(centre)
    report=$(text)
    echo "$report"
    import -window root -crop "$(field rect | awk '{print $3 - $1 "x" $4 - $2 "+" $1 "+" $2}')" \
        "$E2E_DIR/../screenshot.png" 2>/dev/null
    number='-?[0-9]+\.[0-9]{2}ms -?[0-9]+Hz'
    [[ $report =~ ^Current:\ $number$'\n'Average:\ $number$'\n'Peak:\ $number$ ]] ||
        fail "the text is not the three report lines"
    average=$(sed -n 's/^Average: .*ms \(-\?[0-9]*\)Hz$/\1/p' <<<"$report")
    ((average * 100 >= 98 * 125 && average * 100 <= 102 * 125)) || fail "average $average Hz, not within 2% of 125 Hz"
    close_by escape
    expect_exit_0
    ;;

close-escape | close-alt-f4 | close-system-menu | close-close-box)
    start
    dialog
    close_by "${name#close-}"
    expect_exit_0
    ;;

enter)
    # Enter arrives as IDOK, which the dialog ignores.
    start
    dialog
    driver key Return
    sleep 1
    probe dialog 0 >/dev/null || fail "Enter closed the dialog"
    close_by escape
    expect_exit_0
    ;;

idle-close)
    # With the mouse idle the thread sleeps in waits of at most 200 ms: the
    # process ends well within a second of the dialog's disappearance.
    start
    dialog
    sleep 0.5
    probe close
    probe gone 5000 || fail "the dialog did not close"
    gone=$(date +%s%N)
    ends_within 1 || fail "the process outlived its dialog by a second"
    ended=$(date +%s%N)
    echo "process ended $(((ended - gone) / 1000000)) ms after the dialog disappeared"
    expect_exit_0
    ;;

arguments)
    # Arguments and a show command change nothing: minimised start requested.
    cp "$PINDRAL_EXE" "$work/pindral.exe"
    "$WINE64" start /wait /min /unix "$work/pindral.exe" --help /? -x "two words" 'q"uote' &
    program=$!
    dialog
    [ "$(field rect | cut -d' ' -f1,2)" = "0 0" ] || fail "not at the top-left corner: $(field rect)"
    [ "$(field iconic)" = no ] || fail "the dialog is minimised"
    [ "$(field text)" = "Awaiting input" ] || fail "the dialog shows \"$(field text)\""
    close_by escape
    expect_exit_0
    ;;

fail-DirectInput8Create) failure DirectInput8Create "Failed to get direct input." ;;
fail-CreateDevice) failure CreateDevice "Failed to create device." ;;
fail-SetDataFormat) failure SetDataFormat "Failed to set data format." ;;
fail-SetCooperativeLevel) failure SetCooperativeLevel "Failed to set coop level." ;;
fail-SetEventNotification) failure SetEventNotification "Failed to set event notification." ;;
fail-Acquire) failure Acquire "Failed to acquire mouse." ;;

releases)
    # A run that succeeds: the device is released while still acquired, then
    # DirectInput, with the event open at both.
    start --fake
    dialog
    close_by escape
    expect_exit_0
    expect_log "${CALLS[@]}" "$RELEASE_DEVICE" "$RELEASE_DIRECTINPUT"
    ;;

success-codes)
    # Every step answers S_FALSE, a success other than zero: start-up goes on.
    PINDRAL_FAKE_SUCCESS=1 start --fake
    dialog
    close_by escape
    expect_exit_0
    expect_log "${CALLS[@]}" "$RELEASE_DEVICE" "$RELEASE_DIRECTINPUT"
    ;;

close-under-load)
    # Twenty times: the test DirectInput signals at 8000 Hz; once the figures
    # show, the dialog is closed by Esc or Alt+F4 in turn. Each time the
    # process ends within a second, with exit code 0 and both releases made.
    for round in $(seq 20); do
        rm -f "$work/log.txt"
        PINDRAL_FAKE_RATE=8000 start --fake
        dialog
        for _ in $(seq 100); do
            [ "$(text)" != "Awaiting input" ] && break
            sleep 0.05
        done
        [ "$(text)" != "Awaiting input" ] || fail "round $round: no figures at 8000 Hz"
        ((round % 2)) && close_by escape || close_by alt-f4
        ends_within 1 || fail "round $round: the process outlived its dialog by a second"
        expect_exit_0
        releases=$(tr -d '\r' <"$work/log.txt" | grep -v '^source ' | tail -n 2)
        [ "$releases" = "$(printf '%s\n%s' "$RELEASE_DEVICE" "$RELEASE_DIRECTINPUT")" ] ||
            fail "$(printf 'round %s: the test DirectInput saw:\n%s' "$round" "$(cat "$work/log.txt")")"
    done
    ;;

idle-cost)
    # With no input the thread wakes five times a second and nothing else
    # runs: under 1% of one core over ten seconds.
    start
    dialog
    sleep 1
    ticks() { awk '{print $14 + $15}' "/proc/$program/stat"; }
    before=$(ticks)
    sleep 10
    used=$(($(ticks) - before))
    hz=$(getconf CLK_TCK)
    echo "used $used clock ticks of $((10 * hz)) in ten seconds"
    ((used * 100 < 10 * hz)) || fail "the idle program used $used of $((10 * hz)) clock ticks"
    close_by escape
    expect_exit_0
    ;;

*)
    fail "no such case"
    ;;
esac
echo "PASS ($name)"
