#!/usr/bin/env bash
# The whole program under Xvfb against the simulated radio on a pseudo-terminal: time from launch
# to the main window being shown; then a few runs that each press Start with a chirp time whose
# sweep begins about half a minute later and follow its first steps. From the radio's log of the
# frames it received: each step's lateness against its half-second mark, missing and extra
# frames. From /proc: CPU use before Start, armed and waiting between sweeps, and stepping, set
# against the floor of a Qt widget program doing nothing but a 10 ms timer under the same X
# server; and resident memory.
#
# Prints figures as "ROW<TAB>measure<TAB>result<TAB>method" lines; never fails on time.
#
# Usage: whole_program.sh PROGRAM RADIOSIM EMPTY_TIMER
set -euo pipefail

program="$1"
sim="$2"
empty_timer="$3"
. "$(dirname "$0")/../scripts/lib/setup.sh"

readonly kLaunches=5
readonly kWindowTimeoutSeconds=20
readonly kRuns=3             # each CPU figure is the median of this many runs
readonly kIdleSeconds=3      # before Start
# From choosing the chirp time to the first step: the launch, the idle sample, then about 22 s
# armed and waiting.
readonly kLeadSeconds=28
readonly kShortestWaitSeconds=10
readonly kSteps=21           # steps followed in each run: 20 s of stepping
readonly kFloorSeconds=20
readonly kSettleSeconds=0.5  # after arming, a step or the floor's window appearing
readonly kArmTimeoutSeconds=10
readonly kFirstStepHz=2100000
readonly kStepHz=100000
readonly kArmHz=2000000
readonly kDaySeconds=86400
readonly kWindowTitle='Tavmirok (BETA)'
readonly kFloorTitle='Tavmirok empty timer'

session_begin tavmirok-bench
work="$SESSION_WORK"

note() { printf '    %s\n' "$*" >&2; }
row() { printf 'ROW\t%s\t%s\t%s\n' "$1" "$2" "$3"; }
monotonic_ns() { date +%s%N; }

# unwrap REFERENCE TIME_OF_DAY: the time of day as a number near REFERENCE, past midnight as
# 86400 + t, so that differences across midnight come out right.
unwrap() {
    awk -v r="$1" -v t="$2" -v day="$kDaySeconds" \
        'BEGIN { if (t < r - day / 2) { t += day } else if (t > r + day / 2) { t -= day }
                 printf "%.3f\n", t }'
}
plus() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f\n", a + b }'; }

# sleep_until TIME_OF_DAY (may lie past midnight, as 86400 + t).
sleep_until() {
    local now delay
    now="$(session_time_of_day)"
    delay="$(awk -v target="$1" -v now="$(unwrap "$1" "$now")" \
        'BEGIN { d = target - now; printf "%.3f\n", (d > 0) ? d : 0 }')"
    sleep "$delay"
}

# CPU time of the whole process (all threads), user + system, in clock ticks.
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }
status_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/status"; }

# cpu_window PID FILE UNTIL: samples the process's CPU time from now until the time of day UNTIL
# and appends "percent-of-one-core seconds" to FILE.
cpu_window() {
    local pid="$1" file="$2" ticks0 ns0 ticks1 ns1
    ticks0="$(cpu_ticks "$pid")"
    ns0="$(monotonic_ns)"
    sleep_until "$3"
    ticks1="$(cpu_ticks "$pid")"
    ns1="$(monotonic_ns)"
    awk -v t0="$ticks0" -v n0="$ns0" -v t1="$ticks1" -v n1="$ns1" -v hz="$(getconf CLK_TCK)" \
        'BEGIN { s = (n1 - n0) / 1e9; printf "%.3f %.1f\n", (t1 - t0) / hz / s * 100, s }' >>"$file"
}

# cpu_summary FILE: "median % (min-max %) ..." of the runs in FILE.
cpu_summary() {
    sort -g "$1" | awk '{ v[NR] = $1; s += $2 }
        END { printf "%.2f %% of one core, median of %d runs (%.2f-%.2f %%), %.0f s each\n",
                     v[int((NR + 1) / 2)], NR, v[1], v[NR], s / NR }'
}

window_shown() {
    xwininfo -name "$1" 2>/dev/null | grep -q 'Map State: IsViewable'
}

