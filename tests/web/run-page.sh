#!/bin/sh
# Runs a command, normally a browser scenario, as the child of the umockdev
# bridge, with Chromium allowed to open the virtual TALMO without a chooser:
#
#   tests/web/run-page.sh build/sim/talmo-hidraw-bridge [bridge options] -- \
#       node tests/web/run.mjs SCENARIO
#
# Chromium reads its managed policies from /etc/chromium/policies/managed.
# The command runs in a private mount namespace (a user namespace too when
# not root) in which /etc/chromium is a temporary copy: nothing is left in
# /etc. The command gets in its environment:
#   TALMO_POLICY_DIR      where to write the policy (cdp.mjs: writeHidPolicy)
#   TALMO_BRIDGE_CONTROL  the bridge's control FIFO (bridge.mjs)
#   TALMO_BRIDGE_LOG      the bridge's exchange log (kept when set beforehand)
# and keeps TALMO_WEB_SITE, TALMO_WEB_OUT, TALMO_CLI and the rest as given.
set -eu
[ $# -ge 3 ] || { echo "usage: $0 BRIDGE [bridge options] -- command [args...]" >&2; exit 2; }
bridge=$1
shift
if [ ! -d /etc/chromium ]; then
    echo "run-page.sh: /etc/chromium is missing: install Debian's chromium package" >&2
    exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/talmo-web.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT TERM
mkdir -p "$work/etc-chromium"
cp -a /etc/chromium/. "$work/etc-chromium/"
mkdir -p "$work/etc-chromium/policies/managed"
export TALMO_POLICY_DIR="$work/etc-chromium/policies/managed"
export TALMO_BRIDGE_CONTROL="$work/control"
export TALMO_BRIDGE_LOG="${TALMO_BRIDGE_LOG:-$work/exchanges.log}"
: >"$TALMO_BRIDGE_LOG"
ns="--mount"
[ "$(id -u)" = 0 ] || ns="--user --map-root-user --mount"
status=0
# shellcheck disable=SC2086,SC2016
unshare $ns --propagation private sh -c 'mount --bind "$0" /etc/chromium && exec "$@"' \
    "$work/etc-chromium" "$bridge" --control "$TALMO_BRIDGE_CONTROL" --log "$TALMO_BRIDGE_LOG" \
    "$@" || status=$?
exit "$status"
