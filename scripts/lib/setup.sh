# Shared set-up for the project's scripts, the whole-program tests and the benchmarks: install
# what is missing, configure, build; it brings the session helpers of scripts/lib/session.sh.
# Sourced, not run. Defines tavmirok_setup [build options] [build-dir [extra cmake args...]].

TAVMIROK_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"

# Debian packages the build, the tests, the demo and the benchmarks need.
TAVMIROK_PACKAGES=(
    cmake make g++ pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    # the ionogram: FFTs, and a private sound server for the tests and the demo
    libfftw3-dev zlib1g-dev libpulse-dev pulseaudio pulseaudio-utils
    # rig control through Hamlib, and Hamlib's rigctl/rigctld as test peers
    libhamlib-dev
    # publishing to an MQTT broker, and the broker the tests and the benchmark start
    libmosquitto-dev mosquitto openssl
    fonts-dejavu-core
    xvfb xdotool x11-utils imagemagick openbox
    libhamlib-utils faketime
    # clang's libFuzzer and sanitizer runtimes come in libclang-rt-dev, only recommended by clang
    clang libclang-rt-dev
    # the format gate of scripts/test
    clang-format-14
    dpkg-dev file
    # the web page's test: Debian's chromium driven by puppeteer-core (npm) under node
    chromium nodejs
)

say() { printf '==> %s\n' "$*"; }

tavmirok_install_packages() {
    local missing=() pkg
    for pkg in "${TAVMIROK_PACKAGES[@]}"; do
        if ! dpkg -s "$pkg" 2>/dev/null | grep -q '^Status: install ok installed'; then
            missing+=("$pkg")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        say "All Debian packages are installed."
        return 0
    fi
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1; then
            sudo=(sudo)
        else
            echo "error: these packages are missing and this is not root, nor is sudo available: ${missing[*]}" >&2
            return 1
        fi
    fi
    say "Installing missing Debian packages: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# tavmirok_build [--source DIR] [--target NAME]... [build-dir [extra cmake args...]]: configures
# DIR (default: the project) into build-dir (default build/) and builds the targets named
# (default: all).
tavmirok_build() {
    local source="$TAVMIROK_ROOT" targets=() names=()
    while [ $# -gt 0 ]; do
        case "$1" in
        --source) source="$2" ;;
        --target) targets+=(--target "$2") && names+=("$2") ;;
        *) break ;;
        esac
        shift 2
    done
    local dir="${1:-$TAVMIROK_ROOT/build}"
    shift || true
    say "Configuring ${source} into ${dir}"
    cmake -S "$source" -B "$dir" "$@" >"${dir}.configure.log" 2>&1 || {
        cat "${dir}.configure.log" >&2
        return 1
    }
    say "Building ${names[*]:-everything} (this takes a few minutes the first time)"
    cmake --build "$dir" --parallel "$(nproc)" "${targets[@]}"
}

tavmirok_setup() {
    tavmirok_install_packages && tavmirok_build "$@"
}

# A private runtime folder silences Qt's "XDG_RUNTIME_DIR not set".
# One folder per user, reused by every run; a folder of that name that is not ours and private
# is not used.
if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
    runtime="${TMPDIR:-/tmp}/tavmirok-runtime-$(id -u)"
    mkdir -p -m 700 "$runtime" 2>/dev/null || true
    if [ -O "$runtime" ] && [ "$(stat -c %a "$runtime")" = 700 ]; then
        export XDG_RUNTIME_DIR="$runtime"
    else
        XDG_RUNTIME_DIR="$(mktemp -d "${TMPDIR:-/tmp}/tavmirok-runtime.XXXXXX")"
        export XDG_RUNTIME_DIR
    fi
    unset runtime
fi

. "$TAVMIROK_ROOT/scripts/lib/session.sh"
