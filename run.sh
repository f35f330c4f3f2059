#!/usr/bin/env bash
# Installs what is missing, builds a Release build and starts QK.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build
build=${QK_RELEASE_BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
if [ "$#" -eq 0 ]; then
  exec "$build/src/cli/qk-cli" --help
fi
exec "$build/src/cli/qk-cli" "$@"
