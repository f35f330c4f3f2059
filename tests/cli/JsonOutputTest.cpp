// qk-cli --json: one object per processed file and one closing object with the counts, for
// scripts that never parse Japanese; and `hint` over several files.
#include "cli/RunQk.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cryptopp/base64.h>
#include <cryptopp/filters.h>

#include <set>
#include <sstream>
#include <unistd.h>

namespace qk::test {
namespace {

using Json = nlohmann::json;

const std::string kAllDone = "全てのファイル/フォルダを正常に処理しました。";

// Every line of the output parsed; a line that is not one JSON object fails the test.
std::vector<Json> Lines(const std::string& out) {
  std::vector<Json> lines;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    Json object = Json::parse(line, nullptr, false);
    EXPECT_TRUE(object.is_object()) << line;
    lines.push_back(object);
  }
  EXPECT_FALSE(out.empty());
  EXPECT_EQ(out.back(), '\n');
  return lines;
}

Json Closing(int files, int failed, const std::string& text) {
  Json closing = {{"files", files}, {"succeeded", files - failed}, {"failed", failed}};
  if (!text.empty()) closing["text"] = text;
  return closing;
}

class JsonOutputTest : public ::testing::Test {
protected:
  std::string Plain(const std::string& name, const std::string& bytes) {
    WriteAll(dir / name, bytes);
    return dir / name;
  }
  TempDir dir;
};

TEST_F(JsonOutputTest, EncryptDecryptAndWipeGiveOneObjectPerFile) {
  const std::string a = Plain("a.txt", "alpha");
  const std::string b = Plain("b.txt", "beta");
  const auto enc = RunQk({"encrypt", "--json", "--password", "secret1", a, b});
  ASSERT_EQ(enc.status, 0) << enc.err;
  auto lines = Lines(enc.out);
  ASSERT_EQ(lines.size(), 3u) << enc.out;
  EXPECT_EQ(lines[0], (Json{{"path", a},
                            {"outcome", "encrypted"},
                            {"output", a + ".enc"},
                            {"text", "暗号化成功："}}));
  EXPECT_EQ(lines[1]["output"], b + ".enc");
  EXPECT_EQ(lines[2], Closing(2, 0, kAllDone));

  unlink(a.c_str());
  WriteAll(dir / "junk.enc", "not a container, but long enough to be read as one");
  const auto dec = RunQk(
      {"decrypt", "--json", "--password", "secret1", a + ".enc", dir / "junk.enc", b + ".enc"});
  EXPECT_EQ(dec.status, 1);
  lines = Lines(dec.out);
  ASSERT_EQ(lines.size(), 4u) << dec.out;
  EXPECT_EQ(lines[0], (Json{{"path", a + ".enc"},
                            {"outcome", "decrypted"},
                            {"output", a},
                            {"text", "復号成功(改ざん検知照合OK) : "}}));
  EXPECT_EQ(lines[1], (Json{{"path", dir / "junk.enc"},
                            {"outcome", "invalid-format"},
                            {"text", "＊不正なファイル形式です："}}));
  EXPECT_EQ(lines[2]["outcome"], "decrypted");
  EXPECT_EQ(lines[2]["output"], dir / "b.txt_RENAMED.txt"); // b.txt is still there
  EXPECT_EQ(lines[3], Closing(3, 1, "終了しました。　失敗数 : 1個"));
  EXPECT_EQ(ReadAll(a), "alpha");

  const auto wrong = RunQk({"decrypt", "--json", "--password", "wrong", a + ".enc"});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_EQ(Lines(wrong.out)[0], (Json{{"path", a + ".enc"},
                                       {"outcome", "wrong-password"},
                                       {"text", "＊パスワードが違います："}}));

  const auto wipe = RunQk({"wipe", "--json", a, b});
  EXPECT_EQ(wipe.status, 0) << wipe.err;
  lines = Lines(wipe.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], (Json{{"path", a}, {"outcome", "wiped"}, {"text", "抹消成功 : "}}));
  EXPECT_EQ(lines[2], Closing(2, 0, kAllDone));
  EXPECT_FALSE(Exists(a));
}

TEST_F(JsonOutputTest, MissingPathsAreCounted) {
  const std::string a = Plain("a.txt", "alpha");
  const auto o = RunQk({"wipe", "--json", a, dir / "missing", dir / "gone"});
  EXPECT_EQ(o.status, 1);
  const auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 2u) << o.out;
  EXPECT_EQ(lines[0]["outcome"], "wiped");
  EXPECT_EQ(lines[1]["not-found"], 2);
  EXPECT_EQ(lines[1]["failed"], 0);
}

