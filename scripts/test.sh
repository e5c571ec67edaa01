#!/usr/bin/env bash
# The whole test run: setup, then the suite in a release build and its
# install (scripts/check_install.sh), the lock annotations checked by clang
# (a build only), the suite under ASan+UBSan, the concurrency tests under
# TSan, and a short run of every fuzzer.
# Usage: scripts/test.sh [--quick]   (--quick: release build only)
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1
jobs=${VELQUOR_JOBS:-2}

scripts/setup.sh

passed=0
failed=0
run_preset() {
  local preset=$1 log
  echo "=== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== $preset: test"
  log=$(mktemp)
  local status=0
  ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log" || status=$?
  # "100% tests passed, 0 tests failed out of 235"
  local line total bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  total=$(echo "$line" | sed -E 's/.*out of ([0-9]+).*/\1/')
  bad=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed.*/\1/')
  if [ -n "$line" ]; then
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  fi
  return $status
}

run_preset release
# The release build as a product: installed into a temporary prefix, the
# example package built outside the tree and run, the Debian package built.
echo "=== install: the SDK, a package built outside the tree, the Debian package"
scripts/check_install.sh build/release
if [ $quick -eq 0 ]; then
  # Nothing to run: a field read without its lock, or a function called
  # without the lock it requires, fails this build.
  echo "=== thread-safety: build with clang -Wthread-safety"
  cmake --preset thread-safety >/dev/null
  cmake --build --preset thread-safety -j "$jobs"
  run_preset asan
  run_preset tsan
  echo "=== fuzz: build and run each target briefly"
  cmake --preset fuzz >/dev/null
  cmake --build --preset fuzz -j "$jobs" --target velquor_fuzzers
  fuzzers=0
  for f in build/fuzz/fuzz/*_fuzz; do
    [ -x "$f" ] || continue
    echo "--- $(basename "$f")"
    # Seeds in fuzz/corpus/<target>/ start it off; libFuzzer adds what it
    # finds to a copy, never to the tree.
    corpus=()
    if [ -d "fuzz/corpus/$(basename "$f")" ]; then
      corpus=("$(mktemp -d)")
      cp "fuzz/corpus/$(basename "$f")"/* "${corpus[0]}/"
    fi
    "$f" -max_total_time="${VELQUOR_FUZZ_SECONDS:-20}" -print_final_stats=0 "${corpus[@]}" 2>&1 |
      tail -n 2
    [ ${#corpus[@]} -eq 0 ] || rm -rf "${corpus[0]}"
    fuzzers=$((fuzzers + 1))
  done
  if [ $fuzzers -eq 0 ]; then
    echo "=== fuzz: no fuzzer was built in build/fuzz/fuzz" >&2
    exit 1
  fi
fi
echo "=== all test stages passed"
echo "tests: $passed passed, $failed failed"
