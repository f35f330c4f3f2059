#include "crypto/Accel.h"

#include "platform/VisibleText.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace qk::crypto {

namespace {

struct Processor {
  CpuLevel level = CpuLevel::Portable;
  bool sha = false;
};

Processor Detect() {
  Processor p;
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  // __builtin_cpu_supports counts the vector extensions only where the system saves their
  // registers.
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) ebx = ecx = 0;
  const bool sha = (ebx & (1u << 29)) != 0;
  const bool vaes = (ecx & (1u << 9)) != 0;
  const bool gfni = (ecx & (1u << 8)) != 0;
  const bool vbmi = (ecx & (1u << 1)) != 0;

  if (!__builtin_cpu_supports("aes") || !__builtin_cpu_supports("ssse3") ||
      !__builtin_cpu_supports("sse4.1"))
    return p;
  p.level = CpuLevel::AesNi;
  p.sha = sha;
  if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("bmi") ||
      !__builtin_cpu_supports("bmi2"))
    return p;
  p.level = CpuLevel::Avx2;
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") || !vaes || !gfni ||
      !vbmi)
    return p;
  p.level = CpuLevel::Avx512;
#endif
  return p;
}

// Function-local, so that primitives used by other static initialisers see them set up.
const Processor& Detected() {
  static const Processor processor = Detect();
  return processor;
}

CpuLevel EnvironmentCap() {
  static const CpuLevel cap = [] {
    std::string complaint;
    const CpuLevel level =
        CappedCpuLevel(Detected().level, std::getenv("QK_CRYPTO_LEVEL"), &complaint);
    if (!complaint.empty()) std::fprintf(stderr, "%s\n", platform::VisibleText(complaint).c_str());
    return level;
  }();
  return cap;
}

std::atomic<int>& Active() {
  static std::atomic<int> active{static_cast<int>(EnvironmentCap())};
  return active;
}

bool AtLeast(CpuLevel level) {
  return Active().load(std::memory_order_relaxed) >= static_cast<int>(level);
}

} // namespace

const char* CpuLevelName(CpuLevel level) {
  switch (level) {
  case CpuLevel::Portable:
    return "portable";
  case CpuLevel::AesNi:
    return "aesni";
  case CpuLevel::Avx2:
    return "avx2";
  case CpuLevel::Avx512:
    return "avx512";
  }
  return "portable";
}

std::optional<CpuLevel> ParseCpuLevel(std::string_view name) {
  for (const CpuLevel level : kCpuLevels) {
    if (name == CpuLevelName(level)) return level;
  }
  return std::nullopt;
}

CpuLevel CappedCpuLevel(CpuLevel processor, const char* value, std::string* complaint) {
  if (value == nullptr || *value == '\0') return processor;
  const auto cap = ParseCpuLevel(value);
  if (!cap) {
    if (complaint != nullptr) {
      *complaint = std::string("QK_CRYPTO_LEVEL=") + value +
                   " is not one of portable, aesni, avx2, avx512; ignored (level " +
                   CpuLevelName(processor) + ")";
    }
    return processor;
  }
  return *cap < processor ? *cap : processor;
}

CpuLevel ProcessorCpuLevel() {
  return Detected().level;
}

CpuLevel ActiveCpuLevel() {
  return static_cast<CpuLevel>(Active().load(std::memory_order_relaxed));
}

CpuLevel CpuLevelCeiling() {
  return EnvironmentCap();
}

void SetCpuLevelCap(CpuLevel cap) {
  const CpuLevel level = cap < EnvironmentCap() ? cap : EnvironmentCap();
  Active().store(static_cast<int>(level), std::memory_order_relaxed);
}

void ResetCpuLevelCap() {
  Active().store(static_cast<int>(EnvironmentCap()), std::memory_order_relaxed);
}

namespace accel {

bool AesNi() {
  return AtLeast(CpuLevel::AesNi);
}
bool ShaNi() {
  return AtLeast(CpuLevel::AesNi) && Detected().sha;
}
bool Avx2() {
  return AtLeast(CpuLevel::Avx2);
}
bool Avx512() {
  return AtLeast(CpuLevel::Avx512);
}

} // namespace accel
} // namespace qk::crypto
