#!/usr/bin/env bash
# cpack builds the Debian package: its contents are the install tree under /usr, and its control
# fields name the package, the version and the libraries it needs on Debian.
#
# Usage: debian_package.sh CPACK BUILD_DIR VERSION
set -euo pipefail

cpack="$1"
build="$2"
version="$3"
. "$(dirname "$0")/../../scripts/lib/setup.sh"

session_begin tavmirok-deb
out="$SESSION_WORK"
failures=0
fail() {
    echo "FAIL: $*" >&2
    failures=$((failures + 1))
}

"$cpack" -G DEB --config "$build/CPackConfig.cmake" -B "$out" >"$out/cpack.log" 2>&1 || {
    cat "$out/cpack.log" >&2
    echo "FAIL: cpack failed" >&2
    exit 1
}
arch="$(dpkg --print-architecture)"
deb="$out/tavmirok_${version}_${arch}.deb"
[ -f "$deb" ] || {
    cat "$out/cpack.log" >&2
    ls -l "$out" >&2
    echo "FAIL: cpack made no $(basename "$deb")" >&2
    exit 1
}

dpkg-deb -I "$deb"
contents="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
echo "contents:"
sed 's/^/  /' <<<"$contents"
for path in ./usr/bin/tavmirok ./usr/bin/tavmirok-radiosim \
    ./usr/share/applications/tavmirok.desktop \
    ./usr/share/icons/hicolor/32x32/apps/tavmirok.png \
    ./usr/share/icons/hicolor/256x256/apps/tavmirok.png \
    ./usr/lib/systemd/user/tavmirok.service; do
    grep -qxF "$path" <<<"$contents" || fail "the package lacks $path"
done
unit="$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/tavmirok.service)" || true
grep -qx 'ExecStart=/usr/bin/tavmirok --headless' <<<"$unit" ||
    fail "the packaged unit does not start /usr/bin/tavmirok --headless"
stray="$(grep -v -e '^\./$' -e '^\./usr/' <<<"$contents" || true)"
[ -z "$stray" ] || fail "the package puts files outside /usr: $stray"
dpkg-deb -c "$deb" | awk '$NF == "./usr/bin/tavmirok" && $1 !~ /^-rwxr-xr-x/ { bad = 1 } END { exit bad }' ||
    fail "usr/bin/tavmirok is not mode 755 in the package"

[ "$(dpkg-deb -f "$deb" Package)" = tavmirok ] || fail "Package is '$(dpkg-deb -f "$deb" Package)'"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "Version is '$(dpkg-deb -f "$deb" Version)'"
[ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] ||
    fail "Architecture is '$(dpkg-deb -f "$deb" Architecture)'"
depends="$(dpkg-deb -f "$deb" Depends)"
for need in libqt6widgets6 libqt6gui6 libqt6core6 libqt6serialport6 libc6 fonts-dejavu-core; do
    # Each name as a whole entry of the comma-separated list, with or without a version.
    grep -Eq "(^|, *)$need( |,|$)" <<<"$depends" || fail "Depends lacks $need: $depends"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
fi
echo "the Debian package is complete"
