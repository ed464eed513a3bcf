#!/usr/bin/env bash
# A collector's page in a real browser: a private mosquitto on a free loopback port, the
# windowless collector serving its page with --http, headless chromium on the page
# (tests/browser/page_test.mjs --network); once the page is open, the simulated network publishes
# an hour of sweeps, which must reach the page's map through its live stream.
#
# Usage: browser_network.sh PROGRAM SIMNET [SCREENSHOT.png]
set -euo pipefail

program="$1"
simnet="$2"
. "$(dirname "$0")/../../scripts/lib/setup.sh"
browser_tests="$TAVMIROK_ROOT/tests/browser"

readonly kStartTimeoutSeconds=15
readonly kWatchSeconds=60
readonly kStations=40

[ -d "$browser_tests/node_modules/puppeteer-core" ] ||
    { echo "error: run 'npm ci' in tests/browser first (scripts/test does)" >&2; exit 1; }
for tool in mosquitto node chromium; do
    command -v "$tool" >/dev/null || { echo "error: $tool is not installed (scripts/test installs it)" >&2; exit 1; }
done

session_begin tavmirok-network-page
work="$SESSION_WORK"
screenshot="${3:-$work/page.png}"
free_port() {
    node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => {
        console.log(s.address().port); s.close(); });'
}
broker_port="$(free_port)"
http_port="$(free_port)"
printf 'listener %s 127.0.0.1\nallow_anonymous true\npersistence false\n' "$broker_port" >"$work/mosquitto.conf"
mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
SESSION_PIDS+=("$!")
env -u DISPLAY XDG_CONFIG_HOME="$work/config" "$program" --headless \
    --collect "mqtt://127.0.0.1:$broker_port" --folder "$work/network" --http "127.0.0.1:$http_port" \
    >"$work/program.out" 2>"$work/program.err" </dev/null &
SESSION_PIDS+=("$!")
collecting() { grep -q "collecting from" "$work/program.err"; }
session_await "$kStartTimeoutSeconds" "the collector did not subscribe" "$work/program.err" collecting
node "$browser_tests/page_test.mjs" --network "http://127.0.0.1:$http_port/" "$screenshot" \
    "$kWatchSeconds" >"$work/page.out" 2>&1 &
page_pid="$!"
SESSION_PIDS+=("$page_pid")
loaded() { grep -qs "page loads" "$work/page.out"; }
session_await "$kStartTimeoutSeconds" "the page did not load" "$work/page.out" loaded
# The hour before the current one: the collector draws only recent days' maps.
"$simnet" --url "mqtt://127.0.0.1:$broker_port" --stations "$kStations" --hours 1
status=0
wait "$page_pid" || status=$?
cat "$work/page.out"
exit "$status"
