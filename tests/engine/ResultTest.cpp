// The one table of outcomes: every outcome has its text and its key, and the texts keep the rule
// the list and scripts rely on.
#include "engine/Result.h"
#include "support/TestSupport.h"

#include <cerrno>
#include <climits>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <unistd.h>
#include <vector>

namespace qk::test {
namespace {

using engine::Outcome;

constexpr Outcome kLast = Outcome::VerifiedNoTamperCode;

std::vector<Outcome> AllOutcomes() {
  std::vector<Outcome> all;
  for (int i = 0; i <= static_cast<int>(kLast); ++i) all.push_back(static_cast<Outcome>(i));
  return all;
}

TEST(ResultTable, FailureTextsBeginWithTheFullWidthAsteriskAndSuccessTextsNever) {
  for (const Outcome o : AllOutcomes()) {
    const std::string text(engine::ResultText(o));
    ASSERT_FALSE(text.empty()) << static_cast<int>(o);
    EXPECT_EQ(text.rfind("＊", 0) == 0, !engine::Succeeded(o)) << text;
  }
}

TEST(ResultTable, KeysAreStableLowerCaseWordsAndNameOneOutcomeOrOneTextEach) {
  // Outcomes may share a key only when they share what a script needs to know: the same cause,
  // told apart by the command that was run.
  std::map<std::string, std::set<std::string>> textsOfKey;
  for (const Outcome o : AllOutcomes()) {
    const std::string key(engine::ResultKey(o));
    ASSERT_FALSE(key.empty());
    for (char c : key) EXPECT_TRUE((c >= 'a' && c <= 'z') || c == '-') << key;
    textsOfKey[key].insert(std::string(engine::ResultText(o)));
  }
  for (const auto& [key, texts] : textsOfKey) {
    if (texts.size() > 1) {
      EXPECT_TRUE(key == "read-only" || key == "name-too-long") << key;
    }
  }
  EXPECT_EQ(engine::ResultKey(Outcome::Encrypted), "encrypted");
  EXPECT_EQ(engine::ResultKey(Outcome::Decrypted), "decrypted");
  EXPECT_EQ(engine::ResultKey(Outcome::WrongPassword), "wrong-password");
  EXPECT_EQ(engine::ResultKey(Outcome::TamperMismatch), "tamper-mismatch");
  EXPECT_EQ(engine::ResultKey(Outcome::NoTamperCode), "no-tamper-code");
  EXPECT_EQ(engine::ResultKey(Outcome::OldFormat), "old-format");
  EXPECT_EQ(engine::ResultKey(Outcome::InvalidFormat), "invalid-format");
  EXPECT_EQ(engine::ResultKey(Outcome::InvalidFile), "invalid-file");
  EXPECT_EQ(engine::ResultKey(Outcome::DecryptFailed), "decrypt-failed");
  EXPECT_EQ(engine::ResultKey(Outcome::EncryptFailed), "encrypt-failed");
  EXPECT_EQ(engine::ResultKey(Outcome::Wiped), "wiped");
  EXPECT_EQ(engine::ResultKey(Outcome::WipeFailed), "wipe-failed");
}

TEST(ResultTable, TextsOfTheRun) {
  EXPECT_EQ(engine::ResultText(Outcome::Encrypted), "暗号化成功：");
  EXPECT_EQ(engine::ResultText(Outcome::SourceChanged), "＊暗号化失敗＊：");
  EXPECT_EQ(engine::ResultText(Outcome::Decrypted), "復号成功(改ざん検知照合OK) : ");
  EXPECT_EQ(engine::ResultText(Outcome::DecryptedNoTamperCode), "復号成功(改ざん検知情報無し) : ");
  EXPECT_EQ(engine::ResultText(Outcome::NoTamperCode),
            "＊改ざん検知情報がないため処理できません。処理したい場合はオプション画面で「改ざん検知"
            "情報が無いファイルは復号しない」をオフにして下さい。：");
  EXPECT_EQ(engine::ResultText(Outcome::TamperMismatch),
            "＊復号できません。データが破損または変更されているか、パスワードが違います。（HMAC値"
            "不一致）：");
  // A failed source wipe follows the operation's own text and makes the entry a failure.
  engine::FileResult r{Outcome::Encrypted, "/a", "/a.enc", 0, engine::SourceWipe::Failed};
  EXPECT_EQ(engine::ResultText(r),
            "暗号化成功：＊抹消不可(ファイルが無効or読み取り専用orロックされている可能性があります"
            "。) : ");
  EXPECT_TRUE(engine::Failed(r));
  r.sourceWipe = engine::SourceWipe::Wiped;
  EXPECT_FALSE(engine::Failed(r));
  EXPECT_EQ(engine::SourceWipeKey(r.sourceWipe), "wiped");
}

// Each common error has words of its own, shared only by errors of the same cause; any other
// number is told as a number, and no error as nothing.
TEST(FailureReasons, EveryCommonErrorHasAReasonOfItsOwn) {
  const std::vector<std::vector<int>> causes = {
      {ENOSPC, EDQUOT}, {ENOENT}, {ENAMETOOLONG}, {EACCES, EPERM}, {EROFS}, {EWOULDBLOCK, EBUSY},
      {ESTALE},         {ELOOP},  {EIO},          {EISDIR},        {EEXIST}};
  const std::string unknown = engine::ErrorReason(9999);
  ASSERT_NE(unknown.find("9999"), std::string::npos) << unknown;
  std::set<std::string> reasons;
  for (const std::vector<int>& cause : causes) {
    const std::string reason = engine::ErrorReason(cause.front());
    std::string fallback = unknown;
    fallback.replace(unknown.find("9999"), 4, std::to_string(cause.front()));
    EXPECT_TRUE(!reason.empty() && reason != fallback) << cause.front();
    EXPECT_TRUE(reasons.insert(reason).second) << reason;
    for (const int error : cause) EXPECT_EQ(engine::ErrorReason(error), reason) << error;
  }
  EXPECT_EQ(engine::ErrorReason(0), "");
  // The limit a name too long is told with is the system's.
  EXPECT_NE(engine::ErrorReason(ENAMETOOLONG).find(std::to_string(NAME_MAX)), std::string::npos);
}

TEST(FailureReasons, TheResultTellsWhatItsTextCannot) {
  const std::string here = std::string(::testing::TempDir());
  engine::FileResult r{Outcome::Encrypted, here + "a", here + "a.enc", 0, {}};
  EXPECT_EQ(engine::FailureReason(r), ""); // a success needs none
  r = {Outcome::EncryptFailed, here + "a", {}, ENOSPC, {}};
  EXPECT_EQ(engine::FailureReason(r), "空き容量が不足しています");
  // Refused in a folder that takes files: the file's own access.
  r = {Outcome::EncryptFailed, here + "a", {}, EACCES, {}};
  EXPECT_EQ(engine::FailureReason(r), "アクセスが拒否されました");
  r = {Outcome::SourceChanged, here + "a", {}, 0, {}};
  EXPECT_EQ(engine::FailureReason(r), "読み込み中にファイルの大きさが変わりました");
  // Texts that say everything themselves get nothing more.
  r = {Outcome::WrongPassword, here + "a.enc", {}, 0, {}};
  EXPECT_EQ(engine::FailureReason(r), "");
  r = {Outcome::EncryptReadOnly, here + "a", {}, 0, {}};
  EXPECT_EQ(engine::FailureReason(r), "");
  // A failed source wipe after a success is a failure whose text says so.
  r = {Outcome::Decrypted, here + "a.enc", here + "a", 0, engine::SourceWipe::Failed};
  EXPECT_EQ(engine::FailureReason(r), "");
  // Another user's file that cannot be written is refused for being theirs, not for its folder.
  const TempDir folder;
  const std::string theirs = folder / "theirs";
  WriteAll(theirs, "x");
  r = {Outcome::Encrypted, theirs, theirs + ".enc", EACCES, engine::SourceWipe::Failed};
  if (geteuid() == 0 && chown(theirs.c_str(), 65534, 65534) == 0) {
    EXPECT_EQ(engine::FailureReason(r), "ほかのユーザーのファイルです");
  }
}

} // namespace
} // namespace qk::test
