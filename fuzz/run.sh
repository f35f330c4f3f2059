#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a bounded time on a copy of its
# seed corpus. Any crash, leak or sanitizer report fails the run.
# Usage: fuzz/run.sh [seconds per harness]   (default 60, or $QK_FUZZ_SECONDS)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${QK_FUZZ_SECONDS:-60}}
scripts/install-deps.sh build fuzz
build=${QK_FUZZ_BUILD_DIR:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQK_FUZZ=ON -DQK_BUILD_TESTS=OFF -DQK_BUILD_GUI=OFF >/dev/null
harnesses=(container base64 decrypt_text ini command_line)
cmake --build "$build" -j "$(nproc)" --target "${harnesses[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for h in "${harnesses[@]}"; do
  mkdir -p "$work/$h"
  cp -r "fuzz/corpus/$h/." "$work/$h/"
  log="$work/$h.log"
  if (cd "$work" && "$OLDPWD/$build/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 "$work/$h") >"$log" 2>&1; then
    execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "fuzz_$h: ${execs:-?} executions, no findings"
  else
    echo "fuzz_$h: FAILED" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
