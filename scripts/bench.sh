#!/usr/bin/env bash
# Builds an optimised tree and runs the benchmarks. Arguments go to the
# Modbus/TCP benchmark (--rounds, --persistent, --reconnect, --cpu).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DREGPROBE_TESTS=OFF >/dev/null
ninja -C build-release -j"$(nproc)" regprobe-bench-tcp
exec ./build-release/bench/regprobe-bench-tcp "$@"
