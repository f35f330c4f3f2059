// qk-cli verify: everything a decryption checks, proved without writing anything anywhere.
#include "cli/RunQk.h"
#include "support/KnownAnswers.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace qk::test {
namespace {

using Json = nlohmann::json;

const std::string kOk = "検証成功(改ざん検知照合OK) : ";
const std::string kAllDone = "全てのファイル/フォルダを正常に処理しました。\n";

// Every entry of a folder with its size and modification time, hidden ones included.
std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> Snapshot(const std::string& dir) {
  std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> entries;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    struct stat st {};
    lstat(e.path().c_str(), &st);
    entries[e.path().filename().string()] = {
        static_cast<std::uintmax_t>(st.st_size),
        static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
  }
  return entries;
}

class VerifyTest : public ::testing::Test {
protected:
  // A container of name holding bytes, its source removed.
  std::string Container(const std::string& name, const std::string& bytes, bool code,
                        const std::string& algorithm = "twofish") {
    const std::string source = dir / name;
    WriteAll(source, bytes);
    const auto enc = RunQk({"encrypt", "--password", "secret1", "--algorithm", algorithm,
                            code ? "--tamper-code" : "--no-tamper-code", source});
    EXPECT_EQ(enc.status, 0) << enc.err;
    unlink(source.c_str());
    return source + ".enc";
  }
  // Runs verify and checks that the folder is exactly as it was, times included.
  Outcome Verify(const std::vector<std::string>& args) {
    const auto before = Snapshot(dir.path());
    std::vector<std::string> all{"verify"};
    all.insert(all.end(), args.begin(), args.end());
    Outcome o = RunQk(all);
    EXPECT_EQ(Snapshot(dir.path()), before);
    return o;
  }
  TempDir dir;
};

TEST_F(VerifyTest, SoundContainersOfEveryCipherPass) {
  for (const std::string algorithm : {"twofish", "rijndael", "gost"}) {
    const std::string withCode =
        Container("a-" + algorithm + ".txt", RandomBytes(20000, 1), true, algorithm);
    const std::string without =
        Container("b-" + algorithm + ".txt", RandomBytes(33, 2), false, algorithm);
    const auto o = Verify({"--password", "secret1", withCode, without});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, kOk + withCode + "\n" +
                         "検証成功(改ざん検知情報無し・パスワードと構造のみ確認) : " + without +
                         "\n" + kAllDone);
  }
}

TEST_F(VerifyTest, DamagedContainersFailAndNothingIsWritten) {
  const std::string plain = RandomBytes(5000, 3);
  const std::string sound = Container("a.txt", plain, true);
  const std::string bytes = ReadAll(sound);
  const std::string noCode = ReadAll(Container("n.txt", plain, false));

  std::string flipped = bytes;
  flipped[3000] = static_cast<char>(flipped[3000] ^ 1);
  WriteAll(dir / "flipped.enc", flipped);
  WriteAll(dir / "truncated.enc", bytes.substr(0, bytes.size() - 16));
  WriteAll(dir / "extended.enc", bytes + std::string(16, '\0'));
  WriteAll(dir / "truncated-no-code.enc", noCode.substr(0, noCode.size() - 16));
  WriteAll(dir / "header-only.enc", bytes.substr(0, 60));

  const auto wrong = Verify({"--password", "wrong", sound});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(wrong.out, "＊パスワードが違います：" + sound + "\n終了しました。　失敗数 : 1個\n");

  const std::string mismatch = "＊復号できません。データが破損または変更されているか、パスワードが"
                               "違います。（HMAC値不一致）：";
  for (const std::string name : {"flipped.enc", "truncated.enc", "extended.enc"}) {
    const auto o = Verify({"--password", "secret1", dir / name});
    EXPECT_EQ(o.status, 1) << name;
    EXPECT_EQ(o.out, mismatch + dir / name + "\n終了しました。　失敗数 : 1個\n");
  }
  for (const std::string name : {"truncated-no-code.enc", "header-only.enc"}) {
    const auto o = Verify({"--json", "--password", "secret1", dir / name});
    EXPECT_EQ(o.status, 1) << name;
    const Json line = Json::parse(o.out.substr(0, o.out.find('\n')));
    EXPECT_NE(line["outcome"], "verified") << name;
    EXPECT_NE(line["outcome"], "verified-without-tamper-code") << name;
  }

  // One bad container among sound ones fails the run; each gets its line.
  const auto mixed = Verify({"--password", "secret1", sound, dir / "flipped.enc", sound});
  EXPECT_EQ(mixed.status, 1);
  EXPECT_EQ(mixed.out, kOk + sound + "\n" + mismatch + dir / "flipped.enc\n" + kOk + sound +
                           "\n終了しました。　失敗数 : 1個\n");
}

