#!/usr/bin/env bash
# Builds an optimised tree and runs the benchmarks: the Modbus/TCP master
# against libmodbus and a raw socket, then the serial path through
# modbus-serial-server against a libmodbus RTU master, then the desktop
# application's start-up against a minimal Qt main window (under Xvfb when
# there is no display), then a test window polling against the same read
# without a window, then the poller publishing to a local MQTT broker against
# it printing.
set -euo pipefail
cd "$(dirname "$0")/.."
. ./scripts/runtime-dir.sh
./scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DREGPROBE_TESTS=OFF >/dev/null
ninja -C build-release -j"$(nproc)" regprobe-bench-tcp regprobe-bench-serial \
  regprobe-bench-startup regprobe-bench-poll regprobe-bench-publish
./build-release/bench/regprobe-bench-tcp
echo
./build-release/bench/regprobe-bench-serial
echo
./build-release/bench/regprobe-bench-startup
echo
./build-release/bench/regprobe-bench-poll
echo
./build-release/bench/regprobe-bench-publish
