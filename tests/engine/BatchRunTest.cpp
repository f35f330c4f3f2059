// The confirmation list's run with scripted answers, headless.
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "support/BatchFixture.h"

#include <fcntl.h>
#include <set>
#include <sys/stat.h>

namespace qk::test {
namespace {

using engine::OperationMode;

class BatchTest : public BatchFixture<> {
protected:
  BatchTest() : BatchFixture(7) {}

  std::vector<std::string> Captions() {
    std::vector<std::string> c;
    for (const auto& e : run.Entries()) c.push_back(e.Caption);
    return c;
  }
};

TEST_F(BatchTest, QuestionTextCarriesTheCount) {
  Fill(OperationMode::Encrypt, {Plain("a", "1"), Plain("b", "2")});
  EXPECT_EQ(run.Dialog().Caption, "ファイルの暗号化");
  EXPECT_EQ(run.Dialog().Label1.rfind("以上2個のファイルを暗号化します。", 0), 0u);
  EXPECT_TRUE(run.State().ListEditable);
  EXPECT_TRUE(run.Dialog().KeepOnTop);
  run.Entries()[0].Selected = true;
  run.Entries()[1].Selected = true;
  run.DeleteSelected();
  EXPECT_TRUE(run.Entries().empty());
  EXPECT_EQ(run.Dialog().Label1.rfind("以上0個の", 0), 0u);
  // Nothing left to run: OK is off, and a press asks for no password and changes nothing.
  EXPECT_FALSE(run.Dialog().OKEnabled);
  EXPECT_TRUE(run.Dialog().OKVisible);
  run.RunBatch();
  EXPECT_EQ(host.passwordDialogs, 0);
  EXPECT_EQ(run.Dialog().Caption, "ファイルの暗号化");
  EXPECT_TRUE(run.State().ListEditable);
  EXPECT_EQ(run.Dialog().CloseCaption, "キャンセル");
  // A list with files has OK on.
  Fill(OperationMode::Wipe, {Plain("c", "3")});
  EXPECT_TRUE(run.Dialog().OKEnabled);
  run.RunBatch();
  EXPECT_EQ(run.Dialog().Caption, engine::kAllDone);
  EXPECT_EQ(run.Dialog().Label1, engine::kAllDone);
  EXPECT_FALSE(run.Dialog().OKVisible);
  EXPECT_EQ(run.Dialog().CloseCaption, "閉じる");
  // Removal is possible before a run only.
  run.Entries().push_back({"x", "x", "", "", true, std::nullopt});
  run.DeleteSelected();
  EXPECT_EQ(run.Entries().size(), 2u); // the wiped entry and the selected one stay
}

TEST_F(BatchTest, EncryptRunWipesSourcesOnlyAfterSuccess) {
  const std::string a = Plain("a.txt", "alpha");
  const std::string ro = Plain("ro.txt", "read only");
  chmod(ro.c_str(), 0444);
  Fill(OperationMode::Encrypt, {a, ro, dir / "missing.txt"});
  run.RunBatch();
  EXPECT_EQ(host.passwordDialogs, 1);
  EXPECT_FALSE(host.lastForDecrypt);
  EXPECT_EQ(Captions(),
            (std::vector<std::string>{"暗号化成功：" + a, "＊暗号化失敗(読み取り専用です)：" + ro,
                                      "＊暗号化失敗＊：" + dir / "missing.txt"}));
  EXPECT_FALSE(Exists(a));
  EXPECT_TRUE(Exists(a + ".enc"));
  EXPECT_EQ(ReadAll(ro), "read only");
  EXPECT_EQ(run.FailureCount(), 2);
  EXPECT_EQ(run.Dialog().Caption, "終了しました。　失敗数 : 2個");
  EXPECT_EQ(run.State().Password, "pw"); // kept for re-encryption
  EXPECT_TRUE(host.clearedPassword);
  EXPECT_FALSE(host.clearedHint);
}

TEST_F(BatchTest, CancelledPasswordChangesNothing) {
  const std::string a = Plain("a.txt", "alpha");
  Fill(OperationMode::Encrypt, {a});
  host.passwordAnswer.reset();
  run.RunBatch();
  EXPECT_EQ(Captions(), std::vector<std::string>{a});
  EXPECT_TRUE(run.State().ListEditable);
  EXPECT_TRUE(run.Dialog().OKVisible);
  EXPECT_EQ(ReadAll(a), "alpha");
}

TEST_F(BatchTest, NameModesAndTheNameLimit) {
  options.WipeSource = false;
  // Names are counted in system-code-page bytes: a full-width character counts two.
  std::string fullWidth;
  for (int i = 0; i < 50; ++i) fullWidth += "あ";
  const std::string fullWidth199 = fullWidth + std::string(99, 'x');
  const std::string fullWidth200 = fullWidth + std::string(100, 'x');
  ASSERT_EQ(platform::SystemByteLength(fullWidth199), 199u);
  ASSERT_EQ(platform::SystemByteLength(fullWidth200), 200u);
  const std::string ok = Plain(fullWidth199, "ok");
  const std::string tooLong = Plain(fullWidth200, "long");
  options.NameMode = 1;
  options.OwnExtStr = ".jpg";
  Fill(OperationMode::Encrypt, {ok, tooLong});
  run.RunBatch();
  EXPECT_EQ(Captions()[0], "暗号化成功：" + ok);
  EXPECT_EQ(Captions()[1], "＊暗号化失敗(処理元ファイル名が半角200文字以上です。)：" + tooLong);
  EXPECT_TRUE(Exists(ok + ".jpg"));

  options.NameMode = 2;
  Fill(OperationMode::Encrypt, {Plain("r.txt", "random")});
  run.RunBatch();
  EXPECT_EQ(run.Entries()[0].Result->output.size(), (dir / "1234567.jpg").size());

  options.NameMode = 5;
  const std::string u = Plain("u.txt", "u");
  Fill(OperationMode::Encrypt, {u});
  run.RunBatch();
  EXPECT_EQ(Captions()[0], "＊予期せぬエラー：" + u);
  EXPECT_FALSE(Exists(u + ".enc"));
}

TEST_F(BatchTest, DecryptRunShowsHintsRestoresAndOffersReEncryption) {
  const std::string a = Plain("a.txt", "alpha");
  const std::string b = Plain("b.txt", "beta");
  struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
  utimensat(AT_FDCWD, a.c_str(), times, 0);
  chmod(a.c_str(), 0644);
  host.hintAnswer = "first hint";
  Fill(OperationMode::Encrypt, {a});
  run.RunBatch();
  host.hintAnswer = "second hint";
  Fill(OperationMode::Encrypt, {b});
  run.RunBatch();
  ASSERT_FALSE(Exists(a));

  host.hintAnswer = "typed last";
  Fill(OperationMode::Decrypt,
       {a + ".enc", b + ".enc", Plain("junk.enc", "not a container at all")});
  EXPECT_EQ(run.Entries()[0].Sub1, "first hint");
  EXPECT_EQ(run.Entries()[1].Sub1, "second hint");
  EXPECT_EQ(run.Dialog().Column1Caption, "パスワードヒント");
  EXPECT_EQ(run.Dialog().Column2Caption, "復号後ファイル名");
  run.RunBatch();
  EXPECT_TRUE(host.lastForDecrypt);
  EXPECT_EQ(Captions()[0], "復号成功(改ざん検知照合OK) : " + a + ".enc");
  EXPECT_EQ(run.Entries()[0].Sub2, a);
  EXPECT_EQ(ReadAll(a), "alpha");
  struct stat st {};
  stat(a.c_str(), &st);
  EXPECT_EQ(st.st_mtime, 1000000000);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  EXPECT_FALSE(Exists(a + ".enc")); // wiped after decryption
  EXPECT_EQ(Captions()[2],
            std::string(engine::ResultText(engine::Outcome::InvalidFormat)) + dir / "junk.enc");
  EXPECT_TRUE(run.Dialog().ReEncVisible);
  EXPECT_EQ(run.Dialog().Column1Caption, "パスワードヒント"); // the column still holds them

  host.confirmAnswer = true;
  // The progress counts the files it re-encrypts, not the list.
  std::set<std::string> counts;
  host.onChange = [&] {
    const std::string& caption = run.Dialog().Caption;
    if (caption.rfind('[', 0) == 0) counts.insert(caption.substr(0, caption.find(']') + 1));
  };
  run.ReEncrypt();
  host.onChange = nullptr;
  EXPECT_EQ(counts, (std::set<std::string>{"[1/2Files]", "[2/2Files]"}));
  EXPECT_EQ(host.confirms.back().rfind("これらの復号済みのファイルを", 0), 0u);
  EXPECT_EQ(Captions()[0], "暗号化成功：" + a);
  EXPECT_EQ(Captions()[1], "暗号化成功：" + b);
  // What was not decrypted is not re-encrypted: it keeps what its decryption said, and the run
  // does not count it.
  EXPECT_EQ(Captions()[2],
            std::string(engine::ResultText(engine::Outcome::InvalidFormat)) + dir / "junk.enc");
  EXPECT_EQ(run.Entries()[2].Result->outcome, engine::Outcome::InvalidFormat);
  EXPECT_EQ(run.FailureCount(), 0);
  // Each file keeps the hint stored in its own container.
  EXPECT_EQ(run.Engine().ReadStoredHint(a + ".enc").hint, "first hint");
  EXPECT_EQ(run.Engine().ReadStoredHint(b + ".enc").hint, "second hint");
  EXPECT_FALSE(Exists(a));
  // The container comes back as readable as it was; the decrypted file was the owner's alone.
  struct stat reencrypted {};
  stat((a + ".enc").c_str(), &reencrypted);
  EXPECT_EQ(reencrypted.st_mode & 07777, 0644u);
  EXPECT_FALSE(run.State().ReEncrypting);
  EXPECT_FALSE(run.Dialog().ReEncVisible);

  // A decryption that wrote nothing offers nothing to re-encrypt.
  Fill(OperationMode::Decrypt, {a + ".enc"});
  host.passwordAnswer = "wrong";
  run.RunBatch();
  EXPECT_EQ(run.FailureCount(), 1);
  EXPECT_FALSE(run.Dialog().ReEncVisible);
}

TEST_F(BatchTest, WithoutReEncryptionThePasswordIsForgotten) {
  options.ReEnc = false;
  options.SaveHint = false;
  const std::string a = Plain("a.txt", "alpha");
  Fill(OperationMode::Encrypt, {a});
  run.RunBatch();
  EXPECT_TRUE(run.State().Password.Empty());
  EXPECT_TRUE(run.State().PasswordHint.empty());
  EXPECT_TRUE(host.clearedHint);
  Fill(OperationMode::Decrypt, {a + ".enc"});
  run.RunBatch();
  EXPECT_FALSE(run.Dialog().ReEncVisible);
  run.ReEncrypt();
  EXPECT_TRUE(Exists(a));
  EXPECT_FALSE(Exists(a + ".enc"));
}

TEST_F(BatchTest, WipeModeAsksFirstAndCountsFailures) {
  const std::string a = Plain("a", "1");
  const std::string ro = Plain("ro", "2");
  chmod(ro.c_str(), 0444);
  Fill(OperationMode::Wipe, {a, ro});
  host.confirmAnswer = false;
  run.RunBatch();
  EXPECT_TRUE(Exists(a));
  EXPECT_EQ(host.passwordDialogs, 0);
  host.confirmAnswer = true;
  run.RunBatch();
  EXPECT_EQ(Captions(), (std::vector<std::string>{
                            std::string(engine::ResultText(engine::Outcome::Wiped)) + a,
                            std::string(engine::ResultText(engine::Outcome::WipeFailed)) + ro}));
  EXPECT_FALSE(Exists(a));
  EXPECT_EQ(run.FailureCount(), 1);
  EXPECT_EQ(host.passwordDialogs, 0);
}

TEST_F(BatchTest, AFolderThatCouldNotBeReadIsAFailedEntryInEveryMode) {
  for (const OperationMode mode :
       {OperationMode::Encrypt, OperationMode::Decrypt, OperationMode::Wipe}) {
    if (run.State().ListShown) run.Close();
    run.ClearList();
    run.State().Mode = mode;
    run.AddUnreadableFolder(dir / "closed/", EACCES);
    run.ShowList();
    host.confirmAnswer = true;
    run.RunBatch();
    EXPECT_EQ(Captions(),
              (std::vector<std::string>{"＊フォルダを読めません(アクセス権がありません)：" +
                                        dir / "closed/"}));
    EXPECT_EQ(run.FailureCount(), 1);
    EXPECT_EQ(run.Dialog().Caption, "終了しました。　失敗数 : 1個");
    ASSERT_TRUE(run.Entries()[0].Result);
    EXPECT_EQ(run.Entries()[0].Result->outcome, engine::Outcome::FolderUnreadable);
    EXPECT_EQ(run.Entries()[0].Result->error, EACCES);
  }
}

TEST_F(BatchTest, AutoRunAsksNothingAndEndsTheProgram) {
  const std::string a = Plain("a", "1");
  run.State().AutoRun = true;
  run.State().Password = "given";
  run.State().Mode = OperationMode::Encrypt;
  run.AddFile(a);
  run.ShowList();
  EXPECT_EQ(host.passwordDialogs, 0);
  EXPECT_TRUE(host.confirms.empty());
  EXPECT_TRUE(host.ended);
  EXPECT_EQ(host.returns, 1);
  EXPECT_EQ(Captions()[0], "暗号化成功：" + a);
}

TEST_F(BatchTest, SkipWipeIsTheOnlyInputDuringASourceWipe) {
  const std::string big = Plain("big", RandomBytes(2048 * 50, 1));
  options.Engine.ProcessMsgInterval = 1;
  bool sawWipeState = false;
  host.onPump = [&] {
    const auto& d = run.Dialog();
    if (d.SkipWipeVisible) {
      sawWipeState =
          d.DialogEnabled && d.SkipWipeEnabled && !d.OKEnabled && d.CloseEnabled && !d.ListEnabled;
      run.SkipWipe();
    } else {
      // The close button stops a run at any moment.
      EXPECT_TRUE(d.DialogEnabled && d.CloseEnabled && !d.OKEnabled && !d.ListEnabled);
    }
  };
  Fill(OperationMode::Encrypt, {big});
  run.RunBatch();
  EXPECT_TRUE(sawWipeState);
  EXPECT_FALSE(Exists(big));
  // The source was only deleted, and its entry says so.
  EXPECT_EQ(run.Entries()[0].Result->sourceWipe, engine::SourceWipe::Skipped);
  EXPECT_EQ(Captions()[0], "暗号化成功：抹消をスキップ(削除のみ)：" + big);
}

TEST_F(BatchTest, FailedSourceWipeIsLoggedAndCounted) {
  const std::string a = Plain("a.txt", "alpha");
  options.Engine.ProcessMsgInterval = 1;
  // Make the source read-only right after it was encrypted, before its wipe.
  host.onPump = [&] {
    if (Exists(a + ".enc")) chmod(a.c_str(), 0444);
  };
  Fill(OperationMode::Encrypt, {a});
  run.RunBatch();
  EXPECT_EQ(Captions()[0],
            "暗号化成功：" + std::string(engine::ResultText(engine::Outcome::WipeFailed)) + a);
  EXPECT_EQ(run.FailureCount(), 1);
  EXPECT_TRUE(Exists(a));
  EXPECT_TRUE(run.Dialog().CloseEnabled);
}

TEST_F(BatchTest, EveryEntryCarriesItsTypedResult) {
  const std::string a = Plain("a.txt", "alpha");
  const std::string ro = Plain("ro.txt", "x");
  ASSERT_EQ(chmod(ro.c_str(), 0444), 0);
  options.WipeSource = true;
  Fill(OperationMode::Encrypt, {a, ro});
  run.RunBatch();
  const engine::FileResult& ok = *run.Entries()[0].Result;
  EXPECT_EQ(ok.outcome, engine::Outcome::Encrypted);
  EXPECT_EQ(ok.path, a);
  EXPECT_EQ(ok.output, a + ".enc");
  EXPECT_EQ(ok.sourceWipe, engine::SourceWipe::Wiped);
  const engine::FileResult& refused = *run.Entries()[1].Result;
  EXPECT_EQ(refused.outcome, engine::Outcome::EncryptReadOnly);
  EXPECT_EQ(refused.error, EACCES);
  EXPECT_TRUE(refused.output.empty());

  Plain("junk.enc", "not a container, but long enough to be read");
  host.passwordAnswer = "wrong";
  Fill(OperationMode::Decrypt, {a + ".enc", dir / "junk.enc"});
  run.RunBatch();
  EXPECT_EQ(run.Entries()[0].Result->outcome, engine::Outcome::WrongPassword);
  EXPECT_TRUE(run.Entries()[0].Result->output.empty());
  EXPECT_EQ(run.Entries()[1].Result->outcome, engine::Outcome::InvalidFormat);

  host.passwordAnswer = "pw";
  Fill(OperationMode::Decrypt, {a + ".enc"});
  run.RunBatch();
  EXPECT_EQ(run.Entries()[0].Result->outcome, engine::Outcome::Decrypted);
  EXPECT_EQ(run.Entries()[0].Result->output, a);
  EXPECT_EQ(run.Entries()[0].Sub2, a);

  Fill(OperationMode::Wipe, {a, dir / "missing"});
  run.RunBatch();
  EXPECT_EQ(run.Entries()[0].Result->outcome, engine::Outcome::Wiped);
  EXPECT_EQ(run.Entries()[1].Result->outcome, engine::Outcome::WipeFailed);
  EXPECT_EQ(run.Entries()[1].Result->error, ENOENT);
}

TEST_F(BatchTest, VerificationProgressNeverPassesTheWhole) {
  // 1570 bytes: the proof reads 1584 with the last block's padding.
  options.Engine.ProcessMsgInterval = 1;
  const std::string a = Plain("a.bin", std::string(1570, 'v'));
  Fill(OperationMode::Encrypt, {a});
  run.RunBatch();
  ASSERT_FALSE(Exists(a)); // proved, then wiped
  std::vector<std::string> proofs;
  for (const auto& text : host.progress)
    if (text.rfind("検証中：", 0) == 0) proofs.push_back(text);
  ASSERT_FALSE(proofs.empty());
  EXPECT_EQ(proofs.back(), "検証中：1570/1570バイト　100%");
  for (const auto& text : proofs) EXPECT_EQ(text.find("1584"), std::string::npos) << text;
}

TEST_F(BatchTest, FailuresCarryTheirReasons) {
  // 84 wide characters and one more byte: 253 bytes here, so ".enc" makes the name too long for
  // the file system though the stored name is well within its 200 bytes.
  std::string name;
  for (int i = 0; i < 84; ++i) name += "漢";
  name += "x";
  options.WipeSource = false;
  const std::string wide = Plain(name, "data");
  Fill(OperationMode::Encrypt, {wide, dir / "gone.txt"});
  run.RunBatch();
  ASSERT_TRUE(run.Entries()[0].Result);
  EXPECT_EQ(run.Entries()[0].Caption, "＊暗号化失敗＊：" + wide);
  EXPECT_EQ(engine::FailureReason(*run.Entries()[0].Result), "名前が長すぎます (255バイト)");
  EXPECT_EQ(engine::FailureReason(*run.Entries()[1].Result), "ファイルが見つかりません");
  EXPECT_FALSE(Exists(wide + ".enc"));
}

} // namespace
} // namespace qk::test
