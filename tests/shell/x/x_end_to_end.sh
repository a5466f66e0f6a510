#!/bin/bash
# End to end under a virtual X server with a window manager (openbox): the
# driver runs its jobs on the program's window while a client pings that
# window the way desktops do. Passes when the driver's steps all passed and
# every ping was answered within 1 s. Pictures and outputs go to OUT.
#   x_end_to_end.sh DRIVER PING OUT
set -uo pipefail
driver=$1 ping=$2 out=$3
if [ "${X_END_TO_END_INNER:-}" != 1 ]; then
  exec env X_END_TO_END_INNER=1 QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
mkdir -p "$out"
openbox >"$out/openbox.out" 2>&1 &
wm=$!
trap 'kill $wm 2>/dev/null' EXIT
for _ in $(seq 100); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
  sleep 0.1
done
# No line of an earlier run may be taken for this one's window.
rm -f "$out/driver.out" "$out/job-ended"
"$driver" "$out" >"$out/driver.out" &
job=$!
for _ in $(seq 100); do
  [ -s "$out/driver.out" ] && break
  sleep 0.1
done
"$ping" "$(head -1 "$out/driver.out")" "$out/job-ended" >"$out/ping.out" &
pinger=$!
wait $job; jobStatus=$?
touch "$out/job-ended"
wait $pinger; pingStatus=$?
cat "$out/ping.out"
echo "driver: $jobStatus, ping: $pingStatus"
[ $jobStatus -eq 0 ] && [ $pingStatus -eq 0 ]
