#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated device on 127.0.0.1
# (port 1502, or a free one when that is taken) and then the desktop
# application; both end when the application is closed or on Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."

usage() {
  cat <<'USAGE'
Usage: scripts/run.sh                 the simulator and the application
       scripts/run.sh --poll [ARGS]   the simulator and the command-line poller instead
                                      (ARGS go to regprobe-poll; --poll --help lists them)
       scripts/run.sh --help          this text
Installs what is missing and builds first. Without a display (no $DISPLAY or
$WAYLAND_DISPLAY) the poller is used.
USAGE
}

mode=app
case "${1:-}" in
  --poll) mode=poll; shift ;;
  -h|--help) usage; exit 0 ;;
  "") ;;
  *) echo "run.sh: unknown option $1" >&2; usage >&2; exit 2 ;;
esac
if [ "$mode" = app ] && [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run.sh: no display; polling the simulator from the command line instead"
  mode=poll
fi

./scripts/setup.sh
. ./scripts/runtime-dir.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j"$(nproc)" regprobe-sim regprobe-poll regprobe modbus-serial-server

if [ "$mode" = poll ] && { [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; }; then
  exec ./build/tools/regprobe-poll --help
fi

workdir=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Starts the simulator on the given port and reads back where it listens.
start_sim() {
  mkfifo "$workdir/out$1"
  ./build/sim/regprobe-sim --listen "127.0.0.1:$1" --animate \
    --holding 0=100,200,300 --float 10=3.14159 --double 20=2.718281828:reverse \
    --coils 0=1,0,1,1 >"$workdir/out$1" 2>"$workdir/err$1" &
  sim_pid=$!
  exec 3<"$workdir/out$1"
  if read -r -t 10 line <&3; then
    port=${line##*:}
    return 0
  fi
  wait "$sim_pid" 2>/dev/null
  sim_pid=
  return 1
}
start_sim 1502 || start_sim 0 || {
  echo "run.sh: the simulator did not start" >&2
  cat "$workdir"/err* >&2
  exit 1
}
echo "$line (regprobe-sim; unit 1, holding 0-2 = 100,200,300, float at 10, reversed double at 20,"
echo "  moving input registers 0 and 1, coils 0-3 = 1,0,1,1)"

if [ "$mode" = poll ]; then
  if [ $# -eq 0 ]; then
    set -- --function input-registers --address 0 --quantity 2 --type uint16
  fi
  ./build/tools/regprobe-poll --host 127.0.0.1 --port "$port" "$@"
else
  echo "Starting regprobe. Options > Connections... configures connections: add the simulator as"
  echo "  an \"Open Modbus\" device at 127.0.0.1, port $port; then File > New opens a device test"
  echo "  window on it that reads and polls it."
  ./build/shell/regprobe
fi