# wait_for_window PID TITLE START_NS: polls until the window is mapped and viewable and prints
# the milliseconds since START_NS; prints nothing when the process ended or the time ran out.
wait_for_window() {
    local pid="$1" title="$2" start="$3" deadline
    deadline=$((start + kWindowTimeoutSeconds * 1000000000))
    until window_shown "$title"; do
        if ! session_alive "$pid" || [ "$(monotonic_ns)" -gt "$deadline" ]; then
            return 0
        fi
    done
    awk -v a="$start" -v b="$(monotonic_ns)" 'BEGIN { printf "%.1f\n", (b - a) / 1e6 }'
}

# launch CONFIG: starts the program and sets LAUNCH_MS to the milliseconds until its main window
# is shown; fails the benchmark when it does not come.
LAUNCH_MS=""
launch() {
    local start
    start="$(monotonic_ns)"
    session_start_program "$program" "$1"
    LAUNCH_MS="$(wait_for_window "$SESSION_PROGRAM_PID" "$kWindowTitle" "$start")"
    [ -n "$LAUNCH_MS" ] || session_fail "the main window did not appear within $kWindowTimeoutSeconds s"
}

# sorted_stats FILE: "median p99 max min" of the numbers in FILE, nearest rank.
sorted_stats() {
    sort -g "$1" | awk '{ v[NR] = $1 }
        END { if (NR == 0) { print "nan nan nan nan"; exit }
              m = int((NR + 1) / 2); p = int(NR * 0.99); if (p < NR * 0.99) { p++ }
              printf "%.0f %.0f %.0f %.0f\n", v[m], v[p], v[NR], v[1] }'
}

for tool in Xvfb xdotool xwininfo; do
    command -v "$tool" >/dev/null || session_fail "$tool is not installed (scripts/bench installs it)"
done

session_start_xvfb
log="$work/sim.log"
session_start_sim "$sim" --log "$log"
: >>"$log"
note "Xvfb on $DISPLAY, simulated radio on $SESSION_SIM_PTY"
config="$work/config"

# ---- Launch to window shown, a few times ----
session_write_settings "$config" "$SESSION_SIM_PTY" 0
: >"$work/launch.ms"
for ((i = 1; i <= kLaunches; i++)); do
    launch "$config"
    session_forget "$SESSION_PROGRAM_PID"
    note "launch $i: window shown after $LAUNCH_MS ms"
    echo "$LAUNCH_MS" >>"$work/launch.ms"
done
first_launch="$(head -n 1 "$work/launch.ms")"
read -r launch_median _ launch_max _ < <(sorted_stats "$work/launch.ms")
row "Launch to main window shown" \
    "median $launch_median ms, first $first_launch ms, max $launch_max ms" \
    "$kLaunches launches under Xvfb; date +%s%N before the start to xwininfo reporting the window IsViewable (polled back to back)"

# ---- Runs: idle, Start, armed and waiting, the first steps ----
: >"$work/lateness.ms"
missing=0
extra=0
for ((run = 1; run <= kRuns; run++)); do
    read -r chirp expected_step _ < <(session_chirp_for_lead "$sim" "$kLeadSeconds") &&
        [ -n "$expected_step" ] || session_fail "$sim --print-sweep-start did not answer"
    session_write_settings "$config" "$SESSION_SIM_PTY" "$chirp"
    : >"$log"
    launch "$config"
    pid="$SESSION_PROGRAM_PID"
    window="$(session_find_main_window "$kWindowTimeoutSeconds")"

    # Before Start the timer gives no ticks.
    cpu_window "$pid" "$work/cpu.idle" "$(plus "$(session_time_of_day)" "$kIdleSeconds")"
    [ ! -s "$log" ] || note "frames reached the radio before Start: $(head -n 3 "$log")"

    session_press_start "$window"
    session_wait_until "$kArmTimeoutSeconds" test -s "$log" ||
        session_fail "no frame reached the radio within $kArmTimeoutSeconds s of pressing Start"
    arm_time="$(head -n 1 "$log" | cut -d ' ' -f 1)"
    # The first step by the program's own arithmetic, the same as at Start unless a sweep began
    # in between (then the launch took far too long and the wait below says so).
    read -r _ first_step < <(session_sweep_start "$sim" "$chirp")
    first_step="$(unwrap "$arm_time" "$first_step")"
    wait_seconds="$(awk -v a="$arm_time" -v s="$first_step" 'BEGIN { printf "%.1f\n", s - a }')"
    note "run $run: chirp time $chirp, armed at $arm_time, first step due at $first_step ($wait_seconds s later)"
    if awk -v w="$wait_seconds" -v lo="$kShortestWaitSeconds" -v hi="$kLeadSeconds" \
        'BEGIN { exit !(w < lo || w > hi) }'; then
        session_fail "the sweep would start $wait_seconds s after Start, not $kShortestWaitSeconds to $kLeadSeconds s; the launch took too long"
    fi

    # Armed and waiting: from just after arming to a quarter second before the first step.
    sleep_until "$(plus "$arm_time" "$kSettleSeconds")"
    cpu_window "$pid" "$work/cpu.waiting" "$(plus "$first_step" -0.25)"
    rss_waiting="$(status_kib "$pid" VmRSS)"

    # Stepping: from just after the first step to halfway between the last counted step and the
    # next.
    cutoff="$(plus "$first_step" $((kSteps - 1)).5)"
    sleep_until "$(plus "$first_step" "$kSettleSeconds")"
    cpu_window "$pid" "$work/cpu.stepping" "$cutoff"
    rss_stepping="$(status_kib "$pid" VmRSS)"
    rss_peak="$(status_kib "$pid" VmHWM)"
    cp "$log" "$work/sweep.$run.log"
    session_forget "$pid"

    # The radio's log: lateness of each step, missing and extra frames.
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
                    printf "%.3f\n", (t - (s + k)) * 1000 >> late
                    next
                }
            }
            extra++
            print "extra frame: " $0 > "/dev/stderr"
        }
        END {
            missing = 0
            for (k = 0; k < n; k++) { if (!(k in seen)) { missing++ } }
            # Exactly one 2 MHz tuning is expected at Start; more are extra, none is one missing.
            printf "%d %d\n", missing + (arms == 0 ? 1 : 0), extra + other + (arms > 1 ? arms - 1 : 0)
        }' "$work/sweep.$run.log" >"$work/counts"
    read -r run_missing run_extra <"$work/counts"
    missing=$((missing + run_missing))
    extra=$((extra + run_extra))