TEST_F(VerifyTest, JsonGivesOutcomesAndCounts) {
  const std::string sound = Container("a.txt", "abc", true);
  const std::string noCode = Container("b.txt", "abc", false);
  const auto o = Verify({"--json", "--password", "secret1", sound, noCode, dir / "missing.enc"});
  EXPECT_EQ(o.status, 1);
  std::istringstream in(o.out);
  std::vector<Json> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(Json::parse(line));
  ASSERT_EQ(lines.size(), 4u) << o.out;
  EXPECT_EQ(lines[0], (Json{{"path", sound}, {"outcome", "verified"}, {"text", kOk}}));
  EXPECT_EQ(lines[1]["outcome"], "verified-without-tamper-code");
  EXPECT_EQ(lines[1]["path"], noCode);
  EXPECT_EQ(lines[2]["path"], dir / "missing.enc");
  // A folder is said to be one.
  std::filesystem::create_directory(dir / "folder");
  const auto folder = Verify({"--password", "secret1", dir / "folder"});
  EXPECT_EQ(folder.status, 1);
  EXPECT_EQ(folder.err, "qk-cli: " + dir / "folder" + ": フォルダです\n");
  EXPECT_EQ(lines[3], (Json{{"files", 3},
                            {"succeeded", 2},
                            {"failed", 1},
                            {"text", "終了しました。　失敗数 : 1個"}}));
}

// The known-answer containers of an independent writer: verify reaches the outcome their
// decryption is known to have, and writes nothing beside them.
TEST_F(VerifyTest, KnownAnswerContainersGiveTheirDecryptionsOutcomes) {
  int checked = 0;
  for (const KnownAnswer& k : AllKnownAnswers()) {
    std::string expected = k.Field("outcome");
    if (expected == "decrypted") expected = "verified";
    if (expected == "decrypted-without-tamper-code") expected = "verified-without-tamper-code";
    const std::string copy = dir / std::filesystem::path(k.container).filename().string();
    WriteAll(copy, ReadAll(k.container));
    const auto o = Verify({"--json", "--password", k.Field("password"), copy});
    const Json line = Json::parse(o.out.substr(0, o.out.find('\n')), nullptr, false);
    EXPECT_EQ(line.value("outcome", ""), expected) << k.container;
    EXPECT_EQ(o.status, expected.rfind("verified", 0) == 0 ? 0 : 1) << k.container;
    unlink(copy.c_str());
    ++checked;
  }
  EXPECT_GE(checked, 50);
}

TEST_F(VerifyTest, UsageErrorsExitWithTwo) {
  const std::string sound = Container("a.txt", "abc", true);
  WriteAll(dir / "pw", "secret1\n");
  EXPECT_EQ(Verify({"--password", "secret1"}).status, 2); // no container
  EXPECT_EQ(Verify({sound}).status, 2);                   // no password
  EXPECT_EQ(Verify({"--password", "a", "--password-file", dir / "pw", sound}).status, 2);
  EXPECT_EQ(Verify({"--password", "secret1", "--wipe-source", sound}).status, 2);
  EXPECT_EQ(Verify({"--password", "secret1", "-o", dir / "out", sound}).status, 2);
  EXPECT_EQ(Verify({"--password-file", dir / "pw", sound}).status, 0);
  EXPECT_EQ(Verify({"--password-file", "-", sound}).status, 1); // an empty password: wrong
}

} // namespace
} // namespace qk::test
