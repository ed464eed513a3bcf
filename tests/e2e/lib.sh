# Helpers for running the real program under a private X server against the simulated radio.
# Sourced by the whole-program tests and by scripts/demo and scripts/screenshot.
#
# Every wait here is bounded. Each process started is remembered, and session_cleanup stops them
# all (newest first): call it from an EXIT trap.

SESSION_PIDS=()
SESSION_XVFB_PID=""
SESSION_SIM_PID=""
SESSION_SIM_PTY=""
SESSION_PROGRAM_PID=""

session_note() { printf '==> %s\n' "$*"; }

# True while the process runs (a zombie waiting to be reaped counts as ended).
session_alive() {
    local pid="$1" state
    kill -0 "$pid" 2>/dev/null || return 1
    state="$(awk '{print $3}' "/proc/$pid/stat" 2>/dev/null || true)"
    [ -n "$state" ] && [ "$state" != "Z" ]
}

# session_wait_until SECONDS COMMAND...: runs COMMAND every 0.1 s until it succeeds; fails when
# SECONDS have passed first.
session_wait_until() {
    local seconds="$1" tries
    shift
    tries=$((seconds * 10))
    while [ "$tries" -gt 0 ]; do
        if "$@"; then
            return 0
        fi
        sleep 0.1
        tries=$((tries - 1))
    done
    "$@"
}

# session_wait_exit PID SECONDS: waits for the process (a child of this shell) to end and sets
# SESSION_EXIT_STATUS; fails when it still runs after SECONDS.
SESSION_EXIT_STATUS=""
session_wait_exit() {
    local pid="$1" seconds="$2"
    if ! session_wait_until "$seconds" eval '! session_alive '"$pid"; then
        return 1
    fi
    SESSION_EXIT_STATUS=0
    wait "$pid" 2>/dev/null || SESSION_EXIT_STATUS=$?
}

# session_stop PID: SIGTERM, up to 3 s of grace, then SIGKILL.
session_stop() {
    local pid="$1"
    if session_alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null || true
        session_wait_until 3 eval '! session_alive '"$pid" || kill -KILL "$pid" 2>/dev/null || true
    fi
    wait "$pid" 2>/dev/null || true
}

