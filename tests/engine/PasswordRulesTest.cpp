// The password checks in their order, with lengths counted in system-code-page bytes.
#include "engine/PasswordRules.h"

#include <gtest/gtest.h>

namespace qk::test {
namespace {

using engine::CheckPassword;

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

TEST(PasswordRules, ChecksRunInOrder) {
  EXPECT_EQ(CheckPassword("", std::string(""), false, 2), engine::kPasswordEmpty);
  EXPECT_EQ(CheckPassword("abc", std::string("abd"), false, 2), engine::kPasswordMismatch);
  EXPECT_EQ(CheckPassword("abcde", std::nullopt, false, 2), engine::SecurityLevelMessage(2));
  EXPECT_EQ(CheckPassword("abcdef", std::nullopt, false, 2), std::nullopt);
  EXPECT_EQ(CheckPassword("a", std::nullopt, true, 4), std::nullopt);
  EXPECT_EQ(CheckPassword("a", std::nullopt, false, 1), std::nullopt);
  EXPECT_EQ(CheckPassword("a", std::nullopt, false, 9), std::nullopt);
  // A hint may not hold the password of an encryption: it is stored readable.
  EXPECT_EQ(CheckPassword("abcdef", std::nullopt, false, 2, "abcdef"), engine::kHintHoldsPassword);
  EXPECT_EQ(CheckPassword("abcdef", std::nullopt, false, 2, "pw: abcdef!"),
            engine::kHintHoldsPassword);
  EXPECT_EQ(CheckPassword("abcde", std::nullopt, false, 2, "abcde"),
            engine::SecurityLevelMessage(2));
  EXPECT_EQ(CheckPassword("abcdef", std::nullopt, false, 2, "ABCDEF abcde"), std::nullopt);
  EXPECT_EQ(CheckPassword("abcdef", std::nullopt, true, 2, "abcdef"), std::nullopt);
}

TEST(PasswordRules, FullWidthCharactersCountTwo) {
  EXPECT_EQ(CheckPassword(Repeat("パ", 10), std::nullopt, false, 4), std::nullopt);
  EXPECT_EQ(CheckPassword(Repeat("パ", 9), std::nullopt, false, 4),
            engine::SecurityLevelMessage(4));
  EXPECT_EQ(CheckPassword(Repeat("パ", 5), std::nullopt, false, 3), std::nullopt);
}

// The refusal names the level and the count of characters that level asks for, and that count is
// the bound the check keeps: a byte fewer is refused, that many pass.
TEST(PasswordRules, RefusalNamesTheBoundItKeeps) {
  const auto fullWidth = [](std::size_t n) {
    static const char* const kDigits[] = {"０", "１", "２", "３", "４",
                                          "５", "６", "７", "８", "９"};
    std::string out;
    for (const char c : std::to_string(n)) out += kDigits[c - '0'];
    return out;
  };
  for (const int level : {2, 3, 4}) {
    const std::size_t bound = engine::MinimumPasswordBytes(level);
    const std::string refusal = engine::SecurityLevelMessage(level);
    EXPECT_EQ(refusal, "セキュリティレベルが" + fullWidth(level) +
                           "に設定されており、このレベルでは" + fullWidth(bound) +
                           "文字以上のパスワードを入力する必要があります。「オプション」"
                           "でセキュリティレベルを変更するか、パスワードを長くしてください。");
    EXPECT_EQ(CheckPassword(std::string(bound - 1, 'a'), std::nullopt, false, level), refusal);
    EXPECT_EQ(CheckPassword(std::string(bound, 'a'), std::nullopt, false, level), std::nullopt);
  }
}

} // namespace
} // namespace qk::test
