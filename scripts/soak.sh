#!/usr/bin/env bash
# Eight test windows polling the simulator back to back, with a write every
# 100 ms, for the given time (default 300 s); prints resident memory and open
# descriptors after a first second, after 2 s, after the first minute and at
# the end; fails when a read failed or descriptors grew.
#   scripts/soak.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) sed -n '2,6p' "$0"; exit 0 ;; esac
seconds=${1:-300}
./scripts/setup.sh
cmake -S . -B build-release -G Ninja -DCMAKE_BUILD_TYPE=Release -DREGPROBE_TESTS=OFF >/dev/null
ninja -C build-release -j"$(nproc)" regprobe-bench-poll
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
QT_QPA_PLATFORM=offscreen ./build-release/bench/regprobe-bench-poll --cpu -1 \
  --soak-seconds "$seconds" 2>/dev/null
