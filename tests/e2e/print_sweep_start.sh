#!/usr/bin/env bash
# tavmirok-radiosim --print-sweep-start, which the scripts use instead of their own arithmetic:
# with the clock set by libfaketime it prints the time of day of the next sweep's first step and
# the seconds until then, across a period and across midnight, and refuses chirp times the
# program refuses.
#
# Usage: print_sweep_start.sh RADIOSIM
set -euo pipefail

sim="$1"
# libfaketime starts the clock at the given second plus the fraction of the real one, and the
# radio (slower in a sanitizer build) reads it after starting up.
readonly kClockSlack=2.5

command -v faketime >/dev/null || {
    echo "FAIL: faketime is not installed (scripts/test installs it)" >&2
    exit 1
}
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

# A sanitizer build refuses libfaketime ahead of its runtime unless told that this is fine.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"

# clock (UTC)          chirp  first step   seconds until
cases='
2026-12-07 12:00:00    0      43220.500    20.5
2026-12-07 12:00:16    0      43220.500    4.5
2026-12-07 12:00:30    0      43520.500    290.5
2026-12-07 12:01:00    78     43298.500    38.5
2026-12-07 12:00:00    299.5  43220.000    20
2026-12-07 23:59:50    0      20.500       30.5
2026-12-07 23:59:50    290    10.500       20.5'
while read -r day clock chirp start until; do
    [ -n "$day" ] || continue
    out="$(TZ=UTC FAKETIME_DONT_FAKE_MONOTONIC=1 faketime "$day $clock" "$sim" --print-sweep-start "$chirp")" ||
        { fail "$clock chirp $chirp: exit status $?"; continue; }
    read -r got_until got_start <<<"$out"
    [ "$got_start" = "$start" ] || fail "$clock chirp $chirp: first step at $got_start, expected $start"
    awk -v g="$got_until" -v e="$until" -v slack="$kClockSlack" 'BEGIN { exit !(g <= e && g > e - slack) }' ||
        fail "$clock chirp $chirp: $got_until s until the first step, expected $until"
    echo "ok: $clock chirp $chirp -> $out"
done <<<"$cases"

for bad in 300 -1 abc 78,5 ""; do
    rc=0
    err="$("$sim" --print-sweep-start "$bad" 2>&1 >/dev/null)" || rc=$?
    [ "$rc" -eq 2 ] || fail "chirp time '$bad' gave exit status $rc, expected 2"
    grep -q -- '--print-sweep-start needs a chirp time' <<<"$err" || fail "chirp time '$bad' gave '$err'"
done
help="$("$sim" --help)" || fail "$sim --help failed"
grep -q -- '--print-sweep-start CHIRP' <<<"$help" || fail "--help does not document --print-sweep-start"

[ "$failures" -eq 0 ] || exit 1
echo "--print-sweep-start follows the program's schedule"
