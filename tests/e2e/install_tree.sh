#!/usr/bin/env bash
# `cmake --install` into an empty prefix: both programs, the menu entry and the icons land where
# a desktop looks for them, the menu entry starts the installed program, and that program starts.
#
# Usage: install_tree.sh CMAKE BUILD_DIR [DESKTOP_FILE_VALIDATE]
set -euo pipefail

cmake="$1"
build="$2"
validate="${3:-}"
. "$(dirname "$0")/../../scripts/lib/setup.sh"

session_begin tavmirok-install
prefix="$SESSION_WORK/prefix"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

"$cmake" --install "$build" --prefix "$prefix" >"$SESSION_WORK/install.log" 2>&1 || {
    cat "$SESSION_WORK/install.log" >&2
    echo "FAIL: cmake --install failed" >&2
    exit 1
}
echo "installed into $prefix:"
(cd "$prefix" && find . -type f -o -type l | sort | sed 's/^/  /')

for program in tavmirok tavmirok-radiosim; do
    [ -x "$prefix/bin/$program" ] || fail "bin/$program is missing or not executable"
done

desktop="$prefix/share/applications/tavmirok.desktop"
if [ -f "$desktop" ]; then
    field() { sed -n "s/^$1=//p" "$desktop"; }
    [ "$(sed -n '1p' "$desktop")" = "[Desktop Entry]" ] || fail "desktop entry lacks its group"
    [ "$(field Type)" = Application ] || fail "desktop entry Type is '$(field Type)'"
    [ "$(field Name)" = Tavmirok ] || fail "desktop entry Name is '$(field Name)'"
    [ "$(field Exec)" = tavmirok ] || fail "desktop entry Exec is '$(field Exec)'"
    [ -x "$prefix/bin/$(field Exec)" ] || fail "desktop entry Exec names no installed program"
    [ "$(field Icon)" = tavmirok ] || fail "desktop entry Icon is '$(field Icon)'"
    [ "$(field Terminal)" = false ] || fail "desktop entry Terminal is '$(field Terminal)'"
    case ";$(field Categories)" in
    *";HamRadio;"*) ;;
    *) fail "desktop entry Categories '$(field Categories)' lack HamRadio" ;;
    esac
    if [ -n "$validate" ]; then
        "$validate" "$desktop" || fail "desktop-file-validate rejects the desktop entry"
    else
        echo "note: desktop-file-validate not installed; checked the fields only"
    fi
else
    fail "share/applications/tavmirok.desktop is missing"
fi

for size in 32 256; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/tavmirok.png"
    if [ -f "$icon" ]; then
        # PNG signature, then the IHDR width and height as big-endian 32-bit numbers.
        header="$(od -An -tx1 -N24 "$icon" | tr -d ' \n')"
        [ "${header:0:16}" = 89504e470d0a1a0a ] || fail "$icon is not a PNG"
        width=$((16#${header:32:8}))
        height=$((16#${header:40:8}))
        [ "$width" -eq "$size" ] && [ "$height" -eq "$size" ] ||
            fail "$icon is ${width}x${height}, not ${size}x${size}"
    else
        fail "share/icons/hicolor/${size}x${size}/apps/tavmirok.png is missing"
    fi
done

if [ -x "$prefix/bin/tavmirok-radiosim" ]; then
    help="$("$prefix/bin/tavmirok-radiosim" --help)" || fail "installed tavmirok-radiosim --help failed"
    grep -q '^Usage: tavmirok-radiosim' <<<"$help" || fail "installed tavmirok-radiosim --help printed no usage"
fi

# The systemd user unit starts the installed program without a window and is not restarted
# after a refused setting.
unit="$prefix/lib/systemd/user/tavmirok.service"
if [ -f "$unit" ]; then
    [ "$(sed -n 's/^ExecStart=//p' "$unit")" = "$prefix/bin/tavmirok --headless" ] ||
        fail "the unit's ExecStart is '$(sed -n 's/^ExecStart=//p' "$unit")'"
    grep -qx 'Restart=on-failure' "$unit" || fail "the unit lacks Restart=on-failure"
    grep -qx 'RestartPreventExitStatus=2' "$unit" || fail "the unit lacks RestartPreventExitStatus=2"
    grep -qx 'WantedBy=default.target' "$unit" || fail "the unit is not wanted by default.target"
    if command -v systemd-analyze >/dev/null; then
        systemd-analyze verify "$unit" || fail "systemd-analyze verify rejects the unit"
    fi
else
    fail "lib/systemd/user/tavmirok.service is missing"
fi

# The installed program starts and keeps running (no missing library, no crash at load). Its
# settings go to a private folder; the port it finds there does not exist, which it reports
# and carries on.
if [ -x "$prefix/bin/tavmirok" ]; then
    rc=0
    env XDG_CONFIG_HOME="$SESSION_WORK/config" QT_QPA_PLATFORM=offscreen \
        timeout 3 "$prefix/bin/tavmirok" >"$SESSION_WORK/run.log" 2>&1 </dev/null || rc=$?
    if [ "$rc" -ne 124 ]; then
        cat "$SESSION_WORK/run.log" >&2
        fail "installed tavmirok ended with status $rc within 3 s instead of running"
    fi
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "install tree is complete"
