#!/usr/bin/env bash
# The win64 program starts under Wine, its dialog appears at the top-left
# corner showing "Awaiting input", and closing it ends the process with
# exit code 0.
#   smoke_test.sh PINDRAL_EXE PROBE_EXE WORK_DIR
set -uo pipefail
exe=$1 probe=$2 work=$3
source "$(dirname "$0")/../tools/wine-session.sh"

mkdir -p "$work"
trap stop_session EXIT
start_xvfb "$work" || exit 1
use_prefix "$work/prefix"
draw_own_frames

fail() { echo "FAIL: $*"; exit 1; }

"$WINE64" "$exe" &
program=$!

seen=$("$WINE64" "$probe" dialog 20000 | tr -d '\r') && [ -n "$seen" ] || fail "no dialog \"Pindral\" appeared"
echo "$seen"
grep -qx 'text Awaiting input' <<<"$seen" || fail "the dialog does not show \"Awaiting input\""
read -r _ left top _ < <(grep '^rect ' <<<"$seen")
[ "$left" -eq 0 ] && [ "$top" -eq 0 ] || fail "the dialog is not at the top-left corner"

"$WINE64" "$probe" close || fail "could not ask the dialog to close"
"$WINE64" "$probe" gone 5000 || fail "the dialog did not close"
wait "$program"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code"
echo "PASS: the dialog appeared, showed \"Awaiting input\" at the top-left corner, and closing it ended the program with exit code 0"
