#!/usr/bin/env bash
# Sets up the machine, builds Pindral and runs it.
#
# With a display (DISPLAY set), the 64-bit build starts under Wine on it.
# Without one, it runs on a private Xvfb display while a virtual pointer
# moves for a few seconds, then prints what the dialog shows and saves a
# screenshot.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

tools/setup.sh
for preset in win32 win64; do
    cmake --preset "$preset" >/dev/null
done
cmake --build --preset win32 --target pindral
cmake --build --preset win64 --target pindral probe host_pointer_driver
echo "Built build/win32/app/pindral.exe (the shipped 32-bit program) and build/win64/app/pindral.exe."

source tools/wine-session.sh
exe=$root/build/win64/app/pindral.exe
work=$root/build/run
mkdir -p "$work"

if [ -n "${DISPLAY:-}" ]; then
    use_prefix "$work/prefix"
    echo "Starting Pindral on $DISPLAY; move the mouse, close the window to quit."
    exec "$WINE64" "$exe"
fi

trap stop_session EXIT
start_xvfb "$work"
use_prefix "$work/prefix"
draw_own_frames
probe() { "$WINE64" "$root/build/win64/tests/probe.exe" "$@" | tr -d '\r'; }

"$WINE64" "$exe" &
program=$!
seen=$(probe dialog 30000) || { echo "The dialog did not appear." >&2; exit 1; }
read -r _ left top right bottom < <(grep '^rect ' <<<"$seen")
echo "No display: Pindral runs on a private one ($DISPLAY); moving a virtual pointer at 500 Hz for 3 seconds..."
# Over the dialog: X delivers the motions to the window under the pointer,
# and Wine sees only those that reach one of its windows.
build/win64/tests/pointer_driver move 500 3 $(((left + right) / 2)) $(((top + bottom) / 2)) >/dev/null
sleep 0.2
echo
probe text
import -window root -crop "$((right - left))x$((bottom - top))+$left+$top" "$work/pindral.png"
echo
echo "Screenshot: $work/pindral.png"
probe close >/dev/null
wait "$program"
