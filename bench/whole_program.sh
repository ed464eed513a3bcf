#!/usr/bin/env bash
# The whole program under Xvfb against the simulated radio on a pseudo-terminal: time from launch
# to the main window being shown, then one real sweep with a chirp time chosen so that it starts
# a few seconds after Start. From the radio's log of the frames it received: each step's lateness
# against its half-second mark, missing and extra frames. From /proc: CPU use before Start,
# while waiting and while stepping, and resident memory.
#
# Prints figures as "ROW<TAB>measure<TAB>result<TAB>method" lines; never fails on time.
#
# Usage: whole_program.sh PROGRAM RADIOSIM
set -euo pipefail

program="$1"
sim="$2"
here="$(cd "$(dirname "$0")" && pwd)"
. "$here/../tests/e2e/lib.sh"

readonly kRadioAddressHex=4E
readonly kRadioAddressDecimal=78
readonly kBaudRate=19200
readonly kLaunches=5
readonly kWindowTimeoutSeconds=20
readonly kIdleSeconds=3
# The sweep starts about this long after launch: start-up, the idle sample, then the wait.
readonly kLeadSeconds=16
readonly kSteps=100
readonly kArmTimeoutSeconds=10
readonly kFirstStepHz=2100000
readonly kStepHz=100000
readonly kArmHz=2000000
readonly kPeriodSeconds=300
readonly kStartOffsetSeconds=20.5
readonly kDaySeconds=86400
readonly kWindowTitle='Tavmirok (BETA)'

work="$(mktemp -d "${TMPDIR:-/tmp}/tavmirok-bench.XXXXXX")"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
finish() {
    local rc=$?
    session_cleanup
    if [ "$rc" -eq 0 ]; then
        rm -rf "$work"
    else
        echo "whole_program.sh: files kept in $work" >&2
    fi
    exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT TERM HUP

note() { printf '    %s\n' "$*" >&2; }
row() { printf 'ROW\t%s\t%s\t%s\n' "$1" "$2" "$3"; }

# Seconds since local midnight with the fraction, as the program's clock reads it.
time_of_day() {
    date '+%H %M %S %N' | awk '{ printf "%.6f\n", $1 * 3600 + $2 * 60 + $3 + $4 / 1e9 }'
}
monotonic_ns() { date +%s%N; }

# sleep_until TIME_OF_DAY (may lie past midnight, as 86400 + t).
sleep_until() {
    local delay
    delay="$(awk -v target="$1" -v now="$(time_of_day)" -v day="$kDaySeconds" \
        'BEGIN { if (now < target - day / 2) { now += day } d = target - now;
                 printf "%.3f\n", (d > 0) ? d : 0 }')"
    sleep "$delay"
}

# CPU time of the whole process (all threads), user + system, in clock ticks.
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
status_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# cpu_percent TICKS0 NS0 TICKS1 NS1
cpu_percent() {
    awk -v t0="$1" -v n0="$2" -v t1="$3" -v n1="$4" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { printf "%.2f %% of one core over %.1f s (%d ticks of %d ms)\n",
                 (t1 - t0) / hz / ((n1 - n0) / 1e9) * 100, (n1 - n0) / 1e9, t1 - t0, 1000 / hz }'
}