done

# ---- The floor: a widget program whose only work is a 10 ms timer ----
for ((run = 1; run <= kRuns; run++)); do
    start="$(monotonic_ns)"
    session_start_program "$empty_timer" "$config"
    floor_pid="$SESSION_PROGRAM_PID"
    [ -n "$(wait_for_window "$floor_pid" "$kFloorTitle" "$start")" ] ||
        session_fail "the empty timer's window did not appear within $kWindowTimeoutSeconds s"
    sleep "$kSettleSeconds"
    cpu_window "$floor_pid" "$work/cpu.floor" "$(plus "$(session_time_of_day)" "$kFloorSeconds")"
    session_forget "$floor_pid"
done

read -r late_median late_p99 late_max late_min < <(sorted_stats "$work/lateness.ms")
counted="$(wc -l <"$work/lateness.ms")"
row "Step lateness vs half-second marks" \
    "median $late_median ms, p99 $late_p99 ms, max $late_max ms (min $late_min ms)" \
    "$counted steps: the first $kSteps steps (2.1 MHz on) of $kRuns real sweeps; radio's log time of each 05 frame minus its mark; log has 1 ms resolution"
row "Missing / extra frames" "$missing missing, $extra extra" \
    "over the $kRuns sweeps, expected from the radio's log: one 2 MHz frame at Start, then exactly one 05 frame per mark with that step's frequency; anything else (stray bytes, cut frames, repeats) is extra"
row "CPU before Start (idle)" "$(cpu_summary "$work/cpu.idle")" \
    "/proc/PID/stat utime+stime of the whole process, from the window shown to Start"
row "CPU armed, waiting between sweeps" "$(cpu_summary "$work/cpu.waiting")" \
    "/proc/PID/stat utime+stime from $kSettleSeconds s after arming to 0.25 s before the first step"
row "CPU while stepping" "$(cpu_summary "$work/cpu.stepping")" \
    "/proc/PID/stat utime+stime over the first $kSteps steps of each sweep"
row "CPU floor: empty 10 ms timer" "$(cpu_summary "$work/cpu.floor")" \
    "bench/empty_timer.cpp, a Qt widget program whose only work is a 10 ms precise timer with an empty slot, under the same Xvfb, measured the same way"
mib() { awk -v k="$1" 'BEGIN { printf "%.1f MiB", k / 1024 }'; }
row "Resident memory" \
    "VmRSS $(mib "$rss_waiting") waiting, $(mib "$rss_stepping") after $kSteps steps (peak VmHWM $(mib "$rss_peak"))" \
    "/proc/PID/status of the program in the last run (Qt xcb platform under Xvfb)"
