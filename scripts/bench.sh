#!/usr/bin/env bash
# Builds an optimised tree and runs the benchmarks: the Modbus/TCP master
# against libmodbus and a raw socket, then the serial path through
# modbus-serial-server against a libmodbus RTU master.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DREGPROBE_TESTS=OFF >/dev/null
ninja -C build-release -j"$(nproc)" regprobe-bench-tcp regprobe-bench-serial
./build-release/bench/regprobe-bench-tcp
echo
./build-release/bench/regprobe-bench-serial
