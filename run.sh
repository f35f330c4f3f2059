#!/usr/bin/env bash
# Installs what is missing, builds a Release build and starts QK (the desktop program; without a
# display it says so and shows how to use the command-line front end).
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh build gui
build=${QK_RELEASE_BUILD_DIR:-build/release}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "QK: no display found, so the desktop program cannot open its window." >&2
  echo "QK: ディスプレイが見つからないため、ウィンドウを表示できません。" >&2
  echo "Without a window, use the command-line front end: $build/bin/qk-cli" >&2
  echo >&2
  exec "$build/bin/qk-cli" --help
fi
exec "$build/bin/qk" "$@"
