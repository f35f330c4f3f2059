#!/usr/bin/env bash
# Installs what is missing, builds the test build (sanitizers on) and runs every test.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build test gui
build=${QK_TEST_BUILD_DIR:-build/test}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQK_SANITIZE=ON -DQK_BUILD_TESTS=ON
cmake --build "$build" -j "$(nproc)"
ctest --test-dir "$build" --output-on-failure -j "$(nproc)"
# Every reader of outside input under the fuzzer, about a minute each.
fuzz/run.sh "${QK_FUZZ_SECONDS:-60}"
