#!/usr/bin/env bash
# The whole test run: setup, then the suite in a release build, the suite under
# ASan+UBSan, the concurrency tests under TSan, and a short run of every fuzzer.
# Usage: scripts/test.sh [--quick]   (--quick: release build only)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=${VELQUOR_JOBS:-2}

scripts/setup.sh

run_preset() {
  local preset=$1
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  ctest --preset "$preset" -j "$jobs"
}

run_preset release
if [ $quick -eq 0 ]; then
  run_preset asan
  run_preset tsan
  if [ -f fuzz/CMakeLists.txt ]; then
    echo "=== fuzz: build and run each target briefly"
    cmake --preset fuzz >/dev/null
    cmake --build --preset fuzz -j "$jobs" --target velquor_fuzzers
    for f in build/fuzz/fuzz/*_fuzz; do
      [ -x "$f" ] || continue
      echo "--- $(basename "$f")"
      "$f" -max_total_time="${VELQUOR_FUZZ_SECONDS:-20}" -print_final_stats=0 2>&1 | tail -n 2
    done
  fi
fi
echo "=== all test stages passed"