TEST_F(JsonOutputTest, SourceWipeIsReported) {
  const std::string a = Plain("a.txt", "alpha");
  const auto enc = RunQk({"encrypt", "--json", "--wipe-source", "--password", "secret1", a});
  ASSERT_EQ(enc.status, 0) << enc.err;
  const auto lines = Lines(enc.out);
  EXPECT_EQ(lines[0]["outcome"], "encrypted");
  EXPECT_EQ(lines[0]["source-wipe"], "wiped");
  EXPECT_FALSE(Exists(a));
}

// Names and hints read from containers: escaped as JSON escapes them, exact once parsed.
TEST_F(JsonOutputTest, ControlCharactersAreEscapedAndComeBackExactly) {
  const std::string name = "x\n{\"outcome\":\"decrypted\"}\x1b[2J.txt";
  const std::string source = Plain(name, "data");
  const std::string hint = "line\nbreak\x07";
  ASSERT_EQ(RunQk({"encrypt", "--password", "secret1", "--hint", hint, source}).status, 0);
  unlink(source.c_str());
  const auto dec = RunQk({"decrypt", "--json", "--password", "secret1", source + ".enc"});
  ASSERT_EQ(dec.status, 0) << dec.err;
  EXPECT_EQ(dec.out.find('\x1b'), std::string::npos);
  const auto lines = Lines(dec.out);
  ASSERT_EQ(lines.size(), 2u);
  // Written with its control characters as "_" (and "_RENAMED" after it).
  EXPECT_EQ(lines[0]["output"], dir / "x_{\"outcome\":\"decrypted\"}_[2J.txt_RENAMED");
  EXPECT_NE(dec.out.find("\\u001b[2J"), std::string::npos);

  const auto shown = RunQk({"hint", "--json", source + ".enc"});
  ASSERT_EQ(shown.status, 0);
  const auto hintLines = Lines(shown.out);
  ASSERT_EQ(hintLines.size(), 2u);
  EXPECT_EQ(hintLines[0]["hint"], hint);
  EXPECT_EQ(hintLines[0]["outcome"], "hint");
}

TEST_F(JsonOutputTest, HintOfSeveralFilesNamesEachFile) {
  const std::string a = Plain("a.txt", "alpha");
  const std::string b = Plain("b.txt", "beta");
  ASSERT_EQ(RunQk({"encrypt", "--password", "secret1", "--hint", "ヒントA", a}).status, 0);
  ASSERT_EQ(RunQk({"encrypt", "--password", "secret1", "--no-tamper-code", b}).status, 0);
  const std::string notContainer = Plain("plain.txt", std::string(200, 'x'));

  // One file: the hint alone, as before.
  EXPECT_EQ(RunQk({"hint", a + ".enc"}).out, "ヒントA\n");

  const auto several = RunQk({"hint", a + ".enc", b + ".enc"});
  EXPECT_EQ(several.status, 0);
  EXPECT_EQ(several.out, a + ".enc\tヒントA\n" + b + ".enc\t\n");

  const std::string unreadable = "＊エラー：形式外または読み取り専用です。＊";
  const auto bad = RunQk({"hint", a + ".enc", notContainer, dir / "missing.enc"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.out, a + ".enc\tヒントA\n" + notContainer + "\t" + unreadable + "\n" +
                         dir / "missing.enc" + "\t" + unreadable + "\n");

  const auto json = RunQk({"hint", "--json", a + ".enc", notContainer});
  EXPECT_EQ(json.status, 1);
  const auto lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(
      lines[0],
      (Json{{"path", a + ".enc"}, {"outcome", "hint"}, {"hint", "ヒントA"}, {"text", "ヒントA"}}));
  EXPECT_EQ(lines[1],
            (Json{{"path", notContainer}, {"outcome", "hint-unreadable"}, {"text", unreadable}}));
  EXPECT_EQ(lines[2], Closing(2, 1, ""));
}

TEST_F(JsonOutputTest, Sha1GivesDigestsAndFailures) {
  const std::string a = Plain("abc", "abc");
  const auto json = RunQk({"sha1", "--json", a, dir / "missing"});
  EXPECT_EQ(json.status, 1);
  const auto lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 3u);
  const std::string digest = "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D";
  EXPECT_EQ(lines[0],
            (Json{{"path", a}, {"outcome", "hashed"}, {"sha1", digest}, {"text", digest}}));
  EXPECT_EQ(lines[1]["outcome"], "unreadable");
  EXPECT_EQ(lines[2], Closing(2, 1, ""));
  EXPECT_TRUE(json.err.empty());
}

