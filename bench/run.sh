#!/usr/bin/env bash
# Builds the Release benchmarks in build/bench, runs the primitives benchmark once (every peer in
# the same run, repetitions interleaved) and prints one line per comparison:
#   operation ours_MBps peer peer_MBps ratio
# then one line per operation against the fastest peer capped to the same level:
#   operation ours_MBps best:peer peer_MBps ratio
# MB/s are medians over the repetitions, in units of 10^6 bytes per second of CPU time.
# Usage: bench/run.sh [--level portable|aesni|avx2|avx512]
#   --level L  caps QK and the peers to processor level L (see bench/levels.sh); the header says
#              which level ran and how each library was capped. Without it nothing is capped.
# Environment: QK_BENCH_REPS (default 5), QK_BENCH_MIN_TIME (seconds, default 0.5),
# QK_BENCH_JSON (keep the raw JSON there), QK_BENCH_FILTER (benchmark name regex).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/levels.sh
. "$root/bench/levels.sh"

qk_parse_level_args run.sh "$@"
build="$root/build/bench"
reps=${QK_BENCH_REPS:-5}
min_time=${QK_BENCH_MIN_TIME:-0.5}
filter=${QK_BENCH_FILTER:-.}

"$root/scripts/install-deps.sh" build bench >&2

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_BENCH=ON \
  -DQK_BUILD_TESTS=OFF -DQK_SANITIZE=OFF >&2
cmake --build "$build" -j2 --target qk_bench_primitives qk-cli >&2

json=${QK_BENCH_JSON:-}
cleanup=""
if [ -z "$json" ]; then
  json=$(mktemp "${TMPDIR:-/tmp}/qk-bench.XXXXXX.json")
  cleanup="$json"
fi
trap '[ -n "$cleanup" ] && rm -f "$cleanup"; qk_level_restore' EXIT

qk_level_begin "$level"

"$build/bench/qk_bench_primitives" \
  --benchmark_filter="$filter" \
  --benchmark_min_time="$min_time" \
  --benchmark_repetitions="$reps" \
  --benchmark_enable_random_interleaving=true \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$json" --benchmark_out_format=json >&2

qk_level_restore

python3 - "$json" "$note" "$level" <<'EOF'
import json
import sys

with open(sys.argv[1]) as f:
    data = json.load(f)
note, level = sys.argv[2], sys.argv[3]
context = data.get("context", {})
print(note)
print(f"# QK level in use: {context.get('qk_crypto_level', '?')} "
      f"(processor: {context.get('qk_processor_level', '?')})")
# Crypto++ cannot be capped: below the processor's level its rows are marked and not compared.
capped = bool(level) and level != context.get("qk_processor_level")

# Medians per "<library>/<operation>", in MB/s.
rates = {}
for b in data["benchmarks"]:
    if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
        continue
    if b.get("error_occurred"):
        continue
    name = b.get("run_name", b["name"])
    if capped and name.startswith("cryptopp/"):
        name = name.replace("cryptopp/", "cryptopp_uncapped/", 1)
    rates[name] = b["bytes_per_second"] / 1e6

# Operations in a fixed order, then any others; peers in a fixed order, then any others.
order = ["twofish_encrypt_cbc", "twofish_decrypt_cbc", "rijndael_encrypt_cbc",
         "rijndael_decrypt_cbc", "gost_encrypt_cbc", "gost_decrypt_cbc", "sha1_update"]
peers = ["cryptopp", "cryptopp_uncapped", "openssl", "gcrypt"]
names = [n.split("/", 1) for n in rates]
operations = [o for o in order if "ours/" + o in rates]
operations += sorted({o for l, o in names if l == "ours" and o not in order})
libraries = peers + sorted({l for l, _ in names if l != "ours" and l not in peers})

print("# operation ours_MBps peer peer_MBps ratio")
for operation in operations:
    ours = rates["ours/" + operation]
    for library in libraries:
        peer_rate = rates.get(library + "/" + operation)
        if peer_rate:
            print(f"{operation} {ours:.1f} {library} {peer_rate:.1f} {ours / peer_rate:.2f}")

print("# operation ours_MBps best:peer peer_MBps ratio (fastest peer capped to the level)")
for operation in operations:
    ours = rates["ours/" + operation]
    capped_peers = [(rates[l + "/" + operation], l) for l in libraries
                    if not l.endswith("_uncapped") and rates.get(l + "/" + operation)]
    if capped_peers:
        peer_rate, library = max(capped_peers)
        print(f"{operation} {ours:.1f} best:{library} {peer_rate:.1f} {ours / peer_rate:.2f}")
EOF
