# A session of the real program under an X server against the simulated radio, shared by the
# scripts (demo, screenshot, bench), the whole-program tests and the benchmarks. Sourced through
# scripts/lib/setup.sh, not run.
#
# session_begin makes the session's private folder and sets the traps; every process started
# here is remembered and stopped (newest first) when the script exits. Every wait is bounded.

# The station every session sets up: the simulated radio's CI-V address and the line speed.
SESSION_RADIO_ADDRESS=4E
SESSION_RADIO_ADDRESS_DECIMAL=$((16#$SESSION_RADIO_ADDRESS))
SESSION_BAUD_RATE=19200
# The sounder sweeps once every five minutes; the program's own arithmetic says when
# (tavmirok-radiosim --print-sweep-start).
SESSION_SWEEP_PERIOD=300
# The sounder's profile as tavmirok-radiosim options (--period ... --step); empty: the default.
# A script that sets it sets SESSION_SWEEP_PERIOD to match.
SESSION_PROFILE_ARGS=()
# The ionosphere the simulated radio hears the sounder through, as its --mode options: group
# delay in ms, the band in kHz where the mode exists, its strength.
SESSION_IONOSPHERE=(--mode 3.2:2000-12000:0.05 --mode 6.8:2500-20000:0.03)

SESSION_WORK=""
SESSION_KEEP_WORK=0      # 1: keep the folder even when the script succeeds
SESSION_CLEANUP_NOTE=""  # said before stopping the processes, when there are any
SESSION_DIAGNOSED=0
SESSION_PIDS=()
SESSION_XVFB_PID=""
SESSION_SIM_PID=""
SESSION_SIM_PTY=""
SESSION_PROGRAM_PID=""
SESSION_EXIT_STATUS=""

# session_begin NAME: a private folder SESSION_WORK (with a private XDG_RUNTIME_DIR in it) and
# the traps. On exit the processes are stopped and the folder deleted; when the script failed
# (any status but 0 and the 130/143 of Ctrl-C or a signal) the diagnostics are shown and the
# folder is kept.
session_begin() {
    SESSION_WORK="$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")"
    export XDG_RUNTIME_DIR="$SESSION_WORK/runtime"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    trap session_finish EXIT
    trap 'echo; exit 130' INT
    trap 'exit 143' TERM HUP
}

session_finish() {
    local rc=$?
    trap - EXIT INT TERM HUP
    local failed=0
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 130 ] && [ "$rc" -ne 143 ]; then
        failed=1
        if [ "$SESSION_DIAGNOSED" -eq 0 ] && [ ${#SESSION_PIDS[@]} -gt 0 ]; then
            session_diagnostics >&2 || true
        fi
    fi
    if [ ${#SESSION_PIDS[@]} -gt 0 ] && [ -n "$SESSION_CLEANUP_NOTE" ]; then
        say "$SESSION_CLEANUP_NOTE"
    fi
    session_cleanup
    if [ "$failed" -eq 0 ] && [ "$SESSION_KEEP_WORK" -eq 0 ]; then
        rm -rf "$SESSION_WORK"
    else
        echo "$(basename "$0"): files kept in $SESSION_WORK" >&2
    fi
    exit "$rc"
}

# session_fail MESSAGE: says what went wrong with what a person needs to see why, and exits 1.
session_fail() {
    echo "error: $*" >&2
    session_diagnostics >&2 || true
    SESSION_DIAGNOSED=1
    exit 1
}

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

# session_forget PID: stops the process and drops it from the clean-up list, so that the
# clean-up never signals a pid the system has given to another process since.
session_forget() {
    local pid="$1" kept=() p
    session_stop "$pid"
    for p in "${SESSION_PIDS[@]}"; do
        [ "$p" = "$pid" ] || kept+=("$p")
    done
    SESSION_PIDS=("${kept[@]}")
}

session_cleanup() {
    local i
    for ((i = ${#SESSION_PIDS[@]} - 1; i >= 0; i--)); do
        session_stop "${SESSION_PIDS[$i]}"
    done
    SESSION_PIDS=()
}

# Seconds since midnight UTC with the fraction, as the program reads its clock (sounders count
# their periods from midnight UTC).
session_time_of_day() {
    date -u '+%H %M %S %N' | awk '{ printf "%.3f\n", $1 * 3600 + $2 * 60 + $3 + $4 / 1e9 }'
}

# session_clock_text SECONDS_SINCE_MIDNIGHT: HH:MM:SS.s
session_clock_text() {
    awk -v t="$1" 'BEGIN {
        t = t % 86400; h = int(t / 3600); m = int((t - h * 3600) / 60); s = t - h * 3600 - m * 60
        printf "%02d:%02d:%04.1f\n", h, m, s }'
}

# session_sweep_start RADIOSIM CHIRP: "SECONDS TIME_OF_DAY" of the first step of the sweep that
# the program, were Start pressed now with this chirp time, would follow.
session_sweep_start() {
    "$1" "${SESSION_PROFILE_ARGS[@]}" --print-sweep-start "$2"
}

# session_chirp_for_lead RADIOSIM SECONDS: "CHIRP TIME_OF_DAY SECONDS_UNTIL": the whole chirp
# time whose sweep takes its first step SECONDS from now or less than one second later. Each
# chirp time's sweep starts that many seconds after chirp time 0's, a period later if it wraps.
session_chirp_for_lead() {
    local sim="$1" lead="$2" until_zero chirp until start
    read -r until_zero _ < <(session_sweep_start "$sim" 0) && [ -n "$until_zero" ] || return 1
    chirp="$(awk -v lead="$lead" -v z="$until_zero" -v period="$SESSION_SWEEP_PERIOD" 'BEGIN {
        c = lead - z; k = int(c); if (k < c) { k++ }
        print ((k % period) + period) % period }')"
    read -r until start < <(session_sweep_start "$sim" "$chirp") && [ -n "$start" ] || return 1
    echo "$chirp $start $until"
}

# session_await SECONDS WHAT OUTPUT COMMAND...: waits for COMMAND to succeed; when it does not
# within SECONDS, says that WHAT did not happen, shows the OUTPUT file and fails.
session_await() {
    local seconds="$1" what="$2" output="$3"
    shift 3
    session_wait_until "$seconds" "$@" && return 0
    echo "error: $what within $seconds s; its output:" >&2
    cat "$output" >&2
    return 1
}

display_ready() { grep -q '^[0-9][0-9]*$' "$1" 2>/dev/null; }

# session_start_xvfb: starts Xvfb on a free display and exports DISPLAY. -noreset: without it the
# server resets when its last client leaves, and a program connecting during the reset fails
# with "could not connect to display".
session_start_xvfb() {
    : >"$SESSION_WORK/xvfb.display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset \
        3>"$SESSION_WORK/xvfb.display" >"$SESSION_WORK/xvfb.log" 2>&1 </dev/null &
    SESSION_XVFB_PID=$!
    SESSION_PIDS+=("$SESSION_XVFB_PID")
    session_await 15 "Xvfb reported no display" "$SESSION_WORK/xvfb.log" \
        display_ready "$SESSION_WORK/xvfb.display" || return 1
    export DISPLAY=":$(cat "$SESSION_WORK/xvfb.display")"
}

pulse_ready() { pactl info >/dev/null 2>&1; }

# session_start_pulse: a private PulseAudio server in the session's XDG_RUNTIME_DIR, so the
# program records from it and the user's own sound server is never touched.
session_start_pulse() {
    pulseaudio --daemonize=no --exit-idle-time=-1 -n --log-level=error \
        --load="module-native-protocol-unix auth-anonymous=1" \
        >"$SESSION_WORK/pulse.log" 2>&1 </dev/null &
    SESSION_PIDS+=("$!")
    session_await 15 "the private PulseAudio server did not answer" "$SESSION_WORK/pulse.log" \
        pulse_ready
}

# session_add_pipe_source NAME FIFO: an input NAME of the private server fed from FIFO (made
# here), 48000 Hz mono 16-bit, as the simulated radio writes its audio.
session_add_pipe_source() {
    pactl load-module module-pipe-source source_name="$1" file="$2" format=s16le rate=48000 \
        channels=1 >/dev/null
}

wm_ready() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }

# session_start_openbox: a window manager on $DISPLAY, so windows get frames and can be
# activated.
session_start_openbox() {
    openbox >"$SESSION_WORK/openbox.log" 2>&1 </dev/null &
    SESSION_PIDS+=("$!")
    session_await 20 "openbox did not start" "$SESSION_WORK/openbox.log" wm_ready
}

sim_ready() { [ -n "$(head -n 1 "$1" 2>/dev/null)" ]; }

# session_start_sim RADIOSIM [OPTIONS...]: starts the simulated radio at the session's address
# (OPTIONS may name another) and sets SESSION_SIM_PTY to the pseudo-terminal it opened.
session_start_sim() {
    local sim="$1"
    shift
    "$sim" --address "$SESSION_RADIO_ADDRESS" "$@" \
        >"$SESSION_WORK/sim.out" 2>"$SESSION_WORK/sim.err" </dev/null &
    SESSION_SIM_PID=$!
    SESSION_PIDS+=("$SESSION_SIM_PID")
    session_await 10 "the simulated radio printed no device path" "$SESSION_WORK/sim.err" \
        sim_ready "$SESSION_WORK/sim.out" || return 1
    SESSION_SIM_PTY="$(head -n 1 "$SESSION_WORK/sim.out")"
}

# session_write_settings CONFIG_HOME COMPORT CHIRPTIME: the program's settings file as the
# program itself keeps it, for the session's radio address and speed.
session_write_settings() {
    mkdir -p "$1/Tavmirok"
    printf '[settings]\ncomport=%s\nBaudRate=%s\nChirpTime=%s\nRadioAddress=%s\n' \
        "$2" "$SESSION_BAUD_RATE" "$3" "$SESSION_RADIO_ADDRESS_DECIMAL" >"$1/Tavmirok/Tavmirok.conf"
}

# session_use_short_sweep: the sessions's sounder sweeps 3 to 12 MHz in 1 MHz steps 2 s apart,
# every minute: a whole sweep in 20 s. session_write_sounder then stores it for the program.
session_use_short_sweep() {
    SESSION_PROFILE_ARGS=(--period 60 --sweep-rate 500 --step 1000 --low 2000 --high 12000)
    SESSION_SWEEP_PERIOD=60
}

# session_write_sounder CONFIG_HOME: adds the session's sounder to the settings file written by
# session_write_settings (nothing for the default sounder).
session_write_sounder() {
    [ ${#SESSION_PROFILE_ARGS[@]} -gt 0 ] || return 0
    awk 'BEGIN { print "[sounder]" }
         { for (i = 1; i < NF; i += 2) { key[$i] = $(i + 1) } }
         END { printf "SweepRate=%s\nPeriod=%s\nLowFrequency=%s\nHighFrequency=%s\nStepSize=%s\n",
                      key["--sweep-rate"], key["--period"], key["--low"], key["--high"], key["--step"] }' \
        <<<"${SESSION_PROFILE_ARGS[*]}" >>"$1/Tavmirok/Tavmirok.conf"
}

# session_write_ionogram CONFIG_HOME INPUT FOLDER: the program records the audio input INPUT and
# archives each sweep's ionogram in FOLDER.
session_write_ionogram() {
    printf '[ionogram]\nAudioInput=%s\nFolder=%s\n' "$2" "$3" >>"$1/Tavmirok/Tavmirok.conf"
}

# session_start_program PROGRAM CONFIG_HOME: starts the program on $DISPLAY with its settings in
# CONFIG_HOME.
session_start_program() {
    local program="$1" config="$2"
    env -u QT_QPA_PLATFORM XDG_CONFIG_HOME="$config" QT_QPA_PLATFORM=xcb \
        "$program" >"$SESSION_WORK/program.out" 2>"$SESSION_WORK/program.err" </dev/null &
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

# session_open_ionogram WINDOW: View > Ionogram through the access keys.
session_open_ionogram() {
    xdotool windowfocus --sync "$1" && xdotool key --delay 150 alt+v i
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

# session_diagnostics: what a person needs to see why a run went wrong.
session_diagnostics() {
    local f
    echo "---- diagnostics (kept in $SESSION_WORK) ----"
    if [ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null; then
        echo "windows on $DISPLAY:"
        local w
        for w in $(timeout 5 xdotool search --name '.' 2>/dev/null | head -n 20); do
            printf '  %s %s\n' "$w" "$(timeout 5 xdotool getwindowname "$w" 2>/dev/null)"
        done
        echo "focused window: $(timeout 5 xdotool getwindowfocus 2>&1)"
        if timeout 10 /usr/bin/import -window root "$SESSION_WORK/failure.png" 2>/dev/null; then
            echo "screenshot: $SESSION_WORK/failure.png"
        fi
    fi
    for f in program.err program.out sim.err sim.log xvfb.log pulse.log; do
        if [ -s "$SESSION_WORK/$f" ]; then
            echo "-- $f (last 40 lines):"
            tail -n 40 "$SESSION_WORK/$f"
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
