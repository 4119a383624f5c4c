#!/usr/bin/env bash
# Follows README's "First minutes" on a private X server (Xvfb with openbox):
# starts the simulator and regprobe, opens Options > Connections..., adds an
# "Open Modbus" connection to the simulator, saves it, closes the dialog and
# opens a test window with File > New and ticks "Enable Poll", all from the
# keyboard as a newcomer would, then opens View > Traffic, minimises and
# restores it, saves the workspace, quits and starts again with it. On the way it opens the dialog of each of the three other
# host-and-port kinds (RTU over TCP, Modbus/UDP, Modbus/TCP Security), fills
# it in and leaves it with Esc. Takes a picture of each connection dialog, of
# the new test window, of it polling and of the traffic window, and fails
# unless the connection was made and saved, the simulator is polled and the
# traffic window opens, minimises and comes back, and the reopened workspace
# polls again.
#   scripts/first-minutes.sh [--build DIR] [--output DIR]
# Defaults: the build directory build/, pictures in build/first-minutes/.
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/runtime-dir.sh

build=build
output=
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --output) output=$2; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "first-minutes.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
output=${output:-$build/first-minutes}
for program in "$build/shell/regprobe" "$build/sim/regprobe-sim"; do
  [ -x "$program" ] || { echo "first-minutes.sh: no executable $program (build it first)" >&2; exit 1; }
done
regprobe=$(realpath "$build/shell/regprobe")
sim=$(realpath "$build/sim/regprobe-sim")
mkdir -p "$output"
output=$(realpath "$output")

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "first-minutes.sh: $*" >&2
  [ -f "$work/regprobe.log" ] && cat "$work/regprobe.log" >&2
  exit 1
}

