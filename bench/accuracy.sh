#!/usr/bin/env bash
# How closely the real program's figures follow a known rate, under Wine:
#
#   bench/accuracy.sh [RATE...]     the table, for the test DLL's paced source
#                                   and for Wine's own DirectInput fed by XTest
#   bench/accuracy.sh --long [S]    S seconds (600) at 1000 Hz from the paced
#                                   source: memory and handles, start and end
#
# PACED_RATES and XTEST_RATES choose each part's rates (set one empty to skip
# that part); RATE arguments replace both. Prints figures and asserts nothing.
# Builds nothing: it runs what `cmake --build --preset win64` made.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/tools/wine-session.sh"

win64=$root/build/win64
EXE=$win64/app/pindral.exe PROBE=$win64/tests/probe.exe
DLL=$win64/tests/fake_dinput/dinput8.dll DRIVER=$win64/tests/pointer_driver
BENCH=$root/build/bench
SETTLE=2.5 READS=5 READ_GAP=0.5 DRIVE=7  # seconds, and readings per case

command_line="$(for v in PACED_RATES XTEST_RATES; do [ -n "${!v+x}" ] && printf '%s=%q ' "$v" "${!v}"; done)$(printf '%q ' "$0" "$@")"
if [ "${1:-}" = --long ]; then long=${2:-600}; set --; fi
paced_rates=${PACED_RATES-125 250 500 1000 2000 4000 8000}
xtest_rates=${XTEST_RATES-125 250 500 1000 2000 4000 8000}
if [ $# -gt 0 ]; then paced_rates=$* xtest_rates=$*; fi

for f in "$EXE" "$PROBE" "$DLL" "$DRIVER"; do
    [ -e "$f" ] || { echo "missing $f: build it with cmake --preset win64 && cmake --build --preset win64" >&2; exit 1; }
done

driver_pid=
cleanup() {
    [ -n "$driver_pid" ] && kill "$driver_pid" 2>/dev/null
    stop_session
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

probe() { "$WINE64" "$PROBE" "$@" 2>/dev/null | tr -d '\r'; }

# start_case NAME [--fake RATE [SECONDS]]: the program from a fresh folder of
# its own; with --fake, beside the test DLL pacing RATE, logging to log.txt.
start_case() {
    dir=$BENCH/runs/$1
    rm -rf "$dir" && mkdir -p "$dir" && cp "$EXE" "$dir/pindral.exe"
    if [ "${2:-}" = --fake ]; then
        cp "$DLL" "$dir/dinput8.dll"
        WINEDLLOVERRIDES="$WINEDLLOVERRIDES;dinput8=n" PINDRAL_FAKE_LOG="Z:$dir/log.txt" \
            PINDRAL_FAKE_RATE=$3 PINDRAL_FAKE_SECONDS=${4:-0} "$WINE64" "$dir/pindral.exe" &
    else
        "$WINE64" "$dir/pindral.exe" &
    fi
    program=$!
    dialog=$(probe dialog 20000)
}

# stop_case: closes the dialog as its close box does and waits for the exit
# (10 s, then the process is killed and its log may lack the source line).
stop_case() {
    probe close >/dev/null
    for _ in $(seq 100); do kill -0 "$program" 2>/dev/null || break; sleep 0.1; done
    kill "$program" 2>/dev/null
    wait "$program" 2>/dev/null
}

# read_figures: READS readings of the text, READ_GAP apart; sets
# median_average and median_current (hertz), empty when nothing was read.
# Asked first of one probe process (probe text COUNT GAP_MS); a probe that
# gives one reading only is started again for each of the others, and each
# start-up then loads both cores just when the figures it reads were made.
read_figures() {
    local text i
    text=$(probe text "$READS" "$(awk -v g="$READ_GAP" 'BEGIN {print int(g * 1000)}')")
    if (($(grep -c '^Average: ' <<<"$text") >= READS)); then
        reader="one probe process for all of them"
    else
        reader="a probe process started for each"
        for ((i = 1; i < READS; i++)); do sleep "$READ_GAP"; text+=$'\n'$(probe text); done
    fi
    median_average=$(hertz Average <<<"$text" | median) median_current=$(hertz Current <<<"$text" | median)
}
hertz() { sed -n "s/^$1: .*ms \(-\?[0-9]*\)Hz\$/\1/p"; }
median() { sort -n | awk '{v[NR] = $1} END {if (NR) print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2)}'; }

# row SOURCE RATE SHOWN RAISED MERGED: one table row; the raised rate as shown
# and as a number (empty when unknown: no error then).
row() {
    local error=— paced_error=—
    [ -n "$median_average" ] && [ -n "$4" ] &&
        error=$(awk -v a="$median_average" -v r="$4" 'BEGIN {printf "%+.2f", (a - r) / r * 100}')
    [ -n "$median_average" ] &&
        paced_error=$(awk -v a="$median_average" -v r="$2" 'BEGIN {printf "%+.2f", (a - r) / r * 100}')
    echo "| $1 | $2 | $3 | $5 | ${median_average:-—} | ${median_current:-—} | $error | $paced_error |"
}

# The test DLL's line: raised rate over signals-1 intervals, and merges.
paced_row() {
    local rate=$1 line signals merged span frequency raised
    start_case "paced-$rate" --fake "$rate"
    median_average='' median_current=''
    [ -n "$dialog" ] && sleep "$SETTLE" && read_figures
    stop_case
    line=$(tr -d '\r' <"$dir/log.txt" 2>/dev/null | grep '^source ')
    signals=$(sed -n 's/.* signals=\([0-9]*\).*/\1/p' <<<"$line")
    merged=$(sed -n 's/.* merged=\([0-9]*\).*/\1/p' <<<"$line")
    span=$(sed -n 's/.* span_ticks=\([0-9]*\).*/\1/p' <<<"$line")
    frequency=$(sed -n 's/.* frequency=\([0-9]*\).*/\1/p' <<<"$line")
    if [ -z "$line" ] || ((signals < 2 || span <= 0)); then
        row "test DLL, paced" "$rate" — "" "no source line"; return
    fi
    raised=$(awk -v n="$signals" -v f="$frequency" -v t="$span" 'BEGIN {printf "%.1f", (n - 1) * f / t}')
    notes+=("paced $rate Hz, test DLL: ${line#source }")
    row "test DLL, paced" "$rate" "$raised" "$raised" \
        "$merged ($(awk -v m="$merged" -v n="$signals" 'BEGIN {printf "%.2f", m / n * 100}') %)"
}

# Wine's own DirectInput: the pointer driven over the dialog's centre; every
# reading is taken while the motion still runs, or the row says so.
xtest_row() {
    local rate=$1 left top right bottom late='' began
    start_case "xtest-$rate"
    median_average='' median_current=''
    if [ -n "$dialog" ]; then
        read -r left top right bottom <<<"$(sed -n 's/^rect //p' <<<"$dialog")"
        began=$(date +%s%N)
        "$DRIVER" move "$rate" "$DRIVE" $(((left + right) / 2)) $(((top + bottom) / 2)) >"$dir/driver.txt" &
        driver_pid=$!
        sleep "$SETTLE" && read_figures
        kill -0 "$driver_pid" 2>/dev/null || late=" (motion over before the last reading)"
        wait "$driver_pid"; driver_pid=
        notes+=("XTest $rate Hz, driver: $(cat "$dir/driver.txt") in $(awk -v n="$(date +%s%N)" -v b="$began" \
            'BEGIN {printf "%.2f", (n - b) / 1e9}') s ($DRIVE s asked)")
    fi
    stop_case
    row "Wine DirectInput, XTest$late" "$rate" "$rate.0 ¹" "$rate" "n/a ¹"
}

# sample: the program's resident memory (VmRSS, kB) and its open unix
# descriptors (ls /proc/PID/fd | wc -l) from the Linux side, and its Windows
# handle count from `probe handles`, where the probe has that command.
sample() {
    local pid handles
    pid=$(pgrep -f "$dir/pindral.exe" | head -1)
    [ -n "$pid" ] || { echo "n/a n/a n/a"; return; }
    handles=$(probe handles)
    [[ $handles =~ ^[0-9]+$ ]] || handles=
    echo "$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status") $(ls "/proc/$pid/fd" | wc -l) ${handles:-n/a}"
}

long_run() {
    local seconds=$1 start end
    ((seconds >= 10)) || seconds=10
    start_case long --fake 1000
    [ -n "$dialog" ] || { echo "no dialog appeared"; return; }
    sleep 5; read -ra start <<<"$(sample)"
    sleep $((seconds - 5)); read -ra end <<<"$(sample)"
    echo "Text at the end: $(probe text | paste -sd' ')"
    stop_case
    echo "Test DLL: $(tr -d '\r' <"$dir/log.txt" | grep '^source ')"
    echo; echo "| figure | at 5 s | at $seconds s | difference |"
    echo "|---|---|---|---|"
    local names=("resident memory, VmRSS (kB)" "unix descriptors, /proc/PID/fd" "Windows handles (probe handles)")
    for i in 0 1 2; do
        local diff=n/a
        [[ ${start[i]} =~ ^[0-9]+$ && ${end[i]} =~ ^[0-9]+$ ]] && diff=$(printf '%+d' $((end[i] - start[i])))
        echo "| ${names[i]} | ${start[i]} | ${end[i]} | $diff |"
    done
}

echo "Date: $(date '+%Y-%m-%d %H:%M:%S %Z')"
echo "Machine: $(nproc) cores, $(lscpu | sed -n 's/^Model name: *//p' | head -1)"
echo "Command: $command_line"
echo

# One run at a time: the probe finds the dialog by its caption, on the
# prefix's one wine server.
mkdir -p "$BENCH"
exec 9>"$BENCH/lock"
flock -n 9 || { echo "another run of $0 holds $BENCH/lock" >&2; exit 1; }
fresh=; [ -f "$BENCH/prefix/system.reg" ] || fresh=1
start_xvfb "$BENCH" || exit 1
use_prefix "$BENCH/prefix"
[ -n "$fresh" ] && draw_own_frames

if [ -n "${long:-}" ]; then
    long_run "$long"
    exit 0
fi

echo "| source | paced rate (Hz) | raised rate (Hz) | merged signals | median Average (Hz) | median Current (Hz) | error (%) | against paced (%) |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
notes=()
for rate in $paced_rates; do paced_row "$rate"; done
for rate in $xtest_rates; do xtest_row "$rate"; done
echo
echo "Median of $READS readings ${READ_GAP} s apart (${reader:-none made}), from ${SETTLE} s after the dialog appeared."
echo "Error: median Average against the raised rate. The raised rate is the source's mean over the run, lowered by"
echo "the slots it skipped while it was descheduled; an Average covers only the last 50 signals, so where the source"
echo "skipped, the paced rate is the truer reference for it (last column)."
echo "Merged: signals that found the event still set, so the program could not see them (% of signals raised)."
[ -n "$xtest_rates" ] &&
    echo "¹ XTest rows: the raised rate is the driver's requested rate; it cannot see merges, so none are counted."
echo
printf '    %s\n' "${notes[@]}"
exit 0