TEST_F(JsonOutputTest, FailuresSayWhyInJapaneseBesideTheError) {
  // 253 bytes here: with ".enc" the name is too long for the file system.
  std::string name;
  for (int i = 0; i < 84; ++i) name += "漢";
  const std::string wide = Plain(name + "x", "data");
  const auto json = RunQk({"encrypt", "--json", "--password", "secret1", wide});
  EXPECT_EQ(json.status, 1);
  const auto lines = Lines(json.out);
  ASSERT_EQ(lines.size(), 2u) << json.out;
  EXPECT_EQ(lines[0]["outcome"], "encrypt-failed");
  EXPECT_EQ(lines[0]["error"], "File name too long");
  EXPECT_EQ(lines[0]["reason"], "名前が長すぎます (255バイト)");
  EXPECT_EQ(lines[0]["text"], "＊暗号化失敗＊：");
  // As text the result line stays as it is; the reason follows on standard error.
  const auto text = RunQk({"encrypt", "--password", "secret1", wide});
  EXPECT_EQ(text.out, "＊暗号化失敗＊：" + wide + "\n終了しました。　失敗数 : 1個\n");
  EXPECT_NE(text.err.find("qk-cli: " + wide + ": 名前が長すぎます (255バイト)\n"),
            std::string::npos)
      << text.err;
}

// Bytes that are not UTF-8 show as U+FFFD in the text, so a name with the byte 0xFF and one with
// a real U+FFFD would read the same: the first carries its exact bytes beside the text.
TEST_F(JsonOutputTest, NamesThatAreNotUtf8ComeWithTheirBytes) {
  struct Case {
    std::string name;
    bool bytes; // whether path_bytes is expected
  };
  const std::vector<Case> cases{
      {"\xff.txt", true},           {"\xef\xbf\xbd.txt", false}, // a real U+FFFD
      {"\x82\xa0 cp932.txt", true}, {"\xed\xa0\x80 surrogate.txt", true},
      {"plain 日本語.txt", false},
  };
  std::vector<std::string> args{"wipe", "--json", "--jobs", "1"};
  for (const Case& c : cases) args.push_back(Plain(c.name, "x"));
  const auto o = RunQk(args);
  ASSERT_EQ(o.status, 0) << o.err;
  const auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), cases.size() + 1);
  std::set<std::string> shown;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::string path = dir / cases[i].name;
    ASSERT_EQ(lines[i]["outcome"], "wiped");
    shown.insert(lines[i]["path"].get<std::string>());
    if (!cases[i].bytes) {
      EXPECT_EQ(lines[i]["path"], path);
      EXPECT_FALSE(lines[i].contains("path_bytes"));
      continue;
    }
    ASSERT_TRUE(lines[i].contains("path_bytes")) << lines[i].dump();
    std::string decoded;
    CryptoPP::StringSource source(lines[i]["path_bytes"].get<std::string>(), true,
                                  new CryptoPP::Base64Decoder(new CryptoPP::StringSink(decoded)));
    EXPECT_EQ(decoded, path);
  }
  EXPECT_EQ(shown.size(), cases.size() - 1); // "\xff.txt" and "\uFFFD.txt" show alike
}

// DEL, C1 controls, line separators and bidirectional controls are \u escapes like the C0 ones:
// a terminal showing the JSON acts on none of them, and the parsed text is exact.
TEST_F(JsonOutputTest, TerminalControlsAreEscapes) {
  const std::string name = "a\x7f b\xc2\x9b[2J c\u202egpj.txt d\u2028e\u2066f\u200fg";
  const std::string a = Plain(name, "x");
  const auto o = RunQk({"sha1", "--json", a});
  ASSERT_EQ(o.status, 0) << o.err;
  for (const char* escape : {"\\u007f", "\\u009b", "\\u202e", "\\u2028", "\\u2066", "\\u200f"}) {
    EXPECT_NE(o.out.find(escape), std::string::npos) << escape << " in " << o.out;
  }
  for (const std::string raw : {"\x7f", "\xc2\x9b", "\u202e", "\u2028", "\u2066", "\u200f"}) {
    EXPECT_EQ(o.out.find(raw), std::string::npos) << o.out;
  }
  const auto lines = Lines(o.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["path"], a);
}

} // namespace
} // namespace qk::test
