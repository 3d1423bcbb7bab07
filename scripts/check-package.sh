#!/usr/bin/env bash
# Builds the Debian package from a built tree into a temporary folder and checks what it holds:
# the three programs, the desktop entry, the icon, the manual pages, the capture service and the
# library dependencies.
# Exit 77 (skipped) where dpkg-deb or help2man is missing.
set -euo pipefail
build=$(cd "${1:?build folder}" && pwd)
command -v dpkg-deb >/dev/null && command -v help2man >/dev/null || { echo "no dpkg-deb or help2man"; exit 77; }

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(find "$out" -maxdepth 1 -name 'mervik-connect_*_amd64.deb' | head -1)
[ -n "$deb" ] || { echo "no mervik-connect_VERSION_amd64.deb in $(ls "$out")"; exit 1; }

contents=$(dpkg-deb --contents "$deb")
status=0
for path in ./usr/bin/mervik-connect ./usr/bin/mervik-cli ./usr/bin/mervik-sim \
    ./usr/share/applications/mervik-connect.desktop \
    ./usr/share/icons/hicolor/scalable/apps/mervik-connect.svg \
    ./usr/share/man/man1/mervik-connect.1.gz ./usr/share/man/man1/mervik-cli.1.gz \
    ./usr/share/man/man1/mervik-sim.1.gz ./usr/lib/systemd/system/mervik-capture@.service; do
    grep -q " $path\$" <<<"$contents" || { echo "missing: $path"; status=1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
grep -q 'libqt5core5a' <<<"$depends" || { echo "no Qt in Depends: $depends"; status=1; }
# The capture service runs as the user that postinst makes, in the serial ports' group.
dpkg-deb -I "$deb" postinst | grep -q 'adduser --quiet mervik dialout' || { echo "postinst adds no service user"; status=1; }
grep -q 'libqt5sql5-psql' <<<"$depends" || { echo "no PostgreSQL driver in Depends: $depends"; status=1; }
# The manual pages say what --help says.
dpkg-deb -x "$deb" "$out/root"
zcat "$out/root/usr/share/man/man1/mervik-cli.1.gz" | grep -q 'probe' || { echo "mervik-cli.1 lacks its commands"; status=1; }
[ $status -eq 0 ] && echo "package ok: $(basename "$deb")"
exit $status
