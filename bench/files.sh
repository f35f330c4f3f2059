#!/usr/bin/env bash
# Whole-file measurements of the Release qk-cli (built in build/bench):
#   (a) encrypt and decrypt a 256 MiB file with Twofish, Rijndael and GOST, tamper code on,
#       beside the raw CBC speed of the same cipher from the primitives benchmark;
#   (b) a 1 GiB file of random bytes, tamper code on, against GnuPG's symmetric mode with the
#       same cipher and no compression (encryption, and decryption against gpg -d), and the wipe
#       against shred -n 1 -u; the peak resident memory of the largest qk-cli run;
#   (c) a folder of 2,000 small files through qk-cli and through an openssl enc loop;
#   (d) qk-cli encrypting that folder, and a folder of eight 128 MiB files, with --jobs 2 against
#       --jobs 1: "folder_2000_small_jobs2 SECONDS jobs1 SECONDS RATIO" (wall seconds; the ratio
#       is the --jobs 1 time over the --jobs 2 time, higher is better);
#   (e) on a folder on a disk (not in memory, where flushes cost nothing): 20,000 files of 1 to
#       2,000 bytes with Japanese names in 20 folders five levels below the tree's top, encrypted
#       with --jobs 1 and with the default number of jobs ("folder_20000_small_jobs1", ..._jobsN),
#       and encrypted and decrypted again with --wipe-source ("folder_20000_small_wipe_..."),
#       each right after the bound of the same run on a copy of the files on the same disk
#       (bench/bound.cpp: the outputs of a folder written, one syncfs, the sources overwritten,
#       one syncfs, the sources removed; without wipe all written and one syncfs), every run
#       right after 20,000 removals in its own tree (for the first two, those of an unmeasured
#       run of the bound in each tree):
#       "bound_ROW WALL_SECONDS user_system USER/SYSTEM -",
#       "ROW WALL_SECONDS bound BOUND_SECONDS WALL/BOUND" and
#       "ROW_cpu USER_SECONDS user/system SYSTEM_SECONDS (USER+SYSTEM)/WALL", one run each; then,
#       where strace is installed, the system calls a file costs: 2,000 of those files
#       encrypted, then encrypted and decrypted with --wipe-source, under strace -c -f:
#       "syscalls_per_file_RUN CALL N files 2000" for openat, newfstatat (fstat included), statx,
#       close, the flushes and all calls together.
# Prints lines "operation qk_value peer peer_value ratio"; in (b) the values are wall seconds
# (CPU seconds in the lines ending _cpu) and the ratio is peer seconds / qk seconds (higher is
# better), then "peak_rss_MiB N". MB/s are
# 10^6 bytes per second. Rates marked _cpu divide by the CPU time (user + system, children
# included), as the primitives benchmark does, so that they hold while other jobs share the
# machine; _wall by the wall time. Every figure is the median of the repetitions. In (b) each
# cipher starts with one round of each tool that is not counted, and the tools take turns going
# first.
# The big files live in /dev/shm (else /tmp) only while they are measured.
# Usage: bench/files.sh [--level portable|aesni|avx2|avx512]
#   --level L  caps qk-cli, gpg (through libgcrypt) and openssl to processor level L (see
#              bench/levels.sh); the header says how. Without it nothing is capped.
# Environment: QK_FILES_REPS (repetitions of the timed runs, median reported, default 3),
# QK_FILES_COUNT (number of small files, default 2000), QK_FILES_GIB_MIB (size of the file of
# part (b) in MiB, default 1024), QK_FILES_EIGHT_MIB (size of each of the eight files of part
# (d) in MiB, default 128), QK_FILES_BUILD (build folder, default build/bench), QK_FILES_DISK
# (the folder on a disk for (e), default /var/tmp), QK_FILES_DISK_COUNT (files of (e), default
# 20000), QK_FILES_ONLY_DISK=1 (part (e) alone; with QK_FILES_QK=PATH, of that qk-cli, unbuilt).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=bench/levels.sh
. "$root/bench/levels.sh"

qk_parse_level_args files.sh "$@"
build=${QK_FILES_BUILD:-$root/build/bench}
reps=${QK_FILES_REPS:-3}
count=${QK_FILES_COUNT:-2000}
gib_mib=${QK_FILES_GIB_MIB:-1024}
eight_mib=${QK_FILES_EIGHT_MIB:-128}

