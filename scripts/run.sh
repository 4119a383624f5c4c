#!/usr/bin/env bash
# Installs what is missing, builds, starts the simulated device on 127.0.0.1
# and polls it through our Modbus/TCP master until Ctrl-C.
# Arguments go to regprobe-poll (see ./scripts/run.sh --help); without any it
# polls the simulator's moving input registers 0 and 1 once a second.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build -j"$(nproc)" regprobe-sim regprobe-poll

if [ "${1:-}" = "--help" ] || [ "${1:-}" = "-h" ]; then
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

mkfifo "$workdir/out"
./build/sim/regprobe-sim --listen 127.0.0.1:0 --animate \
  --holding 0=100,200,300 --float 10=3.14159 --double 20=2.718281828:reverse \
  --coils 0=1,0,1,1 >"$workdir/out" &
sim_pid=$!
exec 3<"$workdir/out"
read -r -t 10 line <&3 || { echo "run.sh: the simulator did not start" >&2; exit 1; }
port=${line##*:}
echo "$line (regprobe-sim; holding 0-2 = 100,200,300, float at 10, reversed double at 20)"

if [ $# -eq 0 ]; then
  set -- --function input-registers --address 0 --count 2 --type uint16
fi
./build/tools/regprobe-poll --host 127.0.0.1 --port "$port" "$@"
