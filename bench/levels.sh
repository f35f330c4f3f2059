# shellcheck shell=bash
# Processor levels for the benchmarks, sourced by run.sh and files.sh. A level caps QK through
# QK_CRYPTO_LEVEL and the peers through their own switches, so that one machine can be measured as
# if it had no more than that level:
#   avx512    nothing capped;
#   avx2      no AVX-512, VAES, VPCLMULQDQ or GFNI;
#   aesni     besides, no AVX, AVX2, FMA, BMI1/2 or ADX (AES-NI, PCLMULQDQ, SSSE3, SSE4 and SHA-NI
#             stay);
#   portable  besides, no AES-NI, PCLMULQDQ, SHA-NI, SSSE3 or SSE4: the x86-64 baseline, which is
#             all QK's portable code uses.
# OpenSSL reads OPENSSL_ia32cap: "~mask0:~mask1" clears bits of the two capability words, word 0
# holding CPUID leaf 1 (EDX, ECX above it) and word 1 leaf 7 (EBX, ECX above it). libgcrypt (and so
# gpg) reads /etc/gcrypt/hwf.deny, one feature name a line; the file is written for the run and the
# one before put back afterwards. Crypto++ has no switch: it always uses what the processor has, so
# its rows at a capped level are marked "_uncapped" and left out of the comparison with the best
# peer.

QK_LEVELS="portable aesni avx2 avx512"

# Bits of OPENSSL_ia32cap word 1: AVX-512 F, DQ, IFMA, PF, ER, CD, BW, VL (EBX) and VBMI, VBMI2,
# GFNI, VAES, VPCLMULQDQ, VNNI, BITALG, VPOPCNTDQ (ECX).
qk_ossl_no_avx512=0x5F42DC230000
# With AVX2, BMI1, BMI2 and ADX (EBX bits 5, 3, 8, 19).
qk_ossl_no_avx2=0x5F42DC2B0128
# With SHA (EBX bit 29).
qk_ossl_no_sha=0x5F42FC2B0128
# Word 0: AVX, FMA, F16C (ECX bits 28, 12, 29).
qk_ossl_no_avx=0x3000100000000000
# With AES-NI, PCLMULQDQ, SSSE3, SSE4.1, SSE4.2 (ECX bits 25, 1, 9, 19, 20).
qk_ossl_baseline=0x3218120200000000

qk_level_valid() { # level
  case " $QK_LEVELS " in *" $1 "*) return 0 ;; *) return 1 ;; esac
}

qk_gcrypt_deny_names() { # level: the libgcrypt feature names to deny
  case "$1" in
    avx512) ;;
    avx2) echo intel-vaes-vpclmul intel-avx512 intel-gfni ;;
    aesni) echo intel-vaes-vpclmul intel-avx512 intel-gfni intel-avx intel-avx2 intel-bmi2 \
      intel-fast-vpgather ;;
    portable) echo intel-vaes-vpclmul intel-avx512 intel-gfni intel-avx intel-avx2 intel-bmi2 \
      intel-fast-vpgather intel-aesni intel-pclmul intel-shaext intel-ssse3 intel-sse4.1 ;;
  esac
}

qk_ossl_cap() { # level: the value of OPENSSL_ia32cap, empty for none
  case "$1" in
    avx512) ;;
    avx2) echo ":~$qk_ossl_no_avx512" ;;
    aesni) echo "~$qk_ossl_no_avx:~$qk_ossl_no_avx2" ;;
    portable) echo "~$qk_ossl_baseline:~$qk_ossl_no_sha" ;;
  esac
}

qk_hwf_deny=/etc/gcrypt/hwf.deny
qk_hwf_saved=""
qk_hwf_written=0
qk_hwf_made_dir=0

# Puts back the hwf.deny file that was there before qk_level_apply.
qk_level_restore() {
  ((qk_hwf_written)) || return 0
  if [ -n "$qk_hwf_saved" ]; then
    cp -p "$qk_hwf_saved" "$qk_hwf_deny" && rm -f "$qk_hwf_saved"
  else
    rm -f "$qk_hwf_deny"
    ((qk_hwf_made_dir)) && rmdir "$(dirname "$qk_hwf_deny")" 2>/dev/null
  fi
  qk_hwf_written=0
  return 0
}

# qk_level_apply LEVEL: exports the caps and sets QK_LEVEL_NOTE (a comment line for the header).
# The caller restores hwf.deny with qk_level_restore (from its EXIT trap).
qk_level_apply() {
  local level=$1
  export QK_CRYPTO_LEVEL=$level
  local ossl
  ossl=$(qk_ossl_cap "$level")
  if [ -n "$ossl" ]; then
    export OPENSSL_ia32cap=$ossl
  else
    # An empty value would clear every bit.
    unset OPENSSL_ia32cap
  fi
  # Only the names this libgcrypt knows: it complains about the others.
  local lib known="" names="" name
  lib=$(ldconfig -p 2>/dev/null | awk '/libgcrypt\.so\.20 .*x86-64/ {p = $NF} END {print p}')
  [ -n "$lib" ] && known=" $(strings -a "$lib" | awk '/^intel-/' | tr '\n' ' ')"
  for name in $(qk_gcrypt_deny_names "$level"); do
    case "$known" in *" $name "*) names+="$name " ;; esac
  done
  local gcrypt_note="none denied"
  if [ -n "$names" ]; then
    if [ ! -d "$(dirname "$qk_hwf_deny")" ]; then
      mkdir -p "$(dirname "$qk_hwf_deny")" 2>/dev/null && qk_hwf_made_dir=1
    fi
    if [ -e "$qk_hwf_deny" ] && [ -z "$qk_hwf_saved" ]; then
      qk_hwf_saved=$(mktemp "${TMPDIR:-/tmp}/qk-hwf.XXXXXX")
      cp -p "$qk_hwf_deny" "$qk_hwf_saved"
    fi
    # shellcheck disable=SC2086 # one name a line
    if printf '%s\n' $names >"$qk_hwf_deny" 2>/dev/null; then
      qk_hwf_written=1
      gcrypt_note="$qk_hwf_deny: ${names% }"
    else
      gcrypt_note="NOT CAPPED ($qk_hwf_deny not writable)"
    fi
  fi
  QK_LEVEL_NOTE="# level $level: QK_CRYPTO_LEVEL=$level; OPENSSL_ia32cap=${ossl:-(unset)};"
  QK_LEVEL_NOTE+=" libgcrypt/gpg $gcrypt_note; Crypto++ has no switch (uncapped)"
}

# Reads the script's options into $level ("" without --level); any other option, or a level that is
# not one of $QK_LEVELS, prints the usage of the calling script and exits with 2.
qk_parse_level_args() { # script-name args...
  local script=$1
  shift
  level=""
  while (($#)); do
    case "$1" in
      --level)
        if (($# >= 2)) && qk_level_valid "$2"; then
          level=$2
          shift 2
          continue
        fi
        (($# >= 2)) && echo "$script: unknown level '$2'" >&2
        ;;
    esac
    echo "usage: bench/$script [--level ${QK_LEVELS// /|}]" >&2
    exit 2
  done
}

# Caps everything to the level given, or without one clears whatever a caller had set (it would cap
# some libraries and not others); $note is the header line that says which.
qk_level_begin() { # level or ""
  note="# level: the processor's; nothing capped"
  if [ -n "$1" ]; then
    qk_level_apply "$1"
    note=$QK_LEVEL_NOTE
  else
    unset QK_CRYPTO_LEVEL OPENSSL_ia32cap
  fi
}
