#!/usr/bin/env bash
# Takes PNG pictures of regprobe on a private X server (Xvfb with openbox):
# the screen while the splash screen is up over the main window, and then
# the main window alone. Fails unless the splash screen is on top.
#   scripts/screenshot.sh [--binary PATH] [--output PATH] [--build DIR]
# Defaults: the build directory build/, its shell/regprobe, build/screenshot.png
# (the splash picture beside it, with -splash before .png).
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/runtime-dir.sh

build=build
binary=
output=
while [ $# -gt 0 ]; do
  case "$1" in
    --binary) binary=$2; shift 2 ;;
    --output) output=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    -h|--help) sed -n '2,7p' "$0" | cut -c3-; exit 0 ;;
    *) echo "screenshot.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
binary=${binary:-$build/shell/regprobe}
output=${output:-$build/screenshot.png}
splash_output=${output%.png}-splash.png
[ -x "$binary" ] || { echo "screenshot.sh: no executable $binary (build it first)" >&2; exit 1; }

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# A free display number: no lock file and no socket.
display=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "screenshot.sh: no free display" >&2; exit 1; }

# The frame buffer goes to a file (XWD format) we can read back.
Xvfb ":$display" -screen 0 1280x800x24 -fbdir "$work" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
for _ in $(seq 1 100); do
  xdpyinfo >/dev/null 2>&1 && break
  sleep 0.1
done
xdpyinfo >/dev/null 2>&1 || { echo "screenshot.sh: Xvfb did not start" >&2; exit 1; }

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
sleep 0.5

export QT_QPA_PLATFORM=xcb
"$binary" >"$work/regprobe.log" 2>&1 &
pids+=($!)

window=
for _ in $(seq 1 100); do
  window=$(xdotool search --onlyvisible --name '^Regprobe$' 2>/dev/null | head -n1 || true)
  [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "screenshot.sh: the main window did not appear" >&2; cat "$work/regprobe.log" >&2; exit 1; }
xdotool mousemove 1279 799  # the pointer out of the picture
mkdir -p "$(dirname "$output")"

# The splash screen shows for three seconds; it must be the top window.
sleep 0.8
top=$(xprop -root _NET_CLIENT_LIST_STACKING | awk '{print $NF}')
xprop -id "$top" _NET_WM_WINDOW_TYPE | grep -q _NET_WM_WINDOW_TYPE_SPLASH ||
  { echo "screenshot.sh: the splash screen is not above the main window" >&2; exit 1; }
read -r scr_w scr_h < <(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')
/usr/bin/python3 scripts/xwd_to_png.py "$work/Xvfb_screen0" "$splash_output" 0 0 "$scr_w" "$scr_h"
echo "screenshot.sh: wrote $splash_output (${scr_w}x${scr_h}, the splash screen over the main window)"
sleep 3  # until it has gone

# The window manager's frame around the window: climb to the child of the root.
root=$(xwininfo -root | awk '/Window id:/ {print $4}')
frame=$window
for _ in $(seq 1 10); do
  parent=$(xwininfo -tree -id "$frame" | awk '/Parent window id:/ {print $4}')
  [ "$parent" = "$root" ] && break
  frame=$parent
done
read -r x y w h < <(xwininfo -id "$frame" |
  awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')

/usr/bin/python3 scripts/xwd_to_png.py "$work/Xvfb_screen0" "$output" "$x" "$y" "$w" "$h"
echo "screenshot.sh: wrote $output (${w}x${h})"
