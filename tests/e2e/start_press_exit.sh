#!/usr/bin/env bash
# The whole program against the simulated radio, driven only from the keyboard under Xvfb:
# it opens the stored port, sends nothing before Start, tunes 2 MHz when Start is pressed,
# keeps the chirp time as typed, and writes its settings back when File > Exit closes it.
#
# Usage: start_press_exit.sh PROGRAM RADIOSIM
set -euo pipefail

program="$1"
sim="$2"
. "$(dirname "$0")/../../scripts/lib/setup.sh"

readonly kStoredChirpTime=151
readonly kTypedChirpTime=78
readonly kTuneTwoMegahertz="FE FE $SESSION_RADIO_ADDRESS 4D 05 00 00 00 02 00 FD"

session_begin tavmirok-e2e

for tool in Xvfb xdotool /usr/bin/import; do
    command -v "$tool" >/dev/null || session_fail "$tool is not installed (scripts/test installs it)"
done

session_start_xvfb
echo "Xvfb on $DISPLAY"
log="$SESSION_WORK/sim.log"
session_start_sim "$sim" --log "$log"
echo "simulated radio on $SESSION_SIM_PTY"
: >>"$log"

config="$SESSION_WORK/config"
settings="$config/Tavmirok/Tavmirok.conf"
session_write_settings "$config" "$SESSION_SIM_PTY" "$kStoredChirpTime"

session_start_program "$program" "$config"
window="$(session_find_main_window 20)" || true
[ -n "$window" ] || session_fail "no window titled 'Tavmirok (BETA)' appeared within 20 s"
echo "main window $window"

# The port is open now, but nothing may reach the radio before Start.
sleep 1
[ ! -s "$log" ] || session_fail "frames reached the radio before Start: $(cat "$log")"

session_press_start "$window" || session_fail "xdotool could not focus the window or press keys"
session_wait_until 10 test -s "$log" ||
    session_fail "no frame reached the radio within 10 s of pressing Start"
first="$(session_frame_lines "$log" | head -n 1)"
[ "$first" = "$kTuneTwoMegahertz" ] ||
    session_fail "first frame after Start was '$first', expected '$kTuneTwoMegahertz'"
echo "Start tuned 2 MHz: $first"

# Focus is on Start; the next Tab reaches the chirp-time box. Replace its text.
xdotool key --delay 80 Tab ctrl+a && xdotool type --delay 80 "$kTypedChirpTime" ||
    session_fail "xdotool could not type into the chirp-time box"

session_exit_program "$window" || session_fail "xdotool could not open File > Exit"
session_wait_exit "$SESSION_PROGRAM_PID" 15 ||
    session_fail "the program was still running 15 s after File > Exit"
[ "$SESSION_EXIT_STATUS" -eq 0 ] || session_fail "the program exited with status $SESSION_EXIT_STATUS"
echo "the program exited with status 0"

[ -f "$settings" ] || session_fail "no settings file at $settings"
expected="$(printf '%s\n' "BaudRate=$SESSION_BAUD_RATE" "ChirpTime=$kTypedChirpTime" \
    "RadioAddress=$SESSION_RADIO_ADDRESS_DECIMAL" "comport=$SESSION_SIM_PTY" | sort)"
actual="$(awk '/^\[/ { section = $0; next } section == "[settings]" && NF' "$settings" | sort)"
if [ "$actual" != "$expected" ]; then
    echo "settings file after exit:" >&2
    cat "$settings" >&2
    session_fail "settings were not written back as expected: wanted
$expected"
fi
echo "settings written back: $(echo "$actual" | tr '\n' ' ')"
