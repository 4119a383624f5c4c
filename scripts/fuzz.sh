#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds.
#   scripts/fuzz.sh [SECONDS]   (default 30 per target)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}

./scripts/setup.sh
CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DREGPROBE_FUZZ=ON >/dev/null
ninja -C build-fuzz -j"$(nproc)"

# The targets tests/fuzz/CMakeLists.txt defines; binaries left in the build
# directory by targets since removed are not run.
for name in $(sed -n 's/^regprobe_fuzz_target(\(fuzz_[a-z_]*\) .*/\1/p' tests/fuzz/CMakeLists.txt); do
  target="build-fuzz/tests/fuzz/$name"
  [ -x "$target" ] || continue
  corpus="build-fuzz/corpus/$name"
  mkdir -p "$corpus"
  echo "== $name ($seconds s)"
  "$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 -print_final_stats=1 \
    "$corpus" 2>&1 | tail -n 3
done
