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
}

TEST(PasswordRules, FullWidthCharactersCountTwo) {
  EXPECT_EQ(CheckPassword(Repeat("パ", 10), std::nullopt, false, 4), std::nullopt);
  EXPECT_EQ(CheckPassword(Repeat("パ", 9), std::nullopt, false, 4),
            engine::SecurityLevelMessage(4));
  EXPECT_EQ(CheckPassword(Repeat("パ", 5), std::nullopt, false, 3), std::nullopt);
}

TEST(PasswordRules, LevelMessagesAreExact) {
  EXPECT_EQ(
      engine::SecurityLevelMessage(3),
      "セキュリティレベルが３に設定されており、このレベルでは１０文字以上のパスワードを入力する"
      "必要があります。「オプション」でセキュリティレベルを変更するか、パスワードを長くしてくだ"
      "さい。");
}

} // namespace
} // namespace qk::test
