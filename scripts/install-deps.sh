#!/usr/bin/env bash
# Installs what QK needs to build, test and run; does nothing for packages already present.
# Usage: scripts/install-deps.sh [build|test|gui|screenshots|fuzz|package|bench]...
# (package: what building and checking the Debian package takes: cpack -G DEB, lintian)
#
# Supported: Debian 12 (bookworm) and Debian 13 (trixie). Names that differ between releases are
# worked out on the running system; a package the archive does not have is reported and the rest
# are installed all the same, and the script then fails naming what is still missing.
set -euo pipefail

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
lists_updated=""

installed() {
  local status
  status=$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null) || return 1
  [ "$status" = "install ok installed" ]
}

# Package lists fresh once per run, and only when something has to be looked up or installed.
update_lists() {
  if [ -z "$lists_updated" ]; then
    $sudo apt-get update -qq
    lists_updated=1
  fi
}

# apt-get could install the package (a real one with a candidate, or a virtual one that a real
# one provides). Output is taken whole before it is searched: a search that stops at the first
# match would end the writer early.
available() {
  local plan
  plan=$(apt-get -s -qq install "$1" 2>/dev/null) || return 1
  return 0
}

# Nothing is left to install for the package (it, or a package that provides it, is installed).
satisfied() {
  local plan
  installed "$1" && return 0
  plan=$(apt-get -s -qq install "$1" 2>/dev/null) || return 1
  [[ "$plan" != *Inst\ * ]]
}

# The compiler runtime (libFuzzer, sanitizers) of the clang that the package "clang" brings:
# libclang-rt-dev where the release has the version-free name, else libclang-rt-<N>-dev for the
# clang-<N> that "clang" depends on.
clang_runtime() {
  if installed libclang-rt-dev || available libclang-rt-dev; then
    echo libclang-rt-dev
    return
  fi
  local version
  version=$(apt-cache depends clang 2>/dev/null | sed -n '/^ *Depends: clang-\([0-9][0-9]*\)$/{s//\1/p;q}')
  if [ -z "$version" ]; then
    version=$(clang --version 2>/dev/null | sed -n '/.*clang version \([0-9][0-9]*\).*/{s//\1/p;q}')
  fi
  echo "libclang-rt-${version:-unknown}-dev"
}

packages=(build-essential cmake ninja-build ccache pkg-config libc6)
want_clang_runtime=""
for set in "$@"; do
  case "$set" in
    build) packages+=(nlohmann-json3-dev) ;;
    test) packages+=(libgtest-dev libgmock-dev libcrypto++-dev python3 desktop-file-utils shared-mime-info libglib2.0-bin man-db xfsprogs e2fsprogs) ;;
    gui) packages+=(qt6-base-dev qt6-translations-l10n fonts-noto-cjk libgl-dev) ;;
    screenshots) packages+=(xvfb xauth imagemagick) ;;
    fuzz) packages+=(clang) want_clang_runtime=1 ;;
    package) packages+=(lintian dpkg-dev file) ;;
    bench) packages+=(libbenchmark-dev libcrypto++-dev libssl-dev libgcrypt20-dev time gnupg) ;;
    *) echo "install-deps: unknown set '$set'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  installed "$p" || missing+=("$p")
done
# A name that is only provided by another package (pkg-config by pkgconf) is never "installed"
# itself; it counts as present once nothing is left to install for it.
if ((${#missing[@]})); then
  unsatisfied=()
  for p in "${missing[@]}"; do
    satisfied "$p" || unsatisfied+=("$p")
  done
  missing=("${unsatisfied[@]+"${unsatisfied[@]}"}")
fi
if [ -n "$want_clang_runtime" ]; then
  # Worked out from the lists as they are; again from fresh lists when that names nothing
  # installed (a new machine, or lists older than the release).
  runtime=$(clang_runtime)
  if ! installed "$runtime"; then
    update_lists
    runtime=$(clang_runtime)
  fi
  installed "$runtime" || missing+=("$runtime")
fi

if ((${#missing[@]})); then
  update_lists
  present=()
  absent=()
  for p in "${missing[@]}"; do
    if available "$p"; then present+=("$p"); else absent+=("$p"); fi
  done
  if ((${#absent[@]})); then
    echo "install-deps: the package archive has no ${absent[*]}; installing the rest" >&2
  fi
  if ((${#present[@]})); then
    echo "install-deps: installing ${present[*]}"
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${present[@]}"
  fi
  still=()
  for p in "${missing[@]}"; do
    satisfied "$p" || still+=("$p")
  done
  if ((${#still[@]})); then
    echo "install-deps: still missing: ${still[*]} (supported: Debian 12 and 13)" >&2
    exit 1
  fi
fi