# wait_for TENTHS COMMAND...: retries every 0.1 s.
wait_for() {
  local tries=$1; shift
  for ((n = 0; n < tries; n++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

# The id of the visible window with exactly this title, waiting up to 20 s.
window_named() {
  local id=
  for _ in $(seq 1 200); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | tail -n1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}

# shoot WINDOW NAME: a PNG of the window with the window manager's frame.
shoot() {
  local frame=$1 parent x y w h
  local root
  root=$(xwininfo -root | awk '/Window id:/ {print $4}')
  for _ in $(seq 1 10); do
    parent=$(xwininfo -tree -id "$frame" | awk '/Parent window id:/ {print $4}')
    [ "$parent" = "$root" ] && break
    frame=$parent
  done
  sleep 0.7  # let it paint
  read -r x y w h < <(xwininfo -id "$frame" |
    awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2} END {print x, y, w, h}')
  /usr/bin/python3 scripts/xwd_to_png.py "$work/Xvfb_screen0" "$output/$2.png" "$x" "$y" "$w" "$h"
  echo "first-minutes.sh: $output/$2.png"
}

key() {
  xdotool key --clearmodifiers "$@"
  sleep 0.4
}

display=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free display"
Xvfb ":$display" -screen 0 1280x800x24 -fbdir "$work" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_for 300 xdpyinfo || fail "Xvfb did not start"
unset DBUS_SESSION_BUS_ADDRESS
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_for 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"

# The simulator as run.sh starts it, on a free port.
mkfifo "$work/sim.out"
"$sim" --listen 127.0.0.1:0 --animate --holding 0=100,200,300 --float 10=3.14159 \
  --double 20=2.718281828:reverse --coils 0=1,0,1,1 --verbose >"$work/sim.out" \
  2>"$work/sim.err" &  # a line per request on stderr
pids+=($!)
exec 3<"$work/sim.out"
read -r -t 10 line <&3 || fail "the simulator did not start: $(cat "$work/sim.err")"
port=${line##*:}

# regprobe in a directory of its own: Regpr.cfg is saved in the current one.
mkdir "$work/home"
export QT_QPA_PLATFORM=xcb
(cd "$work/home" && exec "$regprobe") >"$work/regprobe.log" 2>&1 &
pids+=($!)
main=$(window_named Regprobe) || fail "the main window did not appear"
sleep 4  # the splash screen shows for three seconds
xdotool mousemove 1279 799
xdotool windowactivate --sync "$main" 2>/dev/null || true

# Options > Connections...
key alt+o
key c
connections=$(window_named Connections) || fail "Options > Connections... opened no dialog"

# "Local/DCom" is chosen at first: "&Add" opens Communications Parameters.
key alt+a
commparams=$(window_named "Communications Parameters") || fail "no Communications Parameters dialog"
shoot "$commparams" communications-parameters
key Escape

# "Open Modbus" in the box beside "&Add", then "&Add".
xdotool windowactivate --sync "$connections" 2>/dev/null || true
key Tab
key Down
key alt+a
remote=$(window_named "Remote Server Connection") || fail "no Remote Server Connection dialog"
xdotool type --delay 40 "127.0.0.1"
key Tab
xdotool type --delay 40 "$port"
key Tab
xdotool type --delay 40 "3000"
shoot "$remote" remote-server-connection
key Return
wait_for 100 sh -c "! xdotool search --onlyvisible --name '^Remote Server Connection\$'" ||
  fail "Remote Server Connection did not close (no connection to 127.0.0.1:$port)"

# The next kind in the box, then "&Add", the address and time-out typed in (the
# port keeps the kind's own), for TLS the three files; a picture, then Esc.
for kind in "RTU over TCP:dialog-rtu-over-tcp" "Modbus/UDP:dialog-udp" \
  "Modbus/TCP Security:dialog-tls"; do
  title="${kind%%:*} Connection"
  xdotool windowactivate --sync "$connections" 2>/dev/null || true
  key Down  # the box keeps the focus while the dialogs come and go
  key alt+a
  dialog=$(window_named "$title") || fail "no $title dialog"
  xdotool type --delay 40 "192.0.2.7"
  key Tab Tab
  xdotool type --delay 40 "3000"
  if [ "${kind%%:*}" = "Modbus/TCP Security" ]; then
    for file in pki/ca.pem pki/client.pem pki/client.key; do
      key Tab
      xdotool type --delay 40 "$file"
      key Tab
    done
  fi
  shoot "$dialog" "${kind##*:}"
  key Escape
  wait_for 100 sh -c "! xdotool search --onlyvisible --name '^$title\$'" || fail "$title did not close"
done

# The list shows the connection; "&Save" writes it to Regpr.cfg.
key alt+s
shoot "$connections" connections
grep -q "127.0.0.1:$port" "$work/home/Regpr.cfg" 2>/dev/null ||
  fail "Regpr.cfg does not hold 127.0.0.1:$port"
key Escape
wait_for 100 sh -c "! xdotool search --onlyvisible --name '^Connections\$'" || fail "Connections did not close"

# File > New: a test window for the connection.
xdotool windowactivate --sync "$main" 2>/dev/null || true
key ctrl+n
wait_for 100 sh -c "xdotool getwindowname $main | grep -q '^Regprobe - '" ||
  fail "File > New opened no test window"
shoot "$main" main-window

# "Enable Poll": the tenth control from the Device box in the form's order.
before=$(wc -l <"$work/sim.err")
key Tab Tab Tab Tab Tab Tab Tab Tab Tab space
sleep 2.5
after=$(wc -l <"$work/sim.err")
[ "$after" -gt "$((before + 1))" ] || fail "ticking Enable Poll started no polling"
shoot "$main" test-window-polling

# View > Traffic: the polling shows up as frames; minimised and restored, the
# window is back with capture still on.
xdotool windowactivate --sync "$main" 2>/dev/null || true
key alt+v
key r
traffic=$(window_named Traffic) || fail "View > Traffic opened no window"
sleep 1.5
shoot "$traffic" traffic
xdotool windowminimize --sync "$traffic" 2>/dev/null || true
wait_for 100 sh -c "xprop -id $traffic _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN" ||
  fail "the traffic window did not minimise"
xdotool windowactivate --sync "$traffic" 2>/dev/null || xdotool windowmap "$traffic"
wait_for 100 sh -c "! xprop -id $traffic _NET_WM_STATE | grep -q _NET_WM_STATE_HIDDEN" ||
  fail "the traffic window did not come back"
sleep 1
shoot "$traffic" traffic-restored
# File > Save Workspace As...: the day's workspace, with the traffic
# window closed. Then quit, and start again with it on the command line:
# the window comes back, polling once the question is answered.
xdotool windowactivate --sync "$traffic" 2>/dev/null || true
key alt+F4
wait_for 100 sh -c "! xdotool search --onlyvisible --name '^Traffic\$'" || fail "the traffic window did not close"
xdotool windowactivate --sync "$main" 2>/dev/null || true
key alt+f
key a
window_named "Save Workspace As" >/dev/null || fail "File > Save Workspace As... opened no dialog"
xdotool type --delay 20 "$work/home/day.rpw"
key Return
wait_for 100 test -s "$work/home/day.rpw" || fail "File > Save Workspace As... saved no workspace"
regprobe_pid=${pids[-1]}
xdotool windowactivate --sync "$main" 2>/dev/null || true
key alt+f
key x
wait_for 100 sh -c "! kill -0 $regprobe_pid" || fail "File > Exit did not end regprobe"
(cd "$work/home" && exec "$regprobe" day.rpw) >>"$work/regprobe.log" 2>&1 &
pids+=($!)
main=$(window_named Regprobe) || fail "regprobe day.rpw showed no main window"
# "Resume polling in 1 window?": Yes, once the question shows, and again
# while it stays (the first key press may go to the splash screen).
asked=0
for _ in $(seq 1 150); do
  question=
  for w in $(xdotool search --onlyvisible --name '^Regprobe$' 2>/dev/null); do
    xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG && question=$w
  done
  if [ -n "$question" ]; then
    asked=1
    xdotool windowactivate --sync "$question" 2>/dev/null || true
    key Return
  elif [ "$asked" -eq 1 ]; then
    break
  fi
  sleep 0.1
done
[ "$asked" -eq 1 ] || fail "regprobe day.rpw did not ask to resume polling"
main=$(window_named 'Regprobe - .*') || fail "regprobe day.rpw opened no test window"
before=$(wc -l <"$work/sim.err")
sleep 2.5
after=$(wc -l <"$work/sim.err")
[ "$after" -gt "$((before + 1))" ] || fail "the reopened workspace does not poll"
shoot "$main" workspace
echo "first-minutes.sh: connection 127.0.0.1:$port made, saved, opened in a test window, polled, its traffic watched, and the workspace saved and reopened"
