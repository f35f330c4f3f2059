#!/usr/bin/env bash
# Power cuts on real file systems. An ext4 and an XFS image are loop-mounted; runs that wipe
# their sources (encryption, decryption, the desktop's re-encryption after a decryption, a given
# output with -o for both directions, two jobs at once) are cut at random moments by stopping the
# file system without flushing its log (FS_IOC_SHUTDOWN, FS_GOING_DOWN_NOLOGFLUSH): what the disk
# holds then is what a power cut leaves. The image is then mounted again, and every file of the
# run must be there as its source or as an output that verifies and holds exactly its bytes. A
# file that is neither may only be a source whose wipe had begun (its bytes, some or all of them
# overwritten by 'N').
#
# Needs root and loop devices; exits 77 (skipped) with the reason otherwise.
# Usage: powercut.sh QK_CLI HELPER
# Environment: QK_POWERCUT_CUTS (cuts per run kind and file system, default 3),
# QK_POWERCUT_SEED (seed of the cut moments, default the time).
set -uo pipefail

qk=${1:?usage: powercut.sh QK_CLI HELPER}
helper=${2:?usage: powercut.sh QK_CLI HELPER}
cuts=${QK_POWERCUT_CUTS:-3}
seed=${QK_POWERCUT_SEED:-$(date +%s)}
RANDOM=$seed

