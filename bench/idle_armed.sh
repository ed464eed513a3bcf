#!/usr/bin/env bash
# The program armed and waiting minutes for its next sweep, against the simulated radio whose
# audio reaches it through a private PulseAudio server: its CPU use over a minute from /proc,
# windowless without an audio input and with one chosen (which rests while the sweep is far, see
# README), then with its window under Xvfb, started from the window with the input chosen.
#
# Prints figures as "ROW<TAB>measure<TAB>result<TAB>method" lines; never fails on time.
#
# Usage: idle_armed.sh PROGRAM RADIOSIM
set -euo pipefail

program="$1"
sim="$2"
. "$(dirname "$0")/../scripts/lib/setup.sh"

readonly kSettleSeconds=8   # after launch: the port opened, the sweep armed, the input rested
readonly kMeasureSeconds=60
readonly kAheadSeconds=250  # the next sweep's chirp time this far after launch

session_begin tavmirok-bench-idle
work="$SESSION_WORK"
row() { printf 'ROW\t%s\t%s\t%s\n' "$1" "$2" "$3"; }
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

export XDG_CONFIG_HOME="$work/config"
session_start_pulse
fifo="$work/radio.fifo"
session_add_pipe_source radio "$fifo"
session_start_sim "$sim" --audio "$fifo" --noise 0.01 --log "$work/sim.log"
chirp="$(awk -v now="$(session_time_of_day)" -v ahead="$kAheadSeconds" \
    'BEGIN { printf "%d", (int(now) + ahead) % 300 }')"

# measure LABEL [PROGRAM ARGUMENTS...]: the windowless program's ticks; with LABEL "window", the
# program with its window, started by pressing Start.
measure() {
    local label="$1" pid before after hz method
    shift
    if [ "$label" = window ]; then
        : >"$work/sim.log" # the frames of this run alone
        session_write_settings "$work/window" "$SESSION_SIM_PTY" "$chirp"
        session_write_ionogram "$work/window" radio "$work/archive"
        session_start_program "$program" "$work/window"
        pid="$SESSION_PROGRAM_PID"
        session_press_start "$(session_find_main_window 20)"
        label="window, audio input chosen"
        method="tavmirok with its window under Xvfb, Start pressed"
    else
        "$program" --headless --port "$SESSION_SIM_PTY" --address "$SESSION_RADIO_ADDRESS" \
            --chirp "$chirp" "$@" >"$work/program.out" 2>"$work/program.err" &
        pid=$!
        label="windowless, $label"
        method="tavmirok --headless"
    fi
    sleep "$kSettleSeconds"
    if [ "$method" != "tavmirok --headless" ] && ! grep -q ' FD$' "$work/sim.log" 2>/dev/null; then
        session_fail "no frame reached the radio: Start did not arm the window's sweep"
    fi
    before="$(cpu_ticks "$pid")"
    sleep "$kMeasureSeconds"
    after="$(cpu_ticks "$pid")"
    kill "$pid"
    wait "$pid" || true
    hz="$(getconf CLK_TCK)"
    row "Armed and waiting, $label" \
        "$(awk -v t=$((after - before)) -v hz="$hz" -v s="$kMeasureSeconds" \
            'BEGIN { printf "%.3f %% of a core (%d ticks in %d s)", 100 * t / hz / s, t, s }')" \
        "$method, the next sweep about ${kAheadSeconds} s after launch; CPU ticks from /proc over ${kMeasureSeconds} s, ${kSettleSeconds} s after launch"
}

measure "no audio input"
measure "audio input chosen" --audio-input radio
if command -v Xvfb >/dev/null && command -v xdotool >/dev/null; then
    session_start_xvfb
    measure window
fi
