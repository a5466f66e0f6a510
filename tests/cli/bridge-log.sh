#!/bin/sh
# The bridge's exchange log and marks, on a board with a chosen PIC: a mark,
# then talmo-cli's identify over the real link. Prints the program's output,
# the log's first two lines without their times, and the refusal of an
# unknown PIC.   usage: bridge-log.sh BRIDGE CLI
set -eu
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck disable=SC2016
"$1" --log "$work/log" --sim-pic 16f873 --control "$work/ctl" -- sh -c '
    echo "mark identify" >"$0/ctl"
    until grep -qx "# identify" "$0/log" 2>/dev/null; do sleep 0.02; done
    "$1" pic identify' "$work" "$2"
sed -n '1,2{s/^[0-9]*\.[0-9]* //;p}' "$work/log" | cut -c1-10
"$1" --sim-pic PIC16F999 -- true 2>&1 || echo "status $?"