window_shown() {
    xwininfo -name "$kWindowTitle" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# Starts the program (in this shell, so that its pid is remembered for the clean-up) and sets
# LAUNCH_MS to the milliseconds until its main window is mapped and viewable, polling xwininfo;
# LAUNCH_MS is empty when the window did not come.
LAUNCH_MS=""
launch_and_time_window() {
    local config="$1" start deadline
    LAUNCH_MS=""
    start="$(monotonic_ns)"
    session_start_program "$work" "$program" "$config"
    deadline=$((start + kWindowTimeoutSeconds * 1000000000))
    until window_shown; do
        if ! session_alive "$SESSION_PROGRAM_PID" || [ "$(monotonic_ns)" -gt "$deadline" ]; then
            return 0
        fi
    done
    LAUNCH_MS="$(awk -v a="$start" -v b="$(monotonic_ns)" 'BEGIN { printf "%.1f\n", (b - a) / 1e6 }')"
}

# Stops the program started last and forgets its pid, so the clean-up never signals a reused pid.
stop_program() {
    local pid="$SESSION_PROGRAM_PID" kept=() p
    session_stop "$pid"
    for p in "${SESSION_PIDS[@]}"; do
        [ "$p" = "$pid" ] || kept+=("$p")
    done
    SESSION_PIDS=("${kept[@]}")
}

# sorted_stats FILE: "median p99 max" of the numbers in FILE, nearest rank.
sorted_stats() {
    sort -g "$1" | awk '{ v[NR] = $1 }
        END { if (NR == 0) { print "nan nan nan"; exit }
              m = int((NR + 1) / 2); p = int(NR * 0.99); if (p < NR * 0.99) { p++ }
              printf "%.0f %.0f %.0f\n", v[m], v[p], v[NR] }'
}

for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || {
        echo "error: $tool is not installed (scripts/bench installs it)" >&2
        exit 1
    }
done

session_start_xvfb "$work"
session_start_sim "$work" "$sim" --address "$kRadioAddressHex" --log "$work/sim.log"
: >>"$work/sim.log"
note "Xvfb on $DISPLAY, simulated radio on $SESSION_SIM_PTY"
config="$work/config"

# ---- Launch to window shown, a few times ----
session_write_settings "$config" "$SESSION_SIM_PTY" "$kBaudRate" 0 "$kRadioAddressDecimal"
: >"$work/launch.ms"
for ((launch = 1; launch <= kLaunches; launch++)); do
    launch_and_time_window "$config"
    stop_program
    if [ -z "$LAUNCH_MS" ]; then
        echo "error: the main window did not appear within $kWindowTimeoutSeconds s" >&2
        session_diagnostics "$work" >&2
        exit 1
    fi
    note "launch $launch: window shown after $LAUNCH_MS ms"
    echo "$LAUNCH_MS" >>"$work/launch.ms"
done
first_launch="$(head -n 1 "$work/launch.ms")"
launch_median="$(sort -g "$work/launch.ms" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')"
launch_max="$(sort -g "$work/launch.ms" | tail -n 1)"
row "Launch to main window shown" \
    "median $launch_median ms, first $first_launch ms, max $launch_max ms" \
    "$kLaunches launches under Xvfb; date +%s%N before the start to xwininfo reporting the window IsViewable (polled back to back)"

# ---- One sweep ----
# A chirp time c puts the steps at c + 20.5 s after each five-minute boundary: pick the one whose
# first step falls kLeadSeconds from now.
chirp="$(awk -v now="$(time_of_day)" -v lead="$kLeadSeconds" -v off="$kStartOffsetSeconds" \
    -v period="$kPeriodSeconds" 'BEGIN { k = now + lead - off; k = (k == int(k)) ? k : int(k) + 1;
                                         print ((k % period) + period) % period }')"
note "chirp time $chirp"
session_write_settings "$config" "$SESSION_SIM_PTY" "$kBaudRate" "$chirp" "$kRadioAddressDecimal"
: >"$work/sim.log"
launch_and_time_window "$config"
[ -n "$LAUNCH_MS" ] || {
    echo "error: the main window did not appear within $kWindowTimeoutSeconds s" >&2
    session_diagnostics "$work" >&2
    exit 1
}
pid="$SESSION_PROGRAM_PID"
window="$(session_find_main_window "$kWindowTimeoutSeconds")"

# Before Start the timer gives no ticks.
idle_ticks0="$(cpu_ticks "$pid")"
idle_ns0="$(monotonic_ns)"
sleep "$kIdleSeconds"
idle_ticks1="$(cpu_ticks "$pid")"
idle_ns1="$(monotonic_ns)"
[ ! -s "$work/sim.log" ] || note "frames reached the radio before Start: $(head -n 3 "$work/sim.log")"

session_press_start "$window"
session_wait_until "$kArmTimeoutSeconds" test -s "$work/sim.log" || {
    echo "error: no frame reached the radio within $kArmTimeoutSeconds s of pressing Start" >&2
    session_diagnostics "$work" >&2
    exit 1
}
arm_time="$(head -n 1 "$work/sim.log" | cut -d ' ' -f 1)"
# The first step: the first instant after arming that lies chirp + 20.5 s past a multiple of 300 s.
# Times past midnight are kept as 86400 + t.
first_step="$(awk -v t="$arm_time" -v c="$chirp" -v off="$kStartOffsetSeconds" \
    -v period="$kPeriodSeconds" 'BEGIN { base = c + off; n = (t - base) / period;
        n = (n == int(n)) ? n : (n > 0 ? int(n) + 1 : int(n)); printf "%.3f\n", base + n * period }')"
wait_seconds="$(awk -v a="$arm_time" -v s="$first_step" 'BEGIN { printf "%.1f\n", s - a }')"
note "armed at $arm_time, first step due at $first_step ($wait_seconds s later)"
if awk -v w="$wait_seconds" 'BEGIN { exit !(w > 60 || w < 2) }'; then
    echo "error: the sweep would start $wait_seconds s after Start; launch took too long" >&2
    exit 1
fi

