#!/usr/bin/env bash
# RealTimeRun.sh ROOT: the host as a user runs it, through scripts/run (the release build), from a
# folder of its own, on the wall clock.
#
# - The demonstration and a low-latency client at 64 frames: a late period on a busy machine is
#   an underrun, stated here and allowed; a sample changed otherwise, or more frames received
#   than were written, fails.
# - Relative file names are the caller's: --out and play's file land in and come from this folder.
# - Refused real-time scheduling (no CAP_SYS_NICE, RLIMIT_RTPRIO 0) is said exactly once per
#   command.
set -uo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# run NAME ARGS...: scripts/run with its output in NAME.out and NAME.err; the exit code in $rc.
run() {
    local name="$1"
    shift
    "$root/scripts/run" "$@" >"$name.out" 2>"$name.err"
    rc=$?
}

# What the run says about late audio, stated whatever the outcome.
state_underruns() {
    grep -E "underrun|missed periods" "$1.out" | sed "s/^/  $1: /"
}

# received NAME: fails when a "Device received R of W frames" line has R above W.
check_counts() {
    local line received written
    line="$(grep -E "^Device received [0-9]+ of [0-9]+ frames" "$1.out" | head -n 1)"
    if [[ -z "$line" ]]; then
        fail "$1: no count of the frames received"
        return
    fi
    received="$(sed -E 's/^Device received ([0-9]+) of ([0-9]+).*/\1/' <<<"$line")"
    written="$(sed -E 's/^Device received ([0-9]+) of ([0-9]+).*/\2/' <<<"$line")"
    if ((received > written)); then
        fail "$1: the device received more frames than were written ($line)"
    fi
}

# check NAME: passed, or failed by underruns (late periods) alone.
check_real_time() {
    local name="$1"
    state_underruns "$name"
    check_counts "$name"
    if grep -qE "NOT bit-exact|first break|more than the client wrote" "$name.out"; then
        fail "$name: samples changed other than by an underrun"
        grep -E "differ|first break|more than" "$name.out"
    fi
    if ((rc != 0)) && ! grep -qE "underrun\(s\)|missed periods: [1-9]|failed buffer-done answers: [1-9]" "$name.out"; then
        fail "$name: exit $rc without an underrun or a missed period to account for it"
        cat "$name.out" "$name.err"
    fi
    if ! grep -q "left nothing behind" "$name.out"; then
        fail "$name: the driver left something behind"
    fi
}

run demo
check_real_time demo
run lowlatency lowlatency --buffer 64 --seconds 5
check_real_time lowlatency

# Relative names, from this folder: the received audio is written here and played back from here.
run out --virtual --out got.wav
if ((rc != 0)) || [[ ! -f "$work/got.wav" ]]; then
    fail "--out got.wav did not land in the caller's folder (exit $rc)"
    cat out.err
fi
[[ -e "$root/got.wav" ]] && fail "--out got.wav landed in the repository root"
run play --virtual play got.wav --out again.wav
if ((rc != 0)) || [[ ! -f "$work/again.wav" ]]; then
    fail "play got.wav --out again.wav from the caller's folder (exit $rc)"
    cat play.err
fi
[[ -e "$root/again.wav" ]] && fail "--out again.wav landed in the repository root"

# Refused real-time scheduling: one line on stderr per command. Root keeps CAP_SYS_NICE unless
# its bounding set drops it; anyone else has none to drop.
restricted=(prlimit --rtprio=0)
if setpriv --bounding-set -sys_nice true 2>/dev/null; then
    restricted+=(setpriv --bounding-set -sys_nice)
fi
for command in "" "lowlatency --buffer 256 --seconds 1" "play got.wav" \
    "record rec.wav --seconds 1 --device inputs"; do
    # shellcheck disable=SC2086
    "${restricted[@]}" "$root/scripts/run" $command >refused.out 2>refused.err
    said="$(grep -c "real-time scheduling refused" refused.err)"
    if ((said != 1)); then
        fail "'${command:-demo}' with RLIMIT_RTPRIO 0 said the normal-priority line $said time(s)"
        cat refused.err
    fi
done

if ((failures != 0)); then
    echo "$failures failure(s)"
    exit 1
fi
echo "real-time runs checked: no sample changed but by an underrun (stated above)"
exit 0
