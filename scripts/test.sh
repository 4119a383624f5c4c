#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite: the plain
# build with a check of the Debian package made from it, the same suite under
# AddressSanitizer + UndefinedBehaviorSanitizer and
# under ThreadSanitizer, and a short run of every fuzz target.
#   scripts/test.sh            everything
#   scripts/test.sh --quick    the plain build's suite and package check only
#   FUZZ_SECONDS=N             seconds per fuzz target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    -h|--help) sed -n '2,8p' "$0"; exit 0 ;;
    *) echo "test.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done

./scripts/setup.sh
jobs=$(nproc)

build_and_test() {
  local dir=$1; shift
  echo "== $dir"
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  ninja -C "$dir" -j"$jobs"
  ctest --test-dir "$dir" --output-on-failure -j"$jobs" --timeout 300
}

build_and_test build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
./scripts/package.sh --check
[ "$quick" -eq 1 ] && exit 0

ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  build_and_test build-asan -DCMAKE_BUILD_TYPE=Debug -DREGPROBE_SANITIZE=address,undefined \
  -DREGPROBE_BENCH=OFF

TSAN_OPTIONS=halt_on_error=1 \
  build_and_test build-tsan -DCMAKE_BUILD_TYPE=Debug -DREGPROBE_SANITIZE=thread -DREGPROBE_BENCH=OFF

./scripts/fuzz.sh "${FUZZ_SECONDS:-30}"
echo "== all tests passed"
