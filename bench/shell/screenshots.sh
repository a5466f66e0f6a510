#!/bin/bash
# Screenshots of the demo under a virtual X server: the waiting page and the
# other pages as they stand right after they are shown.
#   bench/shell/screenshots.sh BUILD_DIR OUT_DIR
# Needs xvfb-run, xdotool and ImageMagick's import. The pages' positions of
# the buttons pressed come from the window's own layout; check the pictures.
set -euo pipefail
[ -n "${SCREENSHOTS_TRACE:-}" ] && set -x
build=${1:-build}
out=${2:-docs/screenshots}
mkdir -p "$out"
if [ -z "${DISPLAY:-}" ] || [ "${SCREENSHOTS_INNER:-}" != 1 ]; then
  exec env SCREENSHOTS_INNER=1 xvfb-run -a -s "-screen 0 1400x800x24" "$0" "$build" "$out"
fi

"$build/shell/talmo-tools-demo" &
demo=$!
trap 'kill $demo 2>/dev/null || true' EXIT
for _ in $(seq 50); do
  main=$(xdotool search --name '^TALMO_Tools$' 2>/dev/null | head -1 || true)
  control=$(xdotool search --name '^TALMO virtuel$' 2>/dev/null | head -1 || true)
  [ -n "$main" ] && [ -n "$control" ] && break
  sleep 0.2
done
[ -n "$main" ] && [ -n "$control" ] || { echo "screenshots: the demo's windows did not appear" >&2; exit 1; }
sleep 1.5

# Clicks a button of the control window by its text's position in it.
click() { xdotool mousemove --window "$control" "$1" "$2" click 1; sleep "${3:-1}"; }
shot() { import -window "$main" "$out/$1"; }
# The control window's buttons (see demo_control.cpp's layout).
geometry=$(xdotool getwindowgeometry --shell "$control")
eval "$geometry"

shot console-empty.png
# Unplug: the waiting page.
unplug_x=$((WIDTH * 10 / 100)); usb_y=$((HEIGHT * 25 / 100))
click "$unplug_x" "$usb_y" 1.2
shot waiting.png
import -window root -crop "$((X + WIDTH + 2))x$((HEIGHT + 2))+0+0" +repage "$out/waiting-demo.png"
# Plug again, then into the boot loader.
click "$unplug_x" "$usb_y" 1.5
click $((WIDTH * 40 / 100)) "$usb_y" 2
shot bootloader-empty.png
# Back to normal mode, then the programmer page.
click $((WIDTH * 25 / 100)) "$usb_y" 2
xdotool mousemove --window "$main" 57 114 click 1
sleep 1.5
shot programmer-empty.png
