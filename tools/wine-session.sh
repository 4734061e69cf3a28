# Sourced by the scripts that run the Windows program under 64-bit Wine: a
# private Xvfb display and a Wine prefix of the caller's own, and their
# clean-up. Nothing here touches the user's own display or prefix.

WINE64=${WINE64:-/usr/lib/wine/wine64}
WINESERVER=${WINESERVER:-/usr/lib/wine/wineserver}

# start_xvfb DIR: Xvfb on a free display; exports DISPLAY.
start_xvfb() {
    local dir=$1
    rm -f "$dir/display"
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$dir/display" 2>"$dir/xvfb.log" &
    XVFB_PID=$!
    for _ in $(seq 100); do
        [ -s "$dir/display" ] && break
        sleep 0.1
    done
    [ -s "$dir/display" ] || { echo "Xvfb did not start: $(cat "$dir/xvfb.log")" >&2; return 1; }
    export DISPLAY=":$(cat "$dir/display")"
}

# use_prefix DIR: makes the prefix on first use (about ten seconds) and
# exports what Wine needs.
use_prefix() {
    export WINEPREFIX=$1 WINEDEBUG=-all
    # No Mono or Gecko: nothing here needs them, and their installers would
    # stop a fresh prefix to ask.
    export WINEDLLOVERRIDES="mscoree,mshtml=${WINEDLLOVERRIDES:+;$WINEDLLOVERRIDES}"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        "$WINE64" wineboot --init >/dev/null 2>&1
    fi
}

# draw_own_frames: Xvfb runs no window manager. Unmanaged, Wine draws the
# windows' frames and captions itself, so the dialog has its caption and
# close box as on Windows.
draw_own_frames() {
    "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
}

# stop_session: ends every Wine process of the prefix, then Xvfb.
stop_session() {
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -k >/dev/null 2>&1
    [ -n "${WINEPREFIX:-}" ] && "$WINESERVER" -w >/dev/null 2>&1
    if [ -n "${XVFB_PID:-}" ]; then
        kill "$XVFB_PID" 2>/dev/null
        wait "$XVFB_PID" 2>/dev/null
    fi
    return 0
}
