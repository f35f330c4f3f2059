#!/usr/bin/env bash
# Installs what is missing, builds the test build (sanitizers on), runs every reader of outside
# input under the fuzzer for a bounded time, then runs every test with ctest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build test gui fuzz
build=${QK_TEST_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK_SANITIZE=ON -DQK_BUILD_TESTS=ON
cmake --build "$build" -j "$(nproc)"
# Fifteen seconds for each harness, two at a time on two processors ($QK_FUZZ_SECONDS to change
# it; 0 skips fuzzing).
if [ "${QK_FUZZ_SECONDS:-15}" != 0 ]; then
  fuzz/run.sh "${QK_FUZZ_SECONDS:-15}"
fi
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
