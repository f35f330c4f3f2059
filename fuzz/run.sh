#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for a bounded time on a copy of its
# seed corpus, as many at a time as there are processors. Any crash, leak or sanitizer report
# fails the run.
# Usage: fuzz/run.sh [seconds per harness]   (default 15, or $QK_FUZZ_SECONDS)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-${QK_FUZZ_SECONDS:-15}}
scripts/install-deps.sh build fuzz
build=${QK_FUZZ_BUILD_DIR:-build/fuzz}
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQK_FUZZ=ON -DQK_BUILD_TESTS=OFF -DQK_BUILD_GUI=OFF >/dev/null
harnesses=(container base64 decrypt_text ini command_line)
cmake --build "$build" -j "$(nproc)" --target "${harnesses[@]/#/fuzz_}"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# One harness on a copy of its corpus; its log and its result ("ok" or "failed") in $work.
fuzz_one() {
  local h=$1 log="$work/$1.log"
  mkdir -p "$work/$h"
  cp -r "fuzz/corpus/$h/." "$work/$h/"
  if (cd "$work" && "$OLDPWD/$build/fuzz/fuzz_$h" -max_total_time="$seconds" -timeout=20 \
        -rss_limit_mb=2048 -print_final_stats=1 "$work/$h") >"$log" 2>&1; then
    echo ok >"$work/$h.result"
  else
    echo failed >"$work/$h.result"
  fi
}
# As many harnesses at a time as there are processors; the reports follow in a fixed order.
running=0
for h in "${harnesses[@]}"; do
  if [ "$running" -ge "$(nproc)" ]; then
    wait -n
    running=$((running - 1))
  fi
  fuzz_one "$h" &
  running=$((running + 1))
done
wait
status=0
for h in "${harnesses[@]}"; do
  log="$work/$h.log"
  if [ "$(cat "$work/$h.result" 2>/dev/null)" = ok ]; then
    execs=$(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}')
    echo "fuzz_$h: ${execs:-?} executions, no findings"
  else
    echo "fuzz_$h: FAILED" >&2
    tail -40 "$log" >&2
    status=1
  fi
done
exit $status