if [ -n "${QK_FILES_QK:-}" ] && [ "${QK_FILES_ONLY_DISK:-0}" = 1 ]; then
  qk=$QK_FILES_QK # another build's qk-cli, measured as it is
else
  "$root/scripts/install-deps.sh" build bench >&2
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQK_BUILD_BENCH=ON \
    -DQK_BUILD_TESTS=OFF -DQK_SANITIZE=OFF >&2
  if [ "${QK_FILES_ONLY_DISK:-0}" = 1 ]; then
    cmake --build "$build" -j2 --target qk-cli >&2
  else
    cmake --build "$build" -j2 --target qk_bench_primitives qk-cli >&2
  fi
  qk="$build/bin/qk-cli"
fi
primitives="$build/bench/qk_bench_primitives"

base=/tmp
[ -d /dev/shm ] && [ -w /dev/shm ] && base=/dev/shm
work=$(mktemp -d "$base/qk-files.XXXXXX")
# gpg keeps its state (and its agent) in the work folder, stopped at the end.
export GNUPGHOME="$work/gnupg"
mkdir -m 700 "$GNUPGHOME"
cleanup() {
  gpgconf --homedir "$GNUPGHOME" --kill gpg-agent >/dev/null 2>&1 || true
  rm -rf "$work"
  qk_level_restore
}
trap cleanup EXIT

qk_level_begin "$level"
gpgconf --homedir "$GNUPGHOME" --launch gpg-agent

pw="$work/password"
printf 'benchmark-password\n' >"$pw"
ini="$work/empty.ini"
: >"$ini"

# timed COMMAND...: runs it; sets T_WALL and T_CPU (seconds; CPU of it and its children) and
# T_RSS (peak resident memory in MiB).
timed() {
  local t0=$EPOCHREALTIME
  /usr/bin/time -f '%U %S %M' -o "$work/rusage" "$@"
  local t1=$EPOCHREALTIME
  T_WALL=$(calc "$t1 - $t0" 6)
  T_CPU=$(awk '{t = $1 + $2; printf "%.2f", t < 0.01 ? 0.01 : t}' "$work/rusage")
  T_RSS=$(awk '{printf "%.1f", $3 / 1024}' "$work/rusage")
}
# Median of the arguments.
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }
# calc EXPRESSION: floating-point arithmetic.
calc() { awk "BEGIN {printf \"%.${2:-1}f\", $1}"; }
line() { printf '%s %s %s %s %s\n' "$@"; }

random_file() { # path, MiB
  head -c "$(($2 * 1024 * 1024))" /dev/urandom >"$1"
}

echo "$note"
echo "# operation qk_value peer peer_value ratio"

# ---- (e) many small files on a disk ----
disk_part() {
  local disk=${QK_FILES_DISK:-/var/tmp} n=${QK_FILES_DISK_COUNT:-20000}
  case $(stat -f -c %T "$disk") in
  tmpfs | ramfs)
    echo "files.sh: $disk is in memory; part (e) needs a disk (set QK_FILES_DISK)" >&2
    return
    ;;
  esac
  # The bound: the same safety in the cheapest order, with nothing else (bench/bound.cpp).
  local bound="$work/bound"
  c++ -O2 -std=c++20 -o "$bound" "$root/bench/bound.cpp"
  tree=$(mktemp -d "$disk/qk-disk.XXXXXX")
  trap 'rm -rf "$tree"; cleanup' EXIT
  # The same files twice: for qk-cli (q) and for the bound (b).
  python3 - "$tree/q" "$tree/b" "$n" <<'EOF'
