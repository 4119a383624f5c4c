#!/usr/bin/env bash
# Runs a program on a private X server (Xvfb) with a window manager (openbox)
# and a notification area (trayer), then takes them down again.
#   run_xvfb.sh PROGRAM [ARGS...]
# Every wait is bounded (30 s to start each helper, which a busy machine can
# need); the program itself gets at most 150 s.
set -uo pipefail
[ $# -ge 1 ] || { sed -n '2,5p' "$0"; exit 2; }

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT

wait_for() {  # wait_for TENTHS COMMAND...: retries every 0.1 s
  local tries=$1; shift
  for ((n = 0; n < tries; n++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

display=
for n in $(seq 150 250); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || { echo "run_xvfb.sh: no free display" >&2; exit 1; }

# -noreset: otherwise the server resets when its last client (the probe
# below) leaves, and a client connecting during the reset is refused.
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_for 300 xdpyinfo || { echo "run_xvfb.sh: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

# The icon goes to an X tray, not over D-Bus. The bus address names a socket
# that is not there: with no address at all the D-Bus library forks to start
# a bus of its own ("autolaunch") from one of Qt's threads, which the thread
# sanitizer ends the test for.
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/no-session-bus"

openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' ||
  { echo "run_xvfb.sh: openbox did not start" >&2; cat "$work/openbox.log" >&2; exit 1; }

trayer --edge bottom --align right --widthtype pixel --width 160 --heighttype pixel --height 28 \
  --SetDockType true --transparent false --tint 0xc0c0c0 >"$work/trayer.log" 2>&1 &
pids+=($!)
wait_for 300 xdotool search --class trayer ||
  { echo "run_xvfb.sh: trayer did not start" >&2; cat "$work/trayer.log" >&2; exit 1; }

export QT_QPA_PLATFORM=xcb
timeout -k 5 150 "$@"
