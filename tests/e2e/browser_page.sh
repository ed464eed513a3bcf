#!/usr/bin/env bash
# The web page in a real browser: the windowless program follows a short sweep (2 to 12 MHz in
# 1 MHz steps 2 s apart) on the simulated radio, whose audio reaches it through a private
# PulseAudio server, and serves its page with --http on a free loopback port; headless chromium
# (tests/browser/page_test.mjs, puppeteer-core) watches the page through the sweep.
#
# Usage: browser_page.sh PROGRAM RADIOSIM [SCREENSHOT.png]
set -euo pipefail

program="$1"
sim="$2"
. "$(dirname "$0")/../../scripts/lib/setup.sh"
browser_tests="$TAVMIROK_ROOT/tests/browser"

readonly kLeadSeconds=10
readonly kServeTimeoutSeconds=15
readonly kWatchSeconds=90

[ -d "$browser_tests/node_modules/puppeteer-core" ] ||
    { echo "error: run 'npm ci' in tests/browser first (scripts/test does)" >&2; exit 1; }
for tool in pulseaudio pactl node chromium; do
    command -v "$tool" >/dev/null || { echo "error: $tool is not installed (scripts/test installs it)" >&2; exit 1; }
done

session_begin tavmirok-browser
work="$SESSION_WORK"
screenshot="${3:-$work/page.png}"
session_use_short_sweep
session_start_pulse
session_add_pipe_source radio "$work/radio.fifo"
read -r chirp first_step _ < <(session_chirp_for_lead "$sim" "$kLeadSeconds") && [ -n "$first_step" ] ||
    session_fail "$sim --print-sweep-start did not answer"
session_start_sim "$sim" --link "$work/ttyCIV" --chirp "$chirp" "${SESSION_PROFILE_ARGS[@]}" \
    --audio "$work/radio.fifo" "${SESSION_IONOSPHERE[@]}"
session_write_settings "$work/config" "$work/ttyCIV" "$chirp"
port="$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => {
    console.log(s.address().port); s.close(); });')"
env -u DISPLAY XDG_CONFIG_HOME="$work/config" "$program" --headless --audio-input radio \
    --folder "$work/archive" "${SESSION_PROFILE_ARGS[@]}" --http "127.0.0.1:$port" \
    >"$work/program.out" 2>"$work/program.err" </dev/null &
SESSION_PIDS+=("$!")
serving() { grep -q "web: serving http://127.0.0.1:$port/" "$work/program.err"; }
session_await "$kServeTimeoutSeconds" "the program did not serve its page" "$work/program.err" serving
say "first step at $(session_clock_text "$first_step") UTC; page at http://127.0.0.1:$port/"
node "$browser_tests/page_test.mjs" "http://127.0.0.1:$port/" "$screenshot" "$kWatchSeconds"
