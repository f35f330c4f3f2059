#!/usr/bin/env bash
# Builds the two programs as a packager or newcomer would (CMake's default generator, a Release
# build, no tests), installs them into a staging folder and checks that everything an installed
# copy needs is there.
# Usage: scripts/check-install.sh [BUILD_DIR]   (default build/default; extra cmake arguments in
# $QK_CMAKE_ARGS, e.g. -DCMAKE_CXX_COMPILER=clang++)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/default}
stage="$build/stage"
# shellcheck disable=SC2086
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_TESTS=OFF ${QK_CMAKE_ARGS:-}
cmake --build "$build" -j "$(nproc)"
rm -rf "$stage"
DESTDIR="$PWD/$stage" cmake --install "$build" --prefix /usr >/dev/null

status=0
for f in usr/bin/qk usr/bin/qk-cli usr/lib/qk/qk usr/lib/qk/qk-cli usr/lib/qk/manual/index.html \
         usr/lib/qk/manual/en.html usr/share/man/man1/qk.1.gz usr/share/man/man1/qk-cli.1.gz \
         usr/share/applications/qk.desktop usr/share/applications/qk-decrypt.desktop \
         usr/share/applications/qk-encrypt.desktop usr/share/applications/qk-wipe.desktop \
         usr/share/mime/packages/qk.xml usr/share/icons/hicolor/48x48/apps/qk.png \
         usr/share/doc/qk/copyright; do
  if [ ! -e "$stage/$f" ]; then
    echo "check-install: $f was not installed" >&2
    status=1
  fi
done
# The installed program runs through its link in bin.
if ! "$stage/usr/bin/qk-cli" --help >/dev/null 2>&1; then
  echo "check-install: the installed qk-cli does not run" >&2
  status=1
fi
if ! gzip -t "$stage/usr/share/man/man1/qk-cli.1.gz"; then status=1; fi
[ "$status" = 0 ] && echo "check-install: $(find "$stage" -type f -o -type l | wc -l) files installed under $stage"
exit "$status"