skip() {
  echo "SKIP: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "not root: loop devices and mounts need root"
[ -e /dev/loop-control ] || skip "no loop devices (/dev/loop-control is missing)"
for tool in losetup mount umount mkfs.ext4 sha256sum; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
systems=(ext4)
if command -v mkfs.xfs >/dev/null; then
  systems+=(xfs)
else
  echo "note: mkfs.xfs is missing (xfsprogs): XFS is not cut"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/qk-powercut.XXXXXX")
mounts=()
loops=()
cleanup() {
  local m l
  for m in "${mounts[@]}"; do
    mountpoint -q "$m" && umount "$m" 2>/dev/null
  done
  for l in "${loops[@]}"; do
    losetup -d "$l" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

now() { date +%s%N; }

# The files of every run: empty to tens of MiB, Japanese names among them, and a crowd of small
# ones, so that a cut falls among outputs flushed and named together, and among sources
# overwritten together.
plain="$work/plain"
mkdir -p "$plain"
: >"$plain/空.txt"
printf 'x' >"$plain/one.txt"
head -c 15 /dev/urandom >"$plain/報告書 2026.txt"
head -c 8192 /dev/urandom >"$plain/piece.bin"
head -c 100003 /dev/urandom >"$plain/写真_01.jpg"
head -c $((1024 * 1024 + 5)) /dev/urandom >"$plain/データ.dat"
head -c $((2 * 1024 * 1024)) /dev/urandom >"$plain/two.bin"
head -c $((12 * 1024 * 1024 + 1)) /dev/urandom >"$plain/大きな.bin"
for ((i = 0; i < 120; i++)); do
  head -c $((RANDOM % 3000 + 1)) /dev/urandom >"$plain/小さな_$i.txt"
done
declare -A expected # sha256 -> name
for f in "$plain"/*; do
  expected[$(sha256sum <"$f" | cut -d' ' -f1)]=$(basename "$f")
done
count=${#expected[@]}
ini="$work/none.ini" # no settings file: the defaults (tamper code on)
containers="$work/containers"
mkdir -p "$containers"
cp -a "$plain"/. "$containers"/
if ! "$qk" encrypt --ini "$ini" --password powercut --jobs 1 "$containers" >/dev/null; then
  echo "FAIL: the containers of the runs could not be made"
  exit 1
fi
find "$containers" -type f ! -name '*.enc' -delete
# The containers as laid out: a source of a decryption that is still there needs no decryption
# to be recognised.
declare -A laid # sha256 of a container -> sha256 of its plaintext
for f in "$containers"/*; do
  name=$(basename "$f" .enc)
  laid[$(sha256sum <"$f" | cut -d' ' -f1)]=$(sha256sum <"$plain/$name" | cut -d' ' -f1)
done

# Lays out the files of a run in $mnt/d: plaintexts or containers, all on the disk.
prepare() {
  local kind=$1
  rm -rf "$mnt/d"
  mkdir "$mnt/d"
  case $kind in
  encrypt* | jobs-encrypt) cp -a "$plain"/. "$mnt/d"/ ;;
  *) cp -a "$containers"/. "$mnt/d"/ ;;
  esac
  [ "$kind" = output-decrypt ] && printf 'the old given file' >"$mnt/d/given.bin"
  sync -f "$mnt"
}

# The command of a run kind.
command_of() {
  local kind=$1
  case $kind in
  encrypt) echo "$qk encrypt --ini $ini --password powercut --wipe-source --jobs 1 $mnt/d" ;;
  decrypt) echo "$qk decrypt --ini $ini --password powercut --wipe-source --jobs 1 $mnt/d" ;;
  jobs-encrypt) echo "$qk encrypt --ini $ini --password powercut --wipe-source --jobs 2 $mnt/d" ;;
  jobs-decrypt) echo "$qk decrypt --ini $ini --password powercut --wipe-source --jobs 2 $mnt/d" ;;
  reencrypt) echo "$helper reencrypt powercut $(printf '%q ' "$mnt"/d/*.enc)" ;;
  encrypt-output)
    printf '%s ' "$qk" encrypt --ini "$ini" --password powercut --wipe-source -o "$mnt/d/out.enc"
    printf '%q\n' "$mnt/d/大きな.bin"
    ;;
  output-decrypt)
    printf '%s ' "$qk" decrypt --ini "$ini" --password powercut --wipe-source -o "$mnt/d/given.bin"
    printf '%q\n' "$mnt/d/大きな.bin.enc"
    ;;
  esac
}

# True when file holds the bytes of the source laid out under its name, some of them (or all
# those past the source's end) 'N': a source whose overwrite had begun. Its output must still be
# found whole, as every expected file must.
partly_wiped() {
  local file=$1 name original size
  name=$(basename "$file")
  original="$plain/$name"
  [ -f "$original" ] || original="$containers/$name"
  [ -f "$original" ] || return 1
  size=$(stat -c %s "$original")
  [ "$(stat -c %s "$file")" -ge "$size" ] || return 1
  # cmp -l lists each differing byte in octal; 'N' is 116.
  { cmp -l -n "$size" "$file" "$original" 2>/dev/null || true; } | awk '$2 != 116 { bad = 1 } END { exit bad }' ||
    return 1
  [ -z "$(tail -c +$((size + 1)) "$file" | tr -d 'N' | head -c 1)" ]
}

checked=0
partial=0 # sources found with their overwrite begun
# Every file of the run is there as its source or as an output that holds exactly its bytes.
check() {
  local what=$1 f sum out found=()
  declare -A seen=()
  while IFS= read -r -d '' f; do
    checked=$((checked + 1))
    sum=$(sha256sum <"$f" | cut -d' ' -f1)
    if [ -n "${expected[$sum]:-}" ]; then
      seen[$sum]=1
      continue
    fi
    if [ -n "${laid[$sum]:-}" ]; then
      seen[${laid[$sum]}]=1
      continue
    fi
    [ "$(basename "$f")" = given.bin ] && [ "$(cat "$f")" = "the old given file" ] && continue
    # A source whose wipe had begun: 'N' bytes alone, or its own bytes with some of them
    # overwritten by 'N' (the overwrite reaches the disk page by page, in no set order).
    if [ -s "$f" ] && [ -z "$(tr -d 'N' <"$f" | head -c 1)" ]; then
      continue
    fi
    if partly_wiped "$f"; then
      partial=$((partial + 1))
      continue
    fi
    out="$work/out"
    rm -f "$out"
    if "$qk" decrypt --ini "$ini" --password powercut -o "$out" "$f" >/dev/null 2>&1; then
      sum=$(sha256sum <"$out" | cut -d' ' -f1)
      if [ -n "${expected[$sum]:-}" ]; then
        seen[$sum]=1
        continue
      fi
    fi
    fail "$what: ${f#"$mnt"/} is neither a source, nor an output that verifies, nor a wiped source"
  done < <(find "$mnt/d" -type f -print0)
  # The -o runs act on one file alone; the others stay as they were laid out.
  local sum2
  for sum2 in "${!expected[@]}"; do
    [ -n "${seen[$sum2]:-}" ] || found+=("${expected[$sum2]}")
  done
  if [ ${#found[@]} -gt 0 ]; then
    fail "$what: lost: ${found[*]}"
  fi
}

kinds=(encrypt decrypt reencrypt encrypt-output output-decrypt jobs-encrypt jobs-decrypt)
total_cuts=0
declare -A durations
started=$(now)
for fs in "${systems[@]}"; do
  image="$work/$fs.img"
  mnt="$work/mnt-$fs"
  mkdir -p "$mnt"
  truncate -s 320M "$image"
  dev=$(losetup -f --show "$image" 2>/dev/null) || skip "no free loop device could be set up"
  loops+=("$dev")
  if [ "$fs" = xfs ]; then
    mkfs.xfs -q -f "$dev" >/dev/null || skip "mkfs.xfs failed"
  else
    mkfs.ext4 -q -F "$dev" >/dev/null || skip "mkfs.ext4 failed"
  fi
  mount "$dev" "$mnt" || skip "cannot mount a loop device here"
  mounts+=("$mnt")
  for kind in "${kinds[@]}"; do
    # One run without a cut, on the first file system: how long it takes, and that it succeeds.
    if [ -z "${durations[$kind]:-}" ]; then
      prepare "$kind"
      t0=$(now)
      if ! eval "$(command_of "$kind")" >/dev/null 2>"$work/err"; then
        fail "$fs $kind: the run without a cut failed: $(head -c 500 "$work/err")"
      fi
      durations[$kind]=$((($(now) - t0) / 1000000))
      check "$fs $kind (no cut)"
    fi
    duration=${durations[$kind]}
    made=0
    for ((i = 0; i < cuts; i++)); do
      prepare "$kind"
      # A moment from the start to a little past the usual end.
      delay=$((RANDOM * (duration * 11 / 10 + 1) / 32768))
      eval "timeout -s KILL 120 $(command_of "$kind")" >/dev/null 2>&1 &
      pid=$!
      sleep "$(printf '%d.%03d' $((delay / 1000)) $((delay % 1000)))"
      if ! "$helper" shutdown "$mnt"; then
        fail "$fs: the file system could not be shut down"
      fi
      wait "$pid"
      made=$((made + 1))
      umount "$mnt" || { fail "$fs: cannot unmount after the cut"; break 2; }
      mount "$dev" "$mnt" || { fail "$fs: cannot mount again after the cut"; break 2; }
      check "$fs $kind cut at ${delay} ms of ${duration} ms"
    done
    total_cuts=$((total_cuts + made))
    echo "$fs $kind: $made cuts over a run of ${duration} ms"
  done
  umount "$mnt"
done
echo "cuts: $total_cuts, files checked: $checked (sources with their overwrite begun: $partial), files a run: $count, seed $seed," \
  "$(($(($(now) - started)) / 1000000000)) s"
[ "$failures" = 0 ] || {
  echo "$failures failures"
  exit 1
}
