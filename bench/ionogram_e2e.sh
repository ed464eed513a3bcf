#!/usr/bin/env bash
# The ionogram end to end: the program without a window follows a sweep of 20 steps a second
# apart (2.5 to 12 MHz) on the simulated radio, whose audio (two modes, sound card clock 100 ppm
# fast) reaches it through a private PulseAudio server. From /proc: the program's CPU use while
# it captures and steps. From the archived table: how far each mode's peak lies from its delay
# after one constant offset (the receiver's filter and the audio path).
#
# Prints figures as "ROW<TAB>measure<TAB>result<TAB>method" lines; never fails on time.
#
# Usage: ionogram_e2e.sh PROGRAM RADIOSIM
set -euo pipefail

program="$1"
sim="$2"
. "$(dirname "$0")/../scripts/lib/setup.sh"

readonly kLeadSeconds=8
readonly kSteps=20
readonly kSettleSeconds=0.5
readonly kArchiveTimeoutSeconds=40
# Where a mode's peak is looked for around its delay, in ms: the offset is positive and small.
readonly kSearchBefore=1
readonly kSearchAfter=2

session_begin tavmirok-bench-ionogram
work="$SESSION_WORK"
note() { printf '    %s\n' "$*" >&2; }
row() { printf 'ROW\t%s\t%s\t%s\n' "$1" "$2" "$3"; }
cpu_ticks() { sed 's/^.*) //' "/proc/$1/stat" | awk '{ print $12 + $13 }'; }

for tool in pulseaudio pactl; do
    command -v "$tool" >/dev/null || session_fail "$tool is not installed (scripts/bench installs it)"
done
SESSION_PROFILE_ARGS=(--period 60 --sweep-rate 500 --step 500 --low 2000 --high 12000)
SESSION_SWEEP_PERIOD=60
session_start_pulse
session_add_pipe_source radio "$work/radio.fifo"
read -r chirp first_step _ < <(session_chirp_for_lead "$sim" "$kLeadSeconds") && [ -n "$first_step" ] ||
    session_fail "$sim --print-sweep-start did not answer"
session_start_sim "$sim" --link "$work/ttyCIV" --chirp "$chirp" "${SESSION_PROFILE_ARGS[@]}" \
    --audio "$work/radio.fifo" --audio-ppm 100 "${SESSION_IONOSPHERE[@]}"
session_write_settings "$work/config" "$work/ttyCIV" "$chirp"
env -u DISPLAY XDG_CONFIG_HOME="$work/config" "$program" --headless --audio-input radio \
    --folder "$work/archive" "${SESSION_PROFILE_ARGS[@]}" \
    >"$work/program.out" 2>"$work/program.err" </dev/null &
pid=$!
SESSION_PIDS+=("$pid")
note "chirp time $chirp, first step at $(session_clock_text "$first_step")"

# CPU from just after the first step to halfway between the last step and the sweep's end.
wait_until() {
    sleep "$(awk -v t="$1" -v now="$(session_time_of_day)" \
        'BEGIN { d = t - now; if (d < -43200) { d += 86400 } printf "%.3f\n", (d > 0) ? d : 0 }')"
}
wait_until "$(awk -v s="$first_step" -v k="$kSettleSeconds" 'BEGIN { print s + k }')"
ticks0="$(cpu_ticks "$pid")"
ns0="$(date +%s%N)"
wait_until "$(awk -v s="$first_step" -v n="$kSteps" 'BEGIN { print s + n - 0.5 }')"
ticks1="$(cpu_ticks "$pid")"
ns1="$(date +%s%N)"
cpu="$(awk -v t0="$ticks0" -v t1="$ticks1" -v n0="$ns0" -v n1="$ns1" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { s = (n1 - n0) / 1e9; printf "%.2f %% of one core over %.1f s", (t1 - t0) / hz / s * 100, s }')"

archived() { compgen -G "$work/archive/*.csv.gz" >/dev/null; }
session_await "$kArchiveTimeoutSeconds" "the sweep's ionogram was not archived" "$work/program.err" \
    archived || session_fail "no archive"
session_forget "$pid"

# The modes as "delay low high" lines, from the --mode options.
printf '%s\n' "${SESSION_IONOSPHERE[@]}" | grep -v '^--mode$' | tr ':-' '  ' | awk '{ print $1, $2, $3 }' \
    >"$work/modes"
zcat "$(compgen -G "$work/archive/*.csv.gz" | head -n 1)" | grep -v '^#' |
    awk -F ',' -v before="$kSearchBefore" -v after="$kSearchAfter" -v modes="$work/modes" '
    BEGIN { while ((getline line < modes) > 0) { split(line, m, " "); n++; d[n] = m[1]; lo[n] = m[2]; hi[n] = m[3] } }
    $1 == "frequency_khz" { for (i = 2; i <= NF; i++) { delay[i] = $i + 0 }; next }
    {
        for (k = 1; k <= n; k++) {
            if ($1 + 0 < lo[k] || $1 + 0 > hi[k]) { continue }
            best = -1e9
            for (i = 2; i <= NF; i++) {
                if (delay[i] >= d[k] - before && delay[i] <= d[k] + after && $i + 0 > best) {
                    best = $i + 0; peak = delay[i]
                }
            }
            printf "%.3f\n", peak - d[k]
        }
    }' >"$work/differences"
found="$(wc -l <"$work/differences")"
read -r offset < <(sort -g "$work/differences" | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')
read -r err_median err_max < <(awk -v o="$offset" '{ e = $1 - o; if (e < 0) { e = -e }; print e }' \
    "$work/differences" | sort -g | awk '{ v[NR] = $1 } END { printf "%.2f %.2f\n", v[int((NR + 1) / 2)], v[NR] }')

row "Program CPU while capturing and stepping" "$cpu" \
    "/proc/PID/stat utime+stime of tavmirok --headless over $kSteps steps 1 s apart with 48 kHz audio from a private PulseAudio pipe source; goal at most 3 %"
row "Delay error end to end" \
    "median $err_median ms, max $err_max ms after an offset of $offset ms" \
    "$found mode peaks in the archived table of one sweep (2 modes, card clock 100 ppm fast): |peak - (model delay + offset)|, offset the median of peak - model; 0.05 ms grid"