session_cleanup() {
    local i
    for ((i = ${#SESSION_PIDS[@]} - 1; i >= 0; i--)); do
        session_stop "${SESSION_PIDS[$i]}"
    done
    SESSION_PIDS=()
}

display_ready() { grep -q '^[0-9][0-9]*$' "$1" 2>/dev/null; }

# session_start_xvfb WORKDIR: starts Xvfb on a free display and exports DISPLAY.
session_start_xvfb() {
    local work="$1"
    : >"$work/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp \
        3>"$work/xvfb.display" >"$work/xvfb.log" 2>&1 </dev/null &
    SESSION_XVFB_PID=$!
    SESSION_PIDS+=("$SESSION_XVFB_PID")
    if ! session_wait_until 15 display_ready "$work/xvfb.display"; then
        echo "error: Xvfb did not report a display within 15 s; its log:" >&2
        cat "$work/xvfb.log" >&2
        return 1
    fi
    export DISPLAY=":$(cat "$work/xvfb.display")"
}

sim_ready() { [ -n "$(head -n 1 "$1" 2>/dev/null)" ]; }

# session_start_sim WORKDIR RADIOSIM [OPTIONS...]: starts the simulated radio and sets
# SESSION_SIM_PTY to the pseudo-terminal it opened.
session_start_sim() {
    local work="$1" sim="$2"
    shift 2
    "$sim" "$@" >"$work/sim.out" 2>"$work/sim.err" </dev/null &
    SESSION_SIM_PID=$!
    SESSION_PIDS+=("$SESSION_SIM_PID")
    if ! session_wait_until 10 sim_ready "$work/sim.out"; then
        echo "error: the simulated radio printed no device path within 10 s; its stderr:" >&2
        cat "$work/sim.err" >&2
        return 1
    fi
    SESSION_SIM_PTY="$(head -n 1 "$work/sim.out")"
}

# session_write_settings CONFIG_HOME COMPORT BAUDRATE CHIRPTIME RADIOADDRESS: the program's
# settings file as the program itself keeps it.
session_write_settings() {
    mkdir -p "$1/Tavmirok"
    printf '[settings]\ncomport=%s\nBaudRate=%s\nChirpTime=%s\nRadioAddress=%s\n' \
        "$2" "$3" "$4" "$5" >"$1/Tavmirok/Tavmirok.conf"
}

# session_start_program WORKDIR PROGRAM CONFIG_HOME: starts the program on $DISPLAY with its
# settings in CONFIG_HOME.
session_start_program() {
    local work="$1" program="$2" config="$3"
    env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb \
        "$program" >"$work/program.out" 2>"$work/program.err" </dev/null &
    SESSION_PROGRAM_PID=$!
    SESSION_PIDS+=("$SESSION_PROGRAM_PID")
}

# session_find_main_window SECONDS: prints the id of the main window once it is mapped.
session_find_main_window() {
    timeout "$1" xdotool search --sync --onlyvisible --name '^Tavmirok \(BETA\)$' | head -n 1
}

# session_press_start WINDOW: gives the window the keyboard focus (there is no window manager to
# activate it) and presses Start from the keyboard: focus starts in the display, Tab moves it to
# Start, space presses it.
session_press_start() {
    xdotool windowfocus --sync "$1" && xdotool key --delay 80 Tab space
}

# session_exit_program WINDOW: File > Exit through the access keys.
session_exit_program() {
    xdotool windowfocus --sync "$1" && xdotool key --delay 150 alt+f e
}

# session_frame_lines LOG: the frames the radio received, without the time of day.
session_frame_lines() {
    cut -d ' ' -f 2- "$1" 2>/dev/null
}

# session_decode_frequencies: reads radio log lines on stdin and prints, for each set-frequency
# frame (command 05, five BCD bytes, least significant first), the time of day and the frequency
# in MHz.
session_decode_frequencies() {
    awk '
        $6 == "05" && NF == 12 && $12 == "FD" {
            digits = $11 $10 $9 $8 $7
            if (digits !~ /^[0-9]+$/) { next }
            hz = digits + 0
            t = $1 + 0
            h = int(t / 3600); m = int((t - h * 3600) / 60); s = t - h * 3600 - m * 60
            printf "%02d:%02d:%06.3f  %10.3f MHz   (%s)\n", h, m, s, hz / 1e6, substr($0, index($0, $2))
            fflush()
        }'
}

# session_diagnostics WORKDIR: what a person needs to see why a run went wrong.
session_diagnostics() {
    local work="$1" f
    echo "---- diagnostics (kept in $work) ----"
    if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
        echo "windows on $DISPLAY:"
        local w
        for w in $(timeout 5 xdotool search --name '.' 2>/dev/null | head -n 20); do
            printf '  %s %s\n' "$w" "$(timeout 5 xdotool getwindowname "$w" 2>/dev/null)"
        done
        echo "focused window: $(timeout 5 xdotool getwindowfocus 2>&1)"
        if timeout 10 /usr/bin/import -window root "$work/failure.png" 2>/dev/null; then
            echo "screenshot: $work/failure.png"
        fi
    fi
    for f in program.err program.out sim.err sim.log xvfb.log; do
        if [ -s "$work/$f" ]; then
            echo "-- $f (last 40 lines):"
            tail -n 40 "$work/$f"
        fi
    done
    if [ -n "${SESSION_PROGRAM_PID:-}" ]; then
        if session_alive "$SESSION_PROGRAM_PID"; then
            echo "the program is still running"
        else
            echo "the program has ended"
        fi
    fi
}