import os, random, sys
for root in sys.argv[1:3]:
    n = int(sys.argv[3])
    rng = random.Random(20261208)
    base = os.path.join(root, "第一階層", "第二階層", "第三階層", "第四階層")
    for f in range(20):
        folder = os.path.join(base, f"フォルダ{f + 1:02d}")
        os.makedirs(folder)
        for i in range(n // 20):
            with open(os.path.join(folder, f"書類_{i:05d}.txt"), "wb") as out:
                out.write(rng.randbytes(rng.randint(1, 2000)))
EOF
  digest() { (cd "$tree/q" && find . -type f -print0 | sort -z | xargs -0 sha1sum | sha1sum); }
  local before jobs j
  before=$(digest)
  jobs=$(nproc)
  sync
  # B_WALL: wall seconds of the bound's run just before (bound_row).
  bound_row() { # row name, bound arguments (direction, wipe|keep)
    local name=$1
    shift
    timed "$bound" "$@" "$tree/b"
    B_WALL=$T_WALL
    line "$name" "$(calc "$T_WALL" 2)" user_system \
      "$(awk '{printf "%.2f/%.2f", $1, $2}' "$work/rusage")" -
    sync
  }
  # "ROW WALL bound BOUND_WALL WALL/BOUND_WALL", then "ROW_cpu USER user/system SYSTEM
  # (USER+SYSTEM)/WALL".
  disk_row() { # row name, qk-cli arguments...
    local name=$1 system user
    shift
    timed "$qk" "$@" --password-file "$pw" --ini "$ini" --recursive "$tree/q" >/dev/null
    system=$(awk '{printf "%.2f", $2}' "$work/rusage")
    user=$(awk '{printf "%.2f", $1}' "$work/rusage")
    line "$name" "$(calc "$T_WALL" 2)" bound "$(calc "$B_WALL" 2)" "$(calc "$T_WALL / $B_WALL" 2)"
    line "${name}_cpu" "$user" user/system "$system" "$(calc "($user + $system) / $T_WALL" 2)"
    sync
  }
  # Every measured run comes right after 20,000 removals in its own tree, as each run after the
  # first does: ext4 without a journal passes over the inodes removed there in the last minutes
  # whenever it makes a file, so a first run in a tree that removed nothing lately would be
  # measured in a cheaper state than the others. An unmeasured run in each tree sets that state.
  local side
  for side in b q; do
    "$bound" encrypt keep "$tree/$side"
    find "$tree/$side" -name '*.enc' -delete
  done
  # Each qk-cli row right after its bound: the disk and the machine's load as alike as they get.
  for j in 1 "$jobs"; do
    bound_row "bound_${n}_small" encrypt keep
    find "$tree/b" -name '*.enc' -delete
    disk_row "folder_${n}_small_jobs$j" encrypt --jobs "$j"
    find "$tree/q" -name '*.enc' -delete
    sync
    bound_row "bound_${n}_small_wipe_encrypt" encrypt wipe
    disk_row "folder_${n}_small_wipe_encrypt_jobs$j" encrypt --jobs "$j" --wipe-source
    bound_row "bound_${n}_small_wipe_decrypt" decrypt wipe
    disk_row "folder_${n}_small_wipe_decrypt_jobs$j" decrypt --jobs "$j" --wipe-source
    [ "$(digest)" = "$before" ] || {
      echo "files.sh: the disk folder's round trip differs" >&2
      exit 1
    }
  done
  if command -v strace >/dev/null; then
    local deep="$tree/q/第一階層/第二階層/第三階層/第四階層" traced=2000 call run
    ((traced > n)) && traced=$n
    # A folder of its own as deep as the others, holding that many of the files.
    local measured="$deep/計測"
    mkdir "$measured"
    local found from i
    mapfile -t found < <(find "$deep" -type f -name '書類_*' | sort)
    for ((i = 0; i < traced; i++)); do
      from=${found[i]#"$deep"/}
      mv "$deep/$from" "$measured/${from//\//_}"
    done
    # "syscalls_per_file_RUN CALL N files COUNT": without wipe, then both directions with it.
    for run in encrypt encrypt_wipe decrypt_wipe; do
      local args=("${run%%_*}" --jobs 1)
      [ "$run" = encrypt ] || args+=(--wipe-source)
      strace -c -f -o "$work/strace" "$qk" "${args[@]}" --password-file "$pw" --ini "$ini" \
        --no-recursive "$measured" >/dev/null
      [ "$run" = encrypt ] && find "$measured" -name '*.enc' -delete
      for call in openat newfstatat statx close fsync fdatasync sync_file_range syncfs total; do
        line "syscalls_per_file_$run" "$call" "$(awk -v c="$call" -v n="$traced" '
          $NF == c { v = $4 } END { printf "%.1f", v / n }' "$work/strace")" \
          files "$traced"
      done
    done
  fi
  rm -rf "$tree"
}
if [ "${QK_FILES_ONLY_DISK:-0}" = 1 ]; then
  disk_part
  exit 0
fi

# ---- raw CBC speed from the primitives benchmark ----
raw_json="$work/raw.json"
"$primitives" --benchmark_filter='^ours/(twofish|rijndael|gost)_(en|de)crypt_cbc$' \
  --benchmark_min_time=0.5 --benchmark_repetitions="$reps" \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$raw_json" --benchmark_out_format=json >/dev/null 2>&1
raw() { # operation -> median MB/s
  python3 - "$raw_json" "$1" <<'EOF'
import json, sys
# The median of the repetitions; a single repetition has no aggregates.
runs = [b for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("run_name", b["name"]) == "ours/" + sys.argv[2]]
pick = [b for b in runs if b.get("aggregate_name") == "median"] or runs
print(f'{pick[0]["bytes_per_second"] / 1e6:.1f}')
EOF
}

# ---- (a) 256 MiB, tamper code on ----
big="$work/big.bin"
random_file "$big" 256
bytes=$((256 * 1024 * 1024))
for algorithm in twofish rijndael gost; do
  enc_cpu=() enc_wall=() dec_cpu=() dec_wall=()
  for ((r = 0; r < reps; r++)); do
    rm -f "$work/big.enc" "$work/big.dec"
    timed "$qk" encrypt --password-file "$pw" --ini "$ini" --algorithm "$algorithm" --tamper-code \
      -o "$work/big.enc" "$big" >/dev/null
    enc_cpu+=("$(calc "$bytes / 1e6 / $T_CPU")")
    enc_wall+=("$(calc "$bytes / 1e6 / $T_WALL")")
    timed "$qk" decrypt --password-file "$pw" --ini "$ini" -o "$work/big.dec" "$work/big.enc" \
      >/dev/null
    dec_cpu+=("$(calc "$bytes / 1e6 / $T_CPU")")
    dec_wall+=("$(calc "$bytes / 1e6 / $T_WALL")")
    cmp -s "$big" "$work/big.dec" || {
      echo "files.sh: $algorithm round trip differs" >&2
      exit 1
    }
  done
  rm -f "$work/big.enc" "$work/big.dec"
  raw_enc=$(raw "${algorithm}_encrypt_cbc")
  raw_dec=$(raw "${algorithm}_decrypt_cbc")
  prefix="qk_${algorithm}_256MiB"
  v=$(median "${enc_cpu[@]}")
  line "${prefix}_encrypt_MBps_cpu" "$v" raw_encrypt_cbc "$raw_enc" "$(calc "$v / $raw_enc" 2)"
  v=$(median "${enc_wall[@]}")
  line "${prefix}_encrypt_MBps_wall" "$v" raw_encrypt_cbc "$raw_enc" "$(calc "$v / $raw_enc" 2)"
  v=$(median "${dec_cpu[@]}")
  line "${prefix}_decrypt_MBps_cpu" "$v" raw_encrypt_cbc "$raw_enc" "$(calc "$v / $raw_enc" 2)"
  line "${prefix}_decrypt_MBps_cpu" "$v" raw_decrypt_cbc "$raw_dec" "$(calc "$v / $raw_dec" 2)"
  v=$(median "${dec_wall[@]}")
  line "${prefix}_decrypt_MBps_wall" "$v" raw_encrypt_cbc "$raw_enc" "$(calc "$v / $raw_enc" 2)"
done
rm -f "$big"

# ---- (b) 1 GiB against gpg and shred ----
big="$work/huge.bin"
random_file "$big" "$gib_mib"
peak_rss=0
note_rss() { peak_rss=$(calc "($T_RSS > $peak_rss) ? $T_RSS : $peak_rss"); }
gpg_args=(--batch --yes --quiet --pinentry-mode loopback --passphrase-file "$pw")
# One round of each tool: the timed commands of a repetition, and their cleanup.
qk_round() { # algorithm; adds to qk_enc, qk_dec and their _cpu arrays
  rm -f "$work/huge.enc" "$work/huge.dec"
  timed "$qk" encrypt --password-file "$pw" --ini "$ini" --algorithm "$1" --tamper-code \
    -o "$work/huge.enc" "$big" >/dev/null
  qk_enc+=("$T_WALL") qk_enc_cpu+=("$T_CPU")
  note_rss
  timed "$qk" decrypt --password-file "$pw" --ini "$ini" -o "$work/huge.dec" "$work/huge.enc" \
    >/dev/null
  qk_dec+=("$T_WALL") qk_dec_cpu+=("$T_CPU")
  note_rss
  cmp -s "$big" "$work/huge.dec" || {
    echo "files.sh: $1 1 GiB round trip differs" >&2
    exit 1
  }
  rm -f "$work/huge.enc" "$work/huge.dec"
}
gpg_round() { # gpg cipher name; adds to gpg_enc, gpg_dec and their _cpu arrays
  timed gpg "${gpg_args[@]}" --symmetric --cipher-algo "$1" --compress-algo none \
    -o "$work/huge.gpg" "$big"
  gpg_enc+=("$T_WALL") gpg_enc_cpu+=("$T_CPU")
  timed gpg "${gpg_args[@]}" -o "$work/huge.dec" -d "$work/huge.gpg"
  gpg_dec+=("$T_WALL") gpg_dec_cpu+=("$T_CPU")
  rm -f "$work/huge.gpg" "$work/huge.dec"
}
for algorithm in rijndael twofish; do
  gpg_cipher=$([ "$algorithm" = rijndael ] && echo AES256 || echo TWOFISH)
  # A round of each that is not counted: the first gigabyte written after others were freed costs
  # more on some machines, whichever tool writes it.
  qk_round "$algorithm"
  gpg_round "$gpg_cipher"
  qk_enc=() qk_dec=() gpg_enc=() gpg_dec=()
  qk_enc_cpu=() qk_dec_cpu=() gpg_enc_cpu=() gpg_dec_cpu=()
  # Each tool goes first in every other repetition.
  for ((r = 0; r < reps; r++)); do
    if ((r % 2 == 0)); then
      qk_round "$algorithm"
      gpg_round "$gpg_cipher"
    else
      gpg_round "$gpg_cipher"
      qk_round "$algorithm"
    fi
  done
  q=$(median "${qk_enc[@]}") g=$(median "${gpg_enc[@]}")
  line "encrypt_${gib_mib}MiB_${algorithm}" "$(calc "$q" 2)" "gpg_${gpg_cipher}" "$(calc "$g" 2)" \
    "$(calc "$g / $q" 2)"
  q=$(median "${qk_dec[@]}") g=$(median "${gpg_dec[@]}")
  line "decrypt_${gib_mib}MiB_${algorithm}" "$(calc "$q" 2)" "gpg_d_${gpg_cipher}" "$(calc "$g" 2)" \
    "$(calc "$g / $q" 2)"
  # CPU seconds (user + system) as well: what each costs while other jobs share the machine.
  q=$(median "${qk_enc_cpu[@]}") g=$(median "${gpg_enc_cpu[@]}")
  line "encrypt_${gib_mib}MiB_${algorithm}_cpu" "$q" "gpg_${gpg_cipher}" "$g" "$(calc "$g / $q" 2)"
  q=$(median "${qk_dec_cpu[@]}") g=$(median "${gpg_dec_cpu[@]}")
  line "decrypt_${gib_mib}MiB_${algorithm}_cpu" "$q" "gpg_d_${gpg_cipher}" "$g" "$(calc "$g / $q" 2)"
done

qk_wipe=() shred_wipe=()
for ((r = 0; r < reps; r++)); do
  cp "$big" "$work/victim"
  timed "$qk" wipe --ini "$ini" "$work/victim" >/dev/null
  qk_wipe+=("$T_WALL")
  note_rss
  [ ! -e "$work/victim" ] || {
    echo "files.sh: the wipe left the file" >&2
    exit 1
  }
  cp "$big" "$work/victim"
  timed shred -n 1 -u "$work/victim"
  shred_wipe+=("$T_WALL")
done
rm -f "$big" "$work/victim"
q=$(median "${qk_wipe[@]}") g=$(median "${shred_wipe[@]}")
line "wipe_${gib_mib}MiB" "$(calc "$q" 2)" shred_n1_u "$(calc "$g" 2)" "$(calc "$g / $q" 2)"
echo "peak_rss_MiB $peak_rss"

# ---- (c) a folder of small files ----
plain="$work/plain"
mkdir "$plain"
python3 - "$plain" "$count" <<'EOF'
import os, random, sys
rng = random.Random(20240601)
for i in range(int(sys.argv[2])):
    with open(os.path.join(sys.argv[1], f"f{i:05d}.bin"), "wb") as f:
        f.write(os.urandom(rng.randint(1024, 64 * 1024)))
EOF
# Every file of the second folder must equal the same-named file of the first.
same() {
  python3 - "$1" "$2" <<'EOF'
import os, sys
a, b = sys.argv[1], sys.argv[2]
names = sorted(os.listdir(a))
bad = [n for n in names if open(os.path.join(a, n), "rb").read() != open(os.path.join(b, n), "rb").read()]
sys.exit(1 if bad else 0)
EOF
}
fps() { calc "$count / $1"; }

# Adds the files-per-second rates of the last timed run to the arrays named by $1_cpu, $1_wall.
record() {
  local -n cpu_rates="$1_cpu" wall_rates="$1_wall"
  cpu_rates+=("$(fps "$T_CPU")")
  wall_rates+=("$(fps "$T_WALL")")
}

# shellcheck disable=SC2034 # read through name references below
qk_enc_cpu=() qk_enc_wall=() qk_dec_cpu=() qk_dec_wall=()
for ((r = 0; r < reps; r++)); do
  rm -rf "$work/qk"
  mkdir "$work/qk"
  timed "$qk" encrypt --password-file "$pw" --ini "$ini" --no-recursive "$plain" >/dev/null
  record qk_enc
  mv "$plain"/*.enc "$work/qk/"
  timed "$qk" decrypt --password-file "$pw" --ini "$ini" --no-recursive "$work/qk" >/dev/null
  record qk_dec
  same "$plain" "$work/qk" || {
    echo "files.sh: qk-cli folder round trip differs" >&2
    exit 1
  }
done
rm -rf "$work/qk"

# shellcheck disable=SC2034 # read through name references below
ossl_enc_cpu=() ossl_enc_wall=() ossl_dec_cpu=() ossl_dec_wall=()
for ((r = 0; r < reps; r++)); do
  rm -rf "$work/ossl" "$work/ossl-dec"
  mkdir "$work/ossl" "$work/ossl-dec"
  # shellcheck disable=SC2016 # expanded by the inner shell
  timed bash -c 'for f in "$1"/*; do
      openssl enc -aes-256-cbc -pbkdf2 -pass "file:$3" -in "$f" -out "$2/${f##*/}.enc"
    done' _ "$plain" "$work/ossl" "$pw"
  record ossl_enc
  # shellcheck disable=SC2016
  timed bash -c 'for f in "$1"/*.enc; do
      name=${f##*/}
      openssl enc -d -aes-256-cbc -pbkdf2 -pass "file:$3" -in "$f" -out "$2/${name%.enc}"
    done' _ "$work/ossl" "$work/ossl-dec" "$pw"
  record ossl_dec
  same "$plain" "$work/ossl-dec" || {
    echo "files.sh: openssl folder round trip differs" >&2
    exit 1
  }
done
rm -rf "$work/ossl" "$work/ossl-dec"

for op in enc dec; do
  word=$([ "$op" = enc ] && echo encrypt || echo decrypt)
  for clock in cpu wall; do
    declare -n q="qk_${op}_${clock}" o="ossl_${op}_${clock}"
    qv=$(median "${q[@]}")
    ov=$(median "${o[@]}")
    line "folder_${count}_${word}_files_per_s_${clock}" "$qv" openssl_loop "$ov" \
      "$(calc "$qv / $ov" 2)"
    unset -n q o
  done
done

# ---- (d) several files at once: --jobs 2 against --jobs 1 ----
jobs_row() { # row name, folder
  local j1=() j2=() r first second
  for ((r = 0; r < reps; r++)); do
    # Each job count goes first in every other repetition.
    first=1 second=2
    ((r % 2)) && first=2 second=1
    for j in $first $second; do
      timed "$qk" encrypt --password-file "$pw" --ini "$ini" --no-recursive --jobs "$j" "$2" \
        >/dev/null
      if ((j == 1)); then j1+=("$T_WALL"); else j2+=("$T_WALL"); fi
      rm -f "$2"/*.enc
    done
  done
  local t1 t2
  t1=$(median "${j1[@]}") t2=$(median "${j2[@]}")
  line "$1_jobs2" "$(calc "$t2" 2)" jobs1 "$(calc "$t1" 2)" "$(calc "$t1 / $t2" 2)"
}
jobs_row "folder_${count}_small" "$plain"
rm -rf "$plain"
eight="$work/eight"
mkdir "$eight"
for ((i = 0; i < 8; i++)); do random_file "$eight/part$i.bin" "$eight_mib"; done
jobs_row "folder_8x${eight_mib}MiB" "$eight"
rm -rf "$eight"

disk_part
