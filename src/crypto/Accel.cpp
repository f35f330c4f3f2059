#include "crypto/Accel.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace qk::crypto {

namespace {

struct Features {
  bool aes = false;
  bool vaes512 = false;
  bool sha = false;
  bool vbmi512 = false;
  bool bmi = false;
};

Features Detect() {
  Features f;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  f.aes = __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
  f.bmi = __builtin_cpu_supports("bmi");
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) {
    f.sha = (ebx & (1u << 29)) != 0 && __builtin_cpu_supports("sse4.1");
    // VAES is reported in ECX bit 9.
    const bool avx512 = __builtin_cpu_supports("avx512f") && (ebx & (1u << 30)) != 0; // BW
    f.vaes512 = f.aes && avx512 && (ecx & (1u << 9)) != 0;
    // VBMI in ECX bit 1, GFNI in ECX bit 8.
    f.vbmi512 = avx512 && (ecx & (1u << 1)) != 0 && (ecx & (1u << 8)) != 0;
  }
#endif
  return f;
}

// Function-local, so that primitives used by other static initialisers see them set up.
const Features& Detected() {
  static const Features features = Detect();
  return features;
}

std::atomic<bool>& Portable() {
  static std::atomic<bool> portable{[] {
    const char* value = std::getenv("QK_CRYPTO_PORTABLE");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }()};
  return portable;
}

std::atomic<bool> gWide{true};

bool Enabled(bool Features::*feature) {
  return Detected().*feature && !Portable().load(std::memory_order_relaxed);
}

} // namespace

void ForcePortable(bool portable) {
  Portable().store(portable, std::memory_order_relaxed);
}

namespace accel {

void AllowWide(bool allow) {
  gWide.store(allow, std::memory_order_relaxed);
}

bool AesNi() {
  return Enabled(&Features::aes);
}
bool Vaes512() {
  return Enabled(&Features::vaes512) && gWide.load(std::memory_order_relaxed);
}
bool ShaNi() {
  return Enabled(&Features::sha);
}
bool Vbmi512() {
  return Enabled(&Features::vbmi512) && gWide.load(std::memory_order_relaxed);
}
bool Bmi() {
  return Enabled(&Features::bmi);
}

} // namespace accel
} // namespace qk::crypto
