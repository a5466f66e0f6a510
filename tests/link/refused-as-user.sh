#!/bin/sh
# Run by talmo-hidraw-bridge as its child: runs PROGRAM [ARGS...] as the user
# nobody against the bridge's emulated TALMO, whose node only root may open
# (mode 0600), and prints the program's exit status. The testbed is opened to
# every user first, so that nobody finds the device and is refused only its
# node. Needs root to drop privileges; skipped otherwise.
set -eu
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: only root can run a program as another user"
    exit 0
fi
chmod 755 "$UMOCKDEV_DIR"
chmod 666 "$UMOCKDEV_DIR"/ioctl/_default "$UMOCKDEV_DIR"/ioctl/dev/hidraw* # umockdev's own sockets
chmod 600 "$UMOCKDEV_DIR"/dev/hidraw*
# A copy of the program that nobody may run: the build folder may sit in a
# private home.
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
chmod 755 "$copy"
cp "$1" "$copy/"
program="$copy/$(basename "$1")"
shift
status=0
setpriv --reuid=nobody --regid=nogroup --clear-groups "$program" "$@" || status=$?
echo "status $status"