# Waiting: from half a second after arming to a quarter second before the first step.
sleep_until "$(awk -v a="$arm_time" 'BEGIN { print a + 0.5 }')"
wait_ticks0="$(cpu_ticks "$pid")"
wait_ns0="$(monotonic_ns)"
sleep_until "$(awk -v s="$first_step" 'BEGIN { print s - 0.25 }')"
wait_ticks1="$(cpu_ticks "$pid")"
wait_ns1="$(monotonic_ns)"
rss_waiting="$(status_kib "$pid" VmRSS)"

# Stepping: from just after the first step to halfway between the last counted step and the next.
cutoff="$(awk -v s="$first_step" -v n="$kSteps" 'BEGIN { printf "%.3f\n", s + n - 0.5 }')"
sleep_until "$(awk -v s="$first_step" 'BEGIN { print s + 0.5 }')"
step_ticks0="$(cpu_ticks "$pid")"
step_ns0="$(monotonic_ns)"
note "stepping; the last counted step is due $kSteps s after the first"
sleep_until "$cutoff"
step_ticks1="$(cpu_ticks "$pid")"
step_ns1="$(monotonic_ns)"
rss_stepping="$(status_kib "$pid" VmRSS)"
rss_peak="$(status_kib "$pid" VmHWM)"
cp "$work/sim.log" "$work/sweep.log"

# ---- The radio's log: lateness of each step, missing and extra frames ----
awk -v arm="$arm_time" -v s="$first_step" -v n="$kSteps" -v cutoff="$cutoff" \
    -v first="$kFirstStepHz" -v step="$kStepHz" -v armhz="$kArmHz" -v day="$kDaySeconds" \
    -v late="$work/lateness.ms" '
    {
        t = $1 + 0
        if (t < arm - day / 2) { t += day }
        if (t > cutoff) { next }
        if ($2 == "stray" || $2 == "cut") { other++; next }
        if (NF == 12 && $6 == "05" && $12 == "FD" && ($11 $10 $9 $8 $7) ~ /^[0-9]+$/) {
            hz = ($11 $10 $9 $8 $7) + 0
            if (hz == armhz && t < s) { arms++; next }
            k = (hz - first) / step
            if (k == int(k) && k >= 0 && k < n && !(k in seen)) {
                seen[k] = 1
                printf "%.3f\n", (t - (s + k)) * 1000 > late
                next
            }
        }
        extra++
        print "extra frame: " $0 > "/dev/stderr"
    }
    END {
        missing = 0
        for (k = 0; k < n; k++) { if (!(k in seen)) { missing++ } }
        printf "%d %d %d %d\n", missing, extra + 0, other + 0, arms + 0
    }' "$work/sweep.log" >"$work/counts"
read -r missing extra other arms <"$work/counts"
read -r late_median late_p99 late_max < <(sorted_stats "$work/lateness.ms")
late_min="$(sort -g "$work/lateness.ms" | awk 'NR == 1 { printf "%.0f\n", $1 }')"
counted="$(wc -l <"$work/lateness.ms")"

row "Step lateness vs half-second marks" \
    "median $late_median ms, p99 $late_p99 ms, max $late_max ms (min $late_min ms)" \
    "$counted steps of one real sweep (2.1 MHz on); radio's log time of each 05 frame minus its mark; log has 1 ms resolution"
# Exactly one 2 MHz tuning is expected at Start; more are extra, none is one missing.
missing=$((missing + (arms == 0 ? 1 : 0)))
extra=$((extra + other + (arms > 1 ? arms - 1 : 0)))
row "Missing / extra frames" "$missing missing, $extra extra" \
    "expected from the radio's log: one 2 MHz frame at Start, then exactly one 05 frame per mark with that step's frequency; anything else (stray bytes, cut frames, repeats) is extra"
row "CPU before Start (idle)" "$(cpu_percent "$idle_ticks0" "$idle_ns0" "$idle_ticks1" "$idle_ns1")" \
    "/proc/PID/stat utime+stime, whole process"
row "CPU while waiting (armed)" "$(cpu_percent "$wait_ticks0" "$wait_ns0" "$wait_ticks1" "$wait_ns1")" \
    "/proc/PID/stat utime+stime from 0.5 s after arming to 0.25 s before the first step"
row "CPU while stepping" "$(cpu_percent "$step_ticks0" "$step_ns0" "$step_ticks1" "$step_ns1")" \
    "/proc/PID/stat utime+stime over the sweep's first $kSteps steps"
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
row "Resident memory" \
    "VmRSS $(mib "$rss_waiting") waiting, $(mib "$rss_stepping") after $kSteps steps (peak VmHWM $(mib "$rss_peak"))" \
    "/proc/PID/status of the program (Qt xcb platform under Xvfb)"
