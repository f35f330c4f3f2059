// The processor level: its names, the cap that QK_CRYPTO_LEVEL puts on it, and the cap in force
// in this process (the test runs again with each value of the variable; see tests/CMakeLists.txt).
#include "crypto/Accel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace qk::crypto {
namespace {

TEST(CpuLevel, NamesReadBackAndNothingElseIsALevel) {
  for (const CpuLevel level : kCpuLevels) EXPECT_EQ(ParseCpuLevel(CpuLevelName(level)), level);
  for (const char* bad : {"", "AVX2", "avx2 ", " avx2", "avx", "avx5120", "sse2", "0", "3", "-1",
                          "portable\n", "aes-ni"}) {
    EXPECT_FALSE(ParseCpuLevel(bad).has_value()) << '"' << bad << '"';
  }
}

TEST(CpuLevel, TheEnvironmentCapsButNeverRaises) {
  for (const CpuLevel processor : kCpuLevels) {
    for (const CpuLevel cap : kCpuLevels) {
      std::string complaint;
      EXPECT_EQ(CappedCpuLevel(processor, CpuLevelName(cap), &complaint), std::min(processor, cap));
      EXPECT_TRUE(complaint.empty());
    }
  }
}

TEST(CpuLevel, AbsentOrEmptyValueKeepsTheProcessorsLevelQuietly) {
  std::string complaint;
  EXPECT_EQ(CappedCpuLevel(CpuLevel::Avx2, nullptr, &complaint), CpuLevel::Avx2);
  EXPECT_EQ(CappedCpuLevel(CpuLevel::Avx2, "", &complaint), CpuLevel::Avx2);
  EXPECT_TRUE(complaint.empty());
}

TEST(CpuLevel, AnInvalidValueIsIgnoredWithOneLineSayingSo) {
  for (const char* bad : {"AVX2", "fast", "1", "portable "}) {
    std::string complaint;
    EXPECT_EQ(CappedCpuLevel(CpuLevel::Avx512, bad, &complaint), CpuLevel::Avx512) << bad;
    EXPECT_EQ(complaint,
              std::string("QK_CRYPTO_LEVEL=") + bad +
                  " is not one of portable, aesni, avx2, avx512; ignored (level avx512)");
  }
  // A long value is quoted whole and does no harm.
  const std::string huge(100000, 'x');
  std::string complaint;
  EXPECT_EQ(CappedCpuLevel(CpuLevel::AesNi, huge.c_str(), &complaint), CpuLevel::AesNi);
  EXPECT_NE(complaint.find(huge), std::string::npos);
}

TEST(CpuLevel, TestCapNeverRaisesAndResetsToTheCeiling) {
  const CpuLevel start = ActiveCpuLevel();
  EXPECT_EQ(start, CpuLevelCeiling());
  EXPECT_LE(CpuLevelCeiling(), ProcessorCpuLevel());
  SetCpuLevelCap(CpuLevel::Avx512);
  EXPECT_EQ(ActiveCpuLevel(), CpuLevelCeiling());
  SetCpuLevelCap(CpuLevel::Portable);
  EXPECT_EQ(ActiveCpuLevel(), CpuLevel::Portable);
  EXPECT_FALSE(accel::AesNi());
  EXPECT_FALSE(accel::ShaNi());
  EXPECT_FALSE(accel::Avx2());
  EXPECT_FALSE(accel::Avx512());
  ResetCpuLevelCap();
  EXPECT_EQ(ActiveCpuLevel(), start);
}

// Run by ctest once per value of QK_CRYPTO_LEVEL: the level in force is the processor's capped by
// the value, and an invalid value leaves the processor's level.
TEST(CpuLevelEnvironment, TheVariableCapsThisProcess) {
  const char* value = std::getenv("QK_CRYPTO_LEVEL");
  const auto named = value != nullptr ? ParseCpuLevel(value) : std::nullopt;
  const CpuLevel expected = named ? std::min(*named, ProcessorCpuLevel()) : ProcessorCpuLevel();
  EXPECT_EQ(ActiveCpuLevel(), expected) << (value != nullptr ? value : "(unset)");
  EXPECT_EQ(CpuLevelCeiling(), expected);
  EXPECT_EQ(accel::AesNi(), expected >= CpuLevel::AesNi);
  EXPECT_EQ(accel::Avx2(), expected >= CpuLevel::Avx2);
  EXPECT_EQ(accel::Avx512(), expected >= CpuLevel::Avx512);
  if (expected == CpuLevel::Portable) {
    EXPECT_FALSE(accel::ShaNi());
  }
}

} // namespace
} // namespace qk::crypto
