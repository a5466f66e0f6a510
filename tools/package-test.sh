#!/usr/bin/env bash
# The Debian package as a user gets it: lintian finds no error in it; it
# installs on this machine with apt-get, its programs run from /usr/bin, its
# files are where they belong and valid; it is removed (purged) again and
# leaves nothing behind. Run as root by ./setup test:
#   tools/package-test.sh build-release/talmo-tools_<version>_amd64.deb
set -euo pipefail
deb=$(realpath "$1")
name=talmo-tools
fail() { echo "package-test: $*" >&2; exit 1; }
step() { echo "package-test: $*"; }

step "lintian"
lintian --fail-on error --tag-display-limit 0 "$deb"

# A copy from an earlier run goes first; what is on disk then is the reference.
if dpkg-query -W -f='${Status}' "$name" 2>/dev/null | grep -q installed; then
  apt-get purge -y -q "$name" >/dev/null
fi
snapshot() { find /usr /etc /opt /var/lib/dpkg/info -xdev 2>/dev/null | LC_ALL=C sort; }
before=$(mktemp)
trap 'rm -f "$before"' EXIT
snapshot >"$before"

step "apt-get install $deb"
DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$deb" >/dev/null

step "files in place"
version=$(dpkg-query -W -f='${Version}' "$name")
for f in /usr/bin/talmo-tools /usr/bin/talmo-cli /usr/bin/talmo-tools-demo \
  /usr/lib/udev/rules.d/70-talmo.rules \
  /usr/share/man/man1/talmo-tools.1.gz /usr/share/man/man1/talmo-cli.1.gz \
  /usr/share/man/man1/talmo-tools-demo.1.gz \
  /usr/share/bash-completion/completions/talmo-cli \
  /usr/share/applications/talmo-tools.desktop \
  /usr/share/metainfo/example.talmo.talmo_tools.metainfo.xml \
  /usr/share/icons/hicolor/scalable/apps/talmo-tools.svg \
  /usr/share/doc/talmo-tools/copyright; do
  [ -f "$f" ] || fail "missing $f"
done
for size in 16 22 24 32 48 64 128 256; do
  png=/usr/share/icons/hicolor/${size}x${size}/apps/talmo-tools.png
  file "$png" | grep -q "PNG image data, $size x $size" || fail "$png: not a $size x $size PNG"
done
man -w talmo-cli | grep -qx /usr/share/man/man1/talmo-cli.1.gz || fail "man does not find talmo-cli"
desktop-file-validate /usr/share/applications/talmo-tools.desktop
appstreamcli validate --no-net /usr/share/metainfo/example.talmo.talmo_tools.metainfo.xml >/dev/null

step "programs"
[ "$(talmo-cli --version)" = "talmo-cli $version" ] || fail "talmo-cli --version: $(talmo-cli --version)"
[ "$(talmo-tools --version)" = "talmo-tools $version" ] || fail "talmo-tools --version"
sim=$(mktemp -d)
identified=$(talmo-cli --simulate "$sim" --sim-pic PIC16F873 pic identify 2>/dev/null)
grep -q "^PIC: PIC16F873 " <<<"$identified" || fail "talmo-cli --simulate: no PIC identified"
rm -rf "$sim"
# The window starts and keeps running (a second, offscreen, no TALMO).
status=0
QT_QPA_PLATFORM=offscreen timeout 1 /usr/bin/talmo-tools || status=$?
[ "$status" -eq 124 ] || fail "talmo-tools ended with status $status within a second"

step "apt-get purge $name"
DEBIAN_FRONTEND=noninteractive apt-get purge -y -q "$name" >/dev/null
left=$(snapshot | LC_ALL=C comm -3 "$before" -)
[ -z "$left" ] || fail "not as before the installation (left, or taken away):"$'\n'"$left"
step "OK"
