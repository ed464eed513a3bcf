#!/usr/bin/env bash
# The whole program against the simulated radio, driven only from the keyboard under Xvfb:
# it opens the stored port, sends nothing before Start, tunes 2 MHz when Start is pressed,
# keeps the chirp time as typed, and writes its settings back when File > Exit closes it.
#
# Usage: start_press_exit.sh PROGRAM RADIOSIM
set -euo pipefail

program="$1"
sim="$2"
. "$(dirname "$0")/lib.sh"

readonly kRadioAddressHex=4E
readonly kRadioAddressDecimal=78
readonly kStoredChirpTime=151
readonly kTypedChirpTime=78
readonly kTuneTwoMegahertz="FE FE 4E 4D 05 00 00 00 02 00 FD"

work="$(mktemp -d "${TMPDIR:-/tmp}/tavmirok-e2e.XXXXXX")"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
failed=1
finish() {
    local rc=$?
    if [ "$failed" -ne 0 ]; then
        session_diagnostics "$work" >&2 || true
    fi
    session_cleanup
    if [ "$failed" -eq 0 ]; then
        rm -rf "$work"
    fi
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

for tool in Xvfb xdotool /usr/bin/import; do
    command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/test installs it)"
done

session_start_xvfb "$work"
echo "Xvfb on $DISPLAY"
session_start_sim "$work" "$sim" --address "$kRadioAddressHex" --log "$work/sim.log"
echo "simulated radio on $SESSION_SIM_PTY"
: >>"$work/sim.log"

config="$work/config"
settings="$config/Tavmirok/Tavmirok.conf"
session_write_settings "$config" "$SESSION_SIM_PTY" 19200 "$kStoredChirpTime" \
    "$kRadioAddressDecimal"

session_start_program "$work" "$program" "$config"
window="$(session_find_main_window 20)" || true
[ -n "$window" ] || fail "no window titled 'Tavmirok (BETA)' appeared within 20 s"
echo "main window $window"

# The port is open now, but nothing may reach the radio before Start.
sleep 1
[ ! -s "$work/sim.log" ] || fail "frames reached the radio before Start: $(cat "$work/sim.log")"

session_press_start "$window" || fail "xdotool could not focus the window or press keys"
session_wait_until 10 test -s "$work/sim.log" ||
    fail "no frame reached the radio within 10 s of pressing Start"
first="$(session_frame_lines "$work/sim.log" | head -n 1)"
[ "$first" = "$kTuneTwoMegahertz" ] ||
    fail "first frame after Start was '$first', expected '$kTuneTwoMegahertz'"
echo "Start tuned 2 MHz: $first"

# Focus is on Start; the next Tab reaches the chirp-time box. Replace its text.
xdotool key --delay 80 Tab ctrl+a && xdotool type --delay 80 "$kTypedChirpTime" ||
    fail "xdotool could not type into the chirp-time box"

session_exit_program "$window" || fail "xdotool could not open File > Exit"
session_wait_exit "$SESSION_PROGRAM_PID" 15 ||
    fail "the program was still running 15 s after File > Exit"
[ "$SESSION_EXIT_STATUS" -eq 0 ] || fail "the program exited with status $SESSION_EXIT_STATUS"
echo "the program exited with status 0"

[ -f "$settings" ] || fail "no settings file at $settings"
expected="$(printf '%s\n' "BaudRate=19200" "ChirpTime=$kTypedChirpTime" \
    "RadioAddress=$kRadioAddressDecimal" "comport=$SESSION_SIM_PTY" | sort)"
actual="$(awk '/^\[/ { section = $0; next } section == "[settings]" && NF' "$settings" | sort)"
if [ "$actual" != "$expected" ]; then
    echo "settings file after exit:" >&2
    cat "$settings" >&2
    fail "settings were not written back as expected: wanted
$expected"
fi
echo "settings written back: $(echo "$actual" | tr '\n' ' ')"
failed=0
