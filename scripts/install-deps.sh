#!/usr/bin/env bash
# Installs what QK needs to build, test and run; does nothing for packages already present.
# Usage: scripts/install-deps.sh [build|test|gui|screenshots|fuzz|package|bench]...
# (package: what building and checking the Debian package takes: cpack -G DEB, lintian)
set -euo pipefail

packages=(build-essential cmake ninja-build ccache pkg-config libc6)
for set in "$@"; do
  case "$set" in
    build) packages+=(nlohmann-json3-dev) ;;
    test) packages+=(libgtest-dev libgmock-dev libcrypto++-dev python3 desktop-file-utils shared-mime-info libglib2.0-bin man-db) ;;
    gui) packages+=(qt6-base-dev qt6-translations-l10n fonts-noto-cjk libgl-dev) ;;
    screenshots) packages+=(xvfb xauth imagemagick) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    package) packages+=(lintian dpkg-dev file) ;;
    bench) packages+=(libbenchmark-dev libcrypto++-dev libssl-dev libgcrypt20-dev time gnupg) ;;
    *) echo "install-deps: unknown set '$set'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "install-deps: installing ${missing[*]}"
  sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
