#!/usr/bin/env bash
# Time from starting `regprobe day.rpw` to all eight of its test windows
# polling the simulator: a workspace of eight windows on one connection,
# each reading its own unit, opened from the command line on a private Xvfb
# with openbox; "Resume polling in 8 windows?" is answered as soon as it
# shows. A window polls once the simulator has seen its unit's first
# request. Prints each run and the median with the spread.
#   bench/workspace-open.sh [--build DIR] [--runs N]
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/runtime-dir.sh

build=build
runs=3
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --runs) runs=$2; shift 2 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "workspace-open.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
regprobe=$(realpath "$build/shell/regprobe")
sim=$(realpath "$build/sim/regprobe-sim")

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "workspace-open.sh: $*" >&2; exit 1; }
wait_for() {
  local tries=$1; shift
  for ((n = 0; n < tries; n++)); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  return 1
}

display=
for n in $(seq 400 450); do
  if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free display"
Xvfb ":$display" -screen 0 1280x800x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=":$display"
wait_for 300 xdpyinfo || fail "Xvfb did not start"
unset DBUS_SESSION_BUS_ADDRESS
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
wait_for 300 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "openbox did not start"
export QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config

mkfifo "$work/sim.out"
"$sim" --listen 127.0.0.1:0 --holding 0=1,2,3,4,5,6,7,8,9,10 --verbose \
  >"$work/sim.out" 2>"$work/sim.err" &
pids+=($!)
exec 3<"$work/sim.out"
read -r -t 10 line <&3 || fail "the simulator did not start"
port=${line##*:}

# Eight windows on one connection, units 1 to 8, polling every 100 ms.
/usr/bin/python3 - "$port" >"$work/day.rpw" <<'EOF'
import json, sys
port = int(sys.argv[1])
name = "127.0.0.1:%d" % port
record = {"name": name, "kind": 2, "reserved": "", "tries": 1, "throw_on_error": False,
          "modbus_reserved": 0, "reconnect": False, "host": "127.0.0.1", "port": port,
          "timeout_ms": 3000, "map_server_errors": True, "server_error_base": 128}
windows = [{"connection": name, "device": str(unit), "read_function": "holding",
            "address": "0", "quantity": "10", "data_type": "uint16",
            "write_function": "register", "write_address": "0", "write_value": "0",
            "interval": "100", "polling": True, "logging": False, "log_file": "",
            "chart": False,
            "geometry": {"x": 20 * unit, "y": 20 * unit, "width": 420, "height": 360,
                         "state": "normal"}} for unit in range(1, 9)]
json.dump({"format": "regprobe-workspace", "version": 1,
           "main_window": {"x": 0, "y": 0, "width": 1200, "height": 760, "state": "normal"},
           "connections": [record], "windows": windows,
           "traffic": {"open": False, "connection": "", "paused": False,
                       "geometry": {"x": 0, "y": 0, "width": 0, "height": 0, "state": "normal"}}},
          sys.stdout, indent=2)
EOF

# The units the simulator has seen a request for since line $1 of its log.
units_seen() {
  tail -n +"$1" "$work/sim.err" | sed -n 's/.* unit \([0-9]*\) function 3$/\1/p' | sort -u | wc -l
}

times=()
for ((run = 1; run <= runs; run++)); do
  from=$(($(wc -l <"$work/sim.err") + 1))
  t0=$(date +%s%N)
  "$regprobe" -Embedding "$work/day.rpw" >"$work/regprobe.log" 2>&1 &
  app=$!
  answered=0
  for _ in $(seq 1 600); do
    if [ "$answered" -eq 0 ]; then
      for w in $(xdotool search --onlyvisible --name '^Regprobe$' 2>/dev/null); do
        if xprop -id "$w" _NET_WM_WINDOW_TYPE 2>/dev/null | grep -q DIALOG; then
          xdotool windowactivate --sync "$w" key Return 2>/dev/null && answered=1
        fi
      done
    fi
    [ "$(units_seen "$from")" -ge 8 ] && break
    sleep 0.02
  done
  t1=$(date +%s%N)
  [ "$(units_seen "$from")" -ge 8 ] || { kill "$app"; cat "$work/regprobe.log" >&2; fail "run $run: not all eight windows polled"; }
  ms=$(((t1 - t0) / 1000000))
  times+=("$ms")
  echo "run $run: $ms ms"
  kill "$app"
  wait "$app" 2>/dev/null || true
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "regprobe day.rpw to 8 windows polling: median ${sorted[$((runs / 2))]} ms (${sorted[0]}-${sorted[$((runs - 1))]} ms, $runs runs)"
