// The program from its start to its end: settings loaded at start, notices, the layout of the
// main window, the command line with its unattended runs, drops on the targets and on the wipe
// bin, and the settings written at close. Real files in a temporary folder; boxes and file
// dialogs answered by script.
#include "windows/ProgramHarness.h"

#include "core/CommandLine.h"
#include "platform/HandOver.h"

#include "support/UrlRecorder.h"

#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/SecDlg.h"
#include "windows/WindowSize.h"

#include "engine/PasswordRules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <atomic>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <thread>

using namespace qk;
using engine::OperationMode;
using test::Exists;
using test::ProgramHarness;
using test::ReadAll;
using test::UrlRecorder;
using windows::BoxKind;
using windows::Q;

namespace {

// The working directory as it was, put back afterwards.
class KeepCurrentDir {
public:
  KeepCurrentDir() : dir_(QDir::currentPath()) {}
  ~KeepCurrentDir() { QDir::setCurrent(dir_); }

private:
  QString dir_;
};

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

bool OnTop(QWidget* window) {
  return window->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

const QStringList kNotices = {windows::PreReleaseNotice(), windows::FirstRunNotice()};

} // namespace

class TestStartup : public QObject {
  Q_OBJECT

private slots:
  void startWithoutSettingsFile();
  void startWithSavedSettings();
  void layoutFollowsWipeBinAndTextButtons();
  void closeWritesEveryKey();
  void storedHintKeptWhileSaveHintIsOff();
  void failedSaveIsReportedAndTheProgramEnds();
  void unattendedStart_data();
  void unattendedStart();
  void singleFileToNamedOutput();
  void singleOutputTakesTheRunsRules();
  void emptyListOpensTheDialogOfTheMode();
  void dropsAndFileDialogsOnTheTargets();
  void filesRefusedWhileARunGoes();
  void filesRefusedDuringEverySourceWipe();
  void refusedSecondStart();
  void secondStartHandsItsPathsOver();
  void missingPathsAreToldNotAnsweredWithADialog();
  void refilledListAsksItsOwnQuestion();
  void folderOnTheOptionsWipeBin();
  void f1OpensTheManualFromEveryButton();
  void f1SaysWhyNoManualOpens();
  void fileDialogStartsInTheLastFolder();
  void listWindowSizeIsKeptAcrossStarts();
};

void TestStartup::startWithoutSettingsFile() {
  ProgramHarness h;
  h.Create();
  QVERIFY(h.Start());

  QCOMPARE(h.BoxTexts(), kNotices);
  for (const test::Box& box : h.boxes) {
    QVERIFY(box.kind == BoxKind::Information);
    QVERIFY(!box.text.contains("http") && !box.text.contains("www")); // no address in them
  }

  windows::TMainForm* main = h.Main();
  QCOMPARE(main->pos(), QPoint(100, 100));
  QCOMPARE(main->size(), QSize(241, 145));
  QVERIFY(!main->WipeBitBtn->isVisible());
  QVERIFY(!main->KTop->KTop() && !OnTop(main));
  QVERIFY(main->OptionBitBtn->hasFocus() || main->focusWidget() == main->OptionBitBtn);

  // The controls and the model agree on the defaults.
  const settings::SettingsModel& m = h.Model();
  QVERIFY(m == settings::SettingsModel{});
  QVERIFY(main->FindFile.Recurse);

  windows::TOptionDlg* o = h.Options();
  QVERIFY(o->IncSubFolderCheckBox->isChecked() && o->WipeSourceCheckBox->isChecked());
  QVERIFY(!o->TopWipeCheckBox->isChecked()); // checked in the layout, unchecked by the start-up
  QVERIFY(o->RadioButton1->isChecked() && !o->ExtChgEdit->isEnabled());
  QCOMPARE(o->ExtChgEdit->text(), QStringLiteral(".bmp"));
  QCOMPARE(h.program->SecSetDlg->AlgoComboBox->currentIndex(), 0);

  // Starting writes nothing.
  QVERIFY(!Exists(h.ini));
  QCOMPARE(h.ended, 0);
}

void TestStartup::startWithSavedSettings() {
  ProgramHarness h;
  h.WriteIni("[WINDOWPOS]\nX=321\nY=234\n"
             "[SYSTEM]\nFIRSTEXEC=0\nMAINTOP=1\nADDHMAC=0\nSKIPNONHMAC=1\nTOPWIPE=1\n"
             "INCSUBFOLDER=0\nWIPESOURCE=0\nREENC=0\nDEFAULT_EXT=0\nOWN_EXT=1\n"
             "OWN_EXT_STR=.dat\nPASSHINT=いぬ\nSECLEVEL=3\nALGORITHM=2\n");
  h.Create();
  QVERIFY(h.Start());

  // No first-run notice; the stored pair of tamper options warns while it loads.
  QCOMPARE(h.boxes.size(), std::size_t(2));
  QCOMPARE(h.boxes[0].text, windows::PreReleaseNotice());
  QVERIFY(h.boxes[1].kind == BoxKind::Note);
  QVERIFY(h.boxes[1].text.contains(QStringLiteral("ご注意ください。")));

  windows::TMainForm* main = h.Main();
  QCOMPARE(main->pos(), QPoint(321, 234));
  QVERIFY(main->KTop->KTop() && OnTop(main));
  QCOMPARE(main->size(), QSize(241, 178));
  QVERIFY(main->WipeBitBtn->isVisible() && main->WipeBitBtn->isEnabled());
  QCOMPARE(main->WipeBitBtn->geometry(), QRect(0, 146, 241, 33));

  // Loading the wipe box re-applies the subfolder box, which shows the stored value.
  windows::TOptionDlg* o = h.Options();
  QVERIFY(!h.Model().Recurse && !main->FindFile.Recurse);
  QVERIFY(!o->IncSubFolderCheckBox->isChecked());
  QVERIFY(!o->WipeSourceCheckBox->isChecked() && !o->UseReEncCheckBox->isChecked());
  QVERIFY(!o->AddHMACCheckBox->isChecked() && o->SkipNonHMACCheckBox->isChecked());
  QVERIFY(o->RadioButton2->isChecked() && o->ExtChgEdit->isEnabled());
  QCOMPARE(o->ExtChgEdit->text(), QStringLiteral(".dat"));
  QCOMPARE(h.Model().NameMode(), 1);
  QCOMPARE(h.Model().OwnExtStr, std::string(".dat"));
  QCOMPARE(h.Run().State().PasswordHint, std::string("いぬ"));
  QCOMPARE(h.Model().SecLevel, 3);
  QCOMPARE(h.program->SecSetDlg->AlgoComboBox->currentIndex(), 2);
}

void TestStartup::layoutFollowsWipeBinAndTextButtons() {
  {
    ProgramHarness h;
    h.Create();
    // Behind the notices the window has no wipe bin while the option is off.
    QStringList behind;
    h.onBox = [&](const test::Box&) {
      behind << QString::number(h.Main()->WipeBitBtn->isVisible()) +
                    QString::number(h.Main()->height());
    };
    QVERIFY(h.Start());
    QCOMPARE(behind, (QStringList{"0145", "0145"}));
    windows::TMainForm* main = h.Main();
    QVERIFY(!main->EncBitBtn->icon().isNull() && main->EncBitBtn->text().isEmpty());
    QVERIFY(!main->DecBitBtn->icon().isNull());
    QCOMPARE(main->OptionBitBtn->text(), QStringLiteral("OPTION"));

    // Turning the wipe bin on shows it the next time the window comes back.
    QTest::mouseClick(main->OptionBitBtn, Qt::LeftButton);
    QVERIFY(!main->isVisible() && h.Options()->isVisible());
    h.Options()->TopWipeCheckBox->click();
    h.Options()->CloseBitBtn->click();
    QVERIFY(main->isVisible() && !h.Options()->isVisible());
    QVERIFY(h.Settle());
    QCOMPARE(main->size(), QSize(241, 178));
    QVERIFY(main->WipeBitBtn->isVisible());
    // Text buttons come with the next showing of the window, without a note.
    h.Options()->TextQKCheckBox->click();
    QCOMPARE(h.boxes.size(), std::size_t(2));
    main->hide();
    main->show();
    QVERIFY(h.Settle());
    QCOMPARE(main->EncBitBtn->text(), QStringLiteral("ファイルを暗号化"));
    QVERIFY(main->EncBitBtn->icon().isNull());
  }
  {
    ProgramHarness h;
    h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\nTEXTQKBTN=1\nTOPWIPE=1\n");
    h.Create();
    QVERIFY(h.Start());
    windows::TMainForm* main = h.Main();
    QCOMPARE(main->size(), QSize(241, 178));
    QVERIFY(main->EncBitBtn->icon().isNull() && main->DecBitBtn->icon().isNull());
    QCOMPARE(main->EncBitBtn->text(), QStringLiteral("ファイルを暗号化"));
    QCOMPARE(main->DecBitBtn->text(), QStringLiteral("ファイルを復号"));
    QCOMPARE(main->OptionBitBtn->text(), QStringLiteral("オプション(OPTION)"));

    // Switched off while running: a note, and the text stays until the next start; switching it
    // on again says nothing.
    h.Options()->TextQKCheckBox->click();
    QCOMPARE(h.boxes.back().text, QStringLiteral("この変更は次回起動時に反映されます。"));
    QVERIFY(h.boxes.back().kind == BoxKind::Note);
    const std::size_t boxes = h.boxes.size();
    h.Options()->TopWipeCheckBox->click();
    main->hide();
    main->show();
    QVERIFY(h.Settle());
    QCOMPARE(main->EncBitBtn->text(), QStringLiteral("ファイルを暗号化"));
    QCOMPARE(main->size(), QSize(241, 145));
    QVERIFY(!main->WipeBitBtn->isVisible() && !main->WipeBitBtn->isEnabled());
    h.Options()->TextQKCheckBox->click();
    QCOMPARE(h.boxes.size(), boxes);
  }
}

void TestStartup::closeWritesEveryKey() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nPROCESSMSGINTV=7\nDBCHK=0\n");
  h.Create();
  QVERIFY(h.Start());
  h.Options()->WipeSourceCheckBox->click();
  h.Options()->RadioButton3->click();
  h.Options()->ExtChgEdit->setText(".x");
  h.Run().State().PasswordHint = "ヒント";
  h.Model().PassHash = "ABCDEFGH";
  h.Model().SecLevel = 4;
  h.Main()->move(150, 160);

  QVERIFY(h.Main()->close());
  QCOMPARE(h.ended, 1);

  const auto sys = [&](const char* key) { return h.IniValue("SYSTEM", key); };
  QCOMPARE(h.IniValue("WINDOWPOS", "X"), std::string("150"));
  QCOMPARE(h.IniValue("WINDOWPOS", "Y"), std::string("160"));
  QCOMPARE(sys("WIPESOURCE"), std::string("0"));
  QCOMPARE(sys("DEFAULT_EXT"), std::string("0"));
  QCOMPARE(sys("RANDOM_EXT"), std::string("1"));
  QCOMPARE(sys("OWN_EXT_STR"), std::string(".x"));
  QCOMPARE(sys("PASSHINT"), std::string("ヒント"));
  QCOMPARE(sys("PASSHASH"), std::string("ABCDEFGH"));
  QCOMPARE(sys("SECLEVEL"), std::string("4"));
  QCOMPARE(sys("FIRSTEXEC"), std::string("0"));
  for (const char* key :
       {"INCSUBFOLDER", "WIPEDECSOURCE", "MAINTOP", "DONTCLEARPASSBOX", "SAVEHINT", "REENC",
        "TOPWIPE", "TEXTQKBTN", "ADDHMAC", "SKIPNONHMAC", "OWN_EXT", "ALGORITHM"}) {
    QVERIFY2(sys(key) != "<missing>", key);
  }
  // Values the program only reads stay as the user wrote them.
  QCOMPARE(sys("PROCESSMSGINTV"), std::string("7"));
  QCOMPARE(sys("DBCHK"), std::string("0"));
}

void TestStartup::storedHintKeptWhileSaveHintIsOff() {
  test::TempDir shared;
  const std::string ini = shared / "QK.ini";
  test::WriteAll(ini, "[SYSTEM]\nSAVEHINT=0\nPASSHINT=old\n");
  {
    ProgramHarness h;
    h.ini = ini;
    h.Create();
    QVERIFY(h.Start());
    QVERIFY(h.Run().State().PasswordHint.empty()); // not loaded either
    h.Run().State().PasswordHint = "new";
    QVERIFY(h.Main()->close());
    QCOMPARE(h.IniValue("SYSTEM", "PASSHINT"), std::string("old"));
    QCOMPARE(h.IniValue("SYSTEM", "SAVEHINT"), std::string("0"));
  }
  {
    // Turned on during the run, the hint of the run is written.
    ProgramHarness h;
    h.ini = ini;
    h.Create();
    QVERIFY(h.Start());
    h.Options()->SaveHintCheckBox->click();
    h.Run().State().PasswordHint = "newer";
    QVERIFY(h.Main()->close());
    QCOMPARE(h.IniValue("SYSTEM", "PASSHINT"), std::string("newer"));
  }
}

void TestStartup::failedSaveIsReportedAndTheProgramEnds() {
  ProgramHarness h;
  // The folder of QK.ini is a file: no write can succeed, not even for root.
  test::WriteAll(h.dir / "blocked", "");
  h.ini = h.dir / "blocked/QK.ini";
  h.Create();
  QVERIFY(h.Start());
  QVERIFY(h.Main()->close());
  QCOMPARE(h.ended, 1);
  QVERIFY(h.boxes.back().kind == BoxKind::Warning);
  QCOMPARE(h.boxes.back().text, Q(h.ini + " に書き込めません"));
}

// Unattended starts ("-F", "-A"): only the notices show, no question, password dialog or file
// dialog; standard error says what became of each file, and the status what the run came to. The
// folder holds a.txt and b.txt; "%1" in the switches and the lines stands for it. A run with
// "before" starts after that run ended well, over what it left.
void TestStartup::unattendedStart_data() {
  QTest::addColumn<QString>("ini"); // empty: the first start, without QK.ini
  QTest::addColumn<QStringList>("before");
  QTest::addColumn<QStringList>("args");
  QTest::addColumn<int>("status"); // -1: waits for the user with the list
  QTest::addColumn<QStringList>("said");
  QTest::addColumn<QStringList>("left"); // the folder afterwards; "name=bytes" checks the bytes

  const QString system = QStringLiteral("[SYSTEM]\nFIRSTEXEC=0\n");
  const QString keep = system + "WIPESOURCE=0\n";
  const QString levelTwo = system + "SECLEVEL=2\n";
  const QString pw = QStringLiteral("pw-pw-pw");
  const QString encA = QStringLiteral("暗号化成功：%1/a.txt");
  const QString encB = QStringLiteral("暗号化成功：%1/b.txt");
  const QString wrong = QStringLiteral("＊パスワードが違います：%1/a.txt.enc");
  const QString allDone = QStringLiteral("全てのファイル/フォルダを正常に処理しました。");
  const QString oneFailed = QStringLiteral("終了しました。　失敗数 : 1個");
  const QString empty = QStringLiteral("qk: ") + Q(engine::kPasswordEmpty);
  const QString short2 = QStringLiteral("qk: ") + Q(engine::SecurityLevelMessage(2));
  const QString notFound = QStringLiteral("qk: not found: missing.enc");
  const QString nothing = QStringLiteral("qk: nothing to do: no file was found");
  const QStringList encryptA{"-E", "-F", "-P", pw, "%1/a.txt"};
  const QStringList encryptBoth{"-E", "-F", "-P", pw, "%1/a.txt", "%1/b.txt"};
  const QStringList untouched{"QK.ini", "a.txt", "b.txt"};
  const QStringList both{"QK.ini", "a.txt", "a.txt.enc", "b.txt"};
  const auto row = [](const char* name, const QString& ini, const QStringList& before,
                      const QStringList& args, int status, const QStringList& said,
                      const QStringList& left) {
    QTest::newRow(name) << ini << before << args << status << said << left;
  };
  row("first start encrypts", {}, {}, {"-e ", "-F", " -P", pw, "%1/a.txt", "%1/b.txt"}, 0,
      {encA, encB, allDone}, {"QK.ini", "a.txt.enc", "b.txt.enc"});
  row("decrypts back and ends (-I)", system, encryptBoth,
      {"-D", "-I", "-F", "-P", pw, "%1/a.txt.enc", "%1/b.txt.enc"}, 0,
      {QStringLiteral("復号成功(改ざん検知照合OK) : %1/a.txt.enc"),
       QStringLiteral("復号成功(改ざん検知照合OK) : %1/b.txt.enc"), allDone},
      untouched);
  row("sources kept", keep, {}, encryptBoth, 0, {encA, encB, allDone},
      {"QK.ini", "a.txt", "a.txt.enc", "b.txt", "b.txt.enc"});
  row("wipe needs no password", {}, {}, {"-W", "-F", "%1/a.txt"}, 0,
      {QStringLiteral("抹消成功 : %1/a.txt"), allDone}, {"QK.ini", "b.txt"});
  row("encryption without -P waits", system, {}, {"-E", "-F", "%1/a.txt"}, -1, {}, untouched);
  row("-A with two files", {}, {}, {"-A", "%1/out.qk", "-P", pw, "%1/a.txt", "%1/b.txt"}, 1,
      {QStringLiteral("qk: -A needs exactly one file; the list holds 2")}, untouched);
  row("wrong password -A", keep, encryptA,
      {"-D", "-A", "%1/out.txt", "-P", "wrong", "%1/a.txt.enc"}, 1, {wrong, oneFailed}, both);
  row("wrong password -F", keep, encryptA, {"-D", "-F", "-P", "wrong", "%1/a.txt.enc"}, 1,
      {wrong, oneFailed}, both);
  row("decrypts to -A", keep, encryptA, {"-D", "-A", "%1/out.txt", "-P", pw, "%1/a.txt.enc"}, 0,
      {QStringLiteral("復号成功(改ざん検知照合OK) : %1/a.txt.enc"), allDone},
      both + QStringList{"out.txt=alpha secret"});
  // The password rules of the dialogs: counted in bytes, and a decryption takes any that is
  // not empty.
  row("one byte at level 2", levelTwo, {}, {"-E", "-F", "-P", "a", "%1/a.txt"}, 1, {short2},
      untouched);
  row("five bytes at level 2", levelTwo, {}, {"-E", "-F", "-P", "five5", "%1/a.txt"}, 1, {short2},
      untouched);
  row("-A without -P", levelTwo, {}, {"-A", "out.enc", "%1/a.txt"}, 1, {empty}, untouched);
  row("-A with a blank", levelTwo, {}, {"-A", "out.enc", "-P", " ", "%1/a.txt"}, 1, {empty},
      untouched);
  row("-A, five bytes at level 2", levelTwo, {}, {"-A", "out.enc", "-P", "five5", "%1/a.txt"}, 1,
      {short2}, untouched);
  row("-D -A without -P", levelTwo, {}, {"-D", "-A", "out.txt", "%1/a.txt"}, 1, {empty}, untouched);
  // A hint that holds the password would hand it to anyone who reads the container.
  const QString hinted = QStringLiteral("qk: ") + Q(engine::kHintHoldsPassword);
  row("-H holds the password", system, {}, {"-E", "-F", "-P", pw, "-H", "it is " + pw, "%1/a.txt"},
      1, {hinted}, untouched);
  row("-A, -H is the password", system, {}, {"-A", "out.enc", "-P", pw, "-H", pw, "%1/a.txt"}, 1,
      {hinted}, untouched);
  row("six bytes at level 2", levelTwo + "WIPESOURCE=0\n", {},
      {"-E", "-F", "-P", "six6six", "%1/a.txt"}, 0, {encA, allDone}, both);
  row("decryption takes one byte at level 2", levelTwo + "WIPESOURCE=0\n", encryptA,
      {"-D", "-A", "%1/back.txt", "-P", "x", "%1/a.txt.enc"}, 1, {wrong, oneFailed}, both);
  // Nothing to do: said, and the run ends.
  row("-D, missing", system, {}, {"-D", "-F", "-P", pw, "missing.enc"}, 1, {notFound, nothing},
      untouched);
  row("-E, missing", system, {}, {"-E", "-F", "-P", pw, "missing.enc"}, 1, {notFound, nothing},
      untouched);
  row("-W, missing", system, {}, {"-W", "-F", "missing.enc"}, 1, {notFound, nothing}, untouched);
  row("no path", system, {}, {"-E", "-F", "-P", pw}, 1, {nothing}, untouched);
  row("-A, missing", system, {}, {"-A", "out", "-P", pw, "missing.enc"}, 1,
      {notFound, QStringLiteral("qk: -A needs exactly one file; the list holds 0")}, untouched);
  row("-W -A", system, {}, {"-W", "-A", "out", "a.txt"}, 1,
      {QStringLiteral("qk: -A writes nothing in wipe mode")}, untouched);
  // A missing path beside a file that is there counts as a failure.
  row("missing beside a file", keep, {}, {"-E", "-F", "-P", pw, "gone.txt", "%1/a.txt"}, 1,
      {QStringLiteral("qk: not found: gone.txt"), encA, oneFailed}, both);
}

void TestStartup::unattendedStart() {
  QFETCH(QString, ini);
  QFETCH(QStringList, before);
  QFETCH(QStringList, args);
  QFETCH(int, status);
  QFETCH(QStringList, said);
  QFETCH(QStringList, left);
  ProgramHarness h;
  const QString folder = Q(h.dir.path());
  const std::map<std::string, std::string> plain{{"a.txt", "alpha secret"},
                                                 {"b.txt", std::string(70000, 'b')}};
  for (const auto& [name, bytes] : plain) h.File(name, bytes);
  if (!ini.isEmpty()) h.WriteIni(ini.toStdString());
  const auto start = [&](const QStringList& switches) {
    std::vector<std::string> argv;
    for (QString a : switches) argv.push_back(a.replace("%1", folder).toStdString());
    h.program.reset();
    h.Create(argv);
    return h.Start();
  };
  if (!before.isEmpty()) {
    QVERIFY(start(before));
    QCOMPARE(h.program->ExitStatus(), 0);
    h.boxes.clear();
    h.report.str({});
    h.ended = 0;
  }
  QVERIFY(start(args));

  QCOMPARE(h.BoxTexts(), ini.isEmpty() ? kNotices : QStringList{windows::PreReleaseNotice()});
  QCOMPARE(h.chooserCalls, 0);
  QCOMPARE(QString::fromStdString(h.report.str()).split('\n', Qt::SkipEmptyParts),
           said.replaceInStrings("%1", folder));
  if (status < 0) {
    QCOMPARE(h.ended, 0);
    QVERIFY(h.Conf()->isVisible() && h.Main()->isVisible());
    QCOMPARE(h.EntryPaths(), std::vector<std::string>{h.dir / "a.txt"});
  } else {
    QCOMPARE(h.ended, 1);
    QCOMPARE(h.program->ExitStatus(), status);
    if (ini.isEmpty()) QCOMPARE(h.IniValue("SYSTEM", "FIRSTEXEC"), std::string("0"));
  }
  std::set<std::string> names;
  for (const QString& entry : left) {
    const std::string name = entry.section('=', 0, 0).toStdString();
    const std::string bytes = ReadAll(h.dir / name);
    names.insert(name);
    if (entry.contains('=')) {
      QCOMPARE(bytes, entry.section('=', 1).toStdString());
    } else if (plain.count(name)) {
      QCOMPARE(bytes, plain.at(name));
    } else {
      QVERIFY2(bytes.find("alpha secret") == std::string::npos, name.c_str()); // not copied
    }
  }
  QCOMPARE(Names(h.dir.path()), names);
}

void TestStartup::singleFileToNamedOutput() {
  KeepCurrentDir keep;
  ProgramHarness h;
  const std::string start = h.dir / "start";
  const std::string prog = h.dir / "prog";
  std::filesystem::create_directory(start);
  std::filesystem::create_directory(prog);
  test::WriteAll(start + "/plain.txt", "the plain text");

  // Relative paths belong to the folder the program was started in, although the program's
  // own folder becomes the current directory.
  h.Create({"-A", "out.qk", "-P", "pw-pw-pw", "plain.txt"}, start, prog);
  QVERIFY(h.Start());
  QCOMPARE(QDir::currentPath(), Q(prog));
  QCOMPARE(h.BoxTexts(), kNotices);
  QCOMPARE(h.ended, 1);
  QCOMPARE(Names(start), (std::set<std::string>{"out.qk", "plain.txt"}));
  QVERIFY(Names(prog).empty());
  QVERIFY(!h.Conf()->isVisible());
  QVERIFY(!QString::fromStdString(h.report.str()).contains("instead of"));

  // Asked for again, the output takes another name, and the name written is said.
  h.program.reset();
  ProgramHarness again;
  again.ini = h.ini;
  again.Create({"-A", "out.qk", "-P", "pw-pw-pw", "plain.txt"}, start);
  QVERIFY(again.Start());
  QCOMPARE(again.program->ExitStatus(), 0);
  QVERIFY2(QString::fromStdString(again.report.str())
               .contains(Q("qk: -A output written to " + start + "/out.qk_RENAMED.qk instead of " +
                           start + "/out.qk\n")),
           again.report.str().c_str());
  again.program.reset();
  ::unlink((start + "/out.qk_RENAMED.qk").c_str());

  ProgramHarness back;
  back.ini = h.ini;
  back.Create({"-D", "-A", "back.txt", "-P", "pw-pw-pw", "out.qk"}, start);
  QVERIFY(back.Start());
  QCOMPARE(back.ended, 1);
  QCOMPARE(ReadAll(start + "/back.txt"), std::string("the plain text"));
}

// "-A" runs its one file as a list runs it: a decryption restores the stored date, and a name too
// long or a read-only source get the texts a list gives them; the source stays.
void TestStartup::singleOutputTakesTheRunsRules() {
  const auto report = [](const std::string& ini, const std::vector<std::string>& args) {
    ProgramHarness h;
    h.ini = ini;
    h.Create(args);
    if (!h.Start() || h.ended != 1) return QStringLiteral("did not end");
    return QString::fromStdString(h.report.str()).split('\n', Qt::SkipEmptyParts).value(0);
  };
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\nWIPESOURCE=1\nWIPEDECSOURCE=1\n");
  const std::string dated = h.File("dated.txt", "dated");
  const struct timespec when[2] = {{1562577010, 0}, {1562577010, 0}}; // 2019-07-08 09:10:10 UTC
  QCOMPARE(::utimensat(AT_FDCWD, dated.c_str(), when, 0), 0);
  const std::string container = h.dir / "dated.qk";
  const std::string back = h.dir / "back.txt";
  QVERIFY(report(h.ini, {"-A", container, "-P", "pw-pw-pw", dated}).startsWith("暗号化成功："));
  QVERIFY(report(h.ini, {"-D", "-A", back, "-P", "pw-pw-pw", container}).startsWith("復号成功"));
  QCOMPARE(ReadAll(back), std::string("dated"));
  QCOMPARE(QFileInfo(Q(back)).lastModified().toSecsSinceEpoch(), qint64{1562577010});
  QVERIFY(Exists(dated) && Exists(container)); // "-A" wipes nothing

  const std::string longName = h.File(std::string(200, 'n') + ".txt", "long");
  const std::string readOnly = h.File("read-only.txt", "ro");
  QCOMPARE(::chmod(readOnly.c_str(), 0444), 0);
  for (const std::string& source : {longName, readOnly}) {
    const QString single = report(h.ini, {"-A", h.dir / "out.qk", "-P", "pw-pw-pw", source});
    const QString listed = report(h.ini, {"-E", "-F", "-P", "pw-pw-pw", source});
    QVERIFY2(single.startsWith(QStringLiteral("＊暗号化失敗(")), qPrintable(single));
    QCOMPARE(single, listed);
    QVERIFY(!Exists(h.dir / "out.qk"));
  }
}

void TestStartup::emptyListOpensTheDialogOfTheMode() {
  {
    // Cancelled: the main window stays as it was.
    ProgramHarness h;
    h.Create({"-E"});
    QVERIFY(h.Start());
    QCOMPARE(h.chooserCalls, 1);
    QVERIFY(h.Main()->isVisible() && !h.Conf()->isVisible());
  }
  {
    ProgramHarness h;
    const std::string f = h.File("f.qk", "not really a container");
    h.choices.push_back({Q(f)});
    h.Create({"-D"});
    QVERIFY(h.Start());
    QCOMPARE(h.chooserCalls, 1);
    QVERIFY(h.Run().State().Mode == OperationMode::Decrypt);
    QCOMPARE(h.EntryPaths(), std::vector<std::string>{f});
    QVERIFY(!h.Main()->isVisible() && h.Conf()->isVisible());
  }
  {
    ProgramHarness h;
    h.Create({"-w"});
    QVERIFY(h.Start());
    QCOMPARE(h.chooserCalls, 0);
    QVERIFY(!h.Main()->isVisible() && h.Options()->isVisible());
  }
}

void TestStartup::dropsAndFileDialogsOnTheTargets() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nTOPWIPE=1\n");
  std::filesystem::create_directories(h.dir / "folder/sub");
  const std::string a = h.File("folder/a.txt", "a");
  const std::string b = h.File("folder/sub/b.txt", "b");
  const std::string loose = h.File("loose.txt", "l");
  h.Create();
  QVERIFY(h.Start());
  windows::TMainForm* main = h.Main();

  QVERIFY(test::DropPaths(*main->EncBitBtn, {Q(h.dir / "folder"), Q(h.dir / "missing"), Q(loose)}));
  QVERIFY(h.Run().State().Mode == OperationMode::Encrypt);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{a, b, loose}));
  QVERIFY(!main->isVisible() && h.Conf()->isVisible());
  h.Conf()->close();
  QVERIFY(main->isVisible() && !h.Conf()->isVisible());

  // Without subfolders; the list is refilled, not added to.
  h.Options()->IncSubFolderCheckBox->click();
  QVERIFY(test::DropPaths(*main->DecBitBtn, {Q(h.dir / "folder")}));
  QVERIFY(h.Run().State().Mode == OperationMode::Decrypt);
  QCOMPARE(h.EntryPaths(), std::vector<std::string>{a});
  h.Conf()->close();

  QVERIFY(test::DropPaths(*main->WipeBitBtn, {Q(loose)}));
  QVERIFY(h.Run().State().Mode == OperationMode::Wipe);
  h.Conf()->close();

  // The file dialog: cancelled leaves everything as it was; chosen files fill the list.
  QTest::mouseClick(main->EncBitBtn, Qt::LeftButton);
  QCOMPARE(h.chooserCalls, 1);
  QVERIFY(main->isVisible() && !h.Conf()->isVisible());
  QVERIFY(h.Run().State().Mode == OperationMode::Wipe);
  h.choices.push_back({Q(b), Q(a)});
  QTest::mouseClick(main->WipeBitBtn, Qt::LeftButton);
  QVERIFY(h.Run().State().Mode == OperationMode::Wipe);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{b, a}));
  QVERIFY(!main->isVisible() && h.Conf()->isVisible());
  QVERIFY(Exists(a) && Exists(b));
}

void TestStartup::filesRefusedWhileARunGoes() {
  ProgramHarness h;
  const std::string a = h.File("a.txt", std::string(300000, 'a'));
  const std::string b = h.File("b.txt", "b");
  const std::string other = h.File("other.txt", "o");
  bool sawRun = false;
  bool closeRefused = false;
  h.onBox = [&](const test::Box& box) {
    if (box.text != windows::FirstRunNotice()) return;
    // Runs at the first chance the wipe run gives to pending events.
    QTimer::singleShot(0, [&] {
      sawRun = h.Main()->RunInProgress();
      test::DropPaths(*h.Main()->EncBitBtn, {Q(other)});
      closeRefused = !h.Main()->close();
    });
  };
  h.Create({"-W", "-F", a, b});
  QVERIFY(h.Start());
  QVERIFY(sawRun);
  QVERIFY(closeRefused);
  QCOMPARE(h.ended, 1);
  QVERIFY(!Exists(a) && !Exists(b));
  QVERIFY(Exists(other));
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{a, b}));
}

// After a command-line start the main window stays usable while the list is open. Once a run
// goes, through every source wipe of it (encryption, decryption, re-encryption, three files and
// more), a drop on any target changes nothing and the window does not close.
void TestStartup::filesRefusedDuringEverySourceWipe() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\nPROCESSMSGINTV=1\nTOPWIPE=1\n");
  std::vector<std::string> files;
  for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
    files.push_back(h.File(name, test::RandomBytes(150000, 9)));
  }
  const std::string other = h.File("other.txt", "o");
  h.Create({"-E", files[0], files[1], files[2]});
  QVERIFY(h.Start());
  h.Conf()->SetPasswordDialog(
      [](bool) {
        return engine::BatchHost::PasswordAnswer{"pw", ""};
      },
      [](bool, bool) {});
  windows::TMainForm* main = h.Main();
  QVERIFY(main->isVisible() && h.Conf()->isVisible());

  int wipes = 0;
  QStringList wrong;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!h.Run().Running()) return;
    if (h.Conf()->findChild<QPushButton*>("SkipWipeBitBtn")->isVisible()) ++wipes;
    const auto before = h.EntryPaths();
    const OperationMode mode = h.Run().State().Mode;
    for (QPushButton* target : {main->EncBitBtn, main->DecBitBtn, main->WipeBitBtn}) {
      test::DropPaths(*target, {Q(other)});
    }
    // A close request stops the run (once the wipes were seen) and leaves the window open.
    if (wipes >= 3 && main->close()) wrong << "closed";
    if (h.EntryPaths() != before || h.Run().State().Mode != mode) wrong << "list refilled";
  });
  const auto run = [&](const char* button) {
    wipes = 0;
    probe.start();
    QTest::mouseClick(h.Conf()->findChild<QPushButton*>(button), Qt::LeftButton);
    probe.stop();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(", ")));
    QVERIFY(wipes >= 3);
  };

  run("OKBitBtn");
  for (const auto& path : files) QVERIFY(!Exists(path));
  h.Conf()->close();
  QVERIFY(main->isVisible());
  QVERIFY(test::DropPaths(*main->DecBitBtn,
                          {Q(files[0] + ".enc"), Q(files[1] + ".enc"), Q(files[2] + ".enc")}));
  run("OKBitBtn");
  for (const auto& path : files) QVERIFY(Exists(path));
  h.answers = {true};
  run("ReEncBitBtn");
  for (const auto& path : files) QVERIFY(!Exists(path) && Exists(path + ".enc"));
  QVERIFY(Exists(other));
  QCOMPARE(h.ended, 0);
}

// A list shown after a command-line start leaves the main window usable; files dropped on it or
// chosen there refill the list, and the question, the count and the mode that OK runs agree.
void TestStartup::refilledListAsksItsOwnQuestion() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
  const std::string a = h.File("a.txt", "a");
  const std::string b = h.File("b.txt", "b");
  const std::string c = h.File("c.txt", "c");
  h.Create({"-E", a, b});
  QVERIFY(h.Start());
  const auto label = [&] { return h.Conf()->findChild<QLabel*>("Label1")->text(); };
  QVERIFY(label().startsWith(QStringLiteral("以上2個のファイルを暗号化します。")));
  QVERIFY(h.Main()->isVisible());

  QVERIFY(test::DropPaths(*h.Main()->DecBitBtn, {Q(a), Q(b), Q(c)}));
  QVERIFY(h.Run().State().Mode == OperationMode::Decrypt);
  QCOMPARE(h.Conf()->windowTitle(), QStringLiteral("ファイルの復号"));
  QVERIFY2(label().startsWith(QStringLiteral("以上3個のファイルを復号します。")),
           qPrintable(label()));
  QCOMPARE(h.Conf()->findChild<QTableWidget*>("ListView")->rowCount(), 3);

  h.choices.push_back({Q(c)});
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  if (!h.Main()->isVisible()) h.Main()->show();
  QVERIFY(h.Run().State().Mode == OperationMode::Encrypt);
  QCOMPARE(h.Conf()->windowTitle(), QStringLiteral("ファイルの暗号化"));
  QVERIFY(label().startsWith(QStringLiteral("以上1個のファイルを暗号化します。")));
}

void TestStartup::refusedSecondStart() {
  const QString refusal = QStringLiteral("すでに起動しています。");
  ProgramHarness h;
  const std::string a = h.File("a.txt", "a");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  for (const Case& c : std::vector<Case>{{{"-E", "-F", "-P", "pw-pw-pw", a}, 1},
                                         {{"-W", "-F", a}, 1},
                                         {{"-A", "out", "-P", "pw-pw-pw", a}, 1},
                                         {{"-E", "-F", a}, 0},
                                         {{"-E", a}, 0},
                                         {{}, 0}}) {
    h.boxes.clear();
    std::ostringstream said;
    QCOMPARE(windows::RefuseSecondStart(c.args, said), c.status);
    // A run without questions ends at once; only a start that asks the user shows the box.
    QCOMPARE(h.BoxTexts(), c.status == 0 ? QStringList{refusal} : QStringList());
    QCOMPARE(QString::fromStdString(said.str()),
             c.status == 0 ? QString() : QStringLiteral("qk: ") + refusal + '\n');
  }
  QCOMPARE(ReadAll(a), std::string("a"));
}

// A second start that would ask the user hands its mode and paths to the copy that runs, which
// comes to the front and lists them as if they had been dropped, while it is idle; never the
// password. A busy copy, or a start that asks for a run without questions, is not handed anything.
void TestStartup::secondStartHandsItsPathsOver() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
  const std::string a = h.File("a.txt", "a");
  const std::string b = h.File("b.txt", "b");
  h.Create();
  QVERIFY(h.Start());
  const std::string socket = h.dir / "qk.sock";
  QVERIFY(h.program->ListenForHandOver(socket));
  // The start runs beside the program's event loop, as another process would.
  const auto start = [&](const std::vector<std::string>& args) {
    const auto request = core::HandOverOf(args, h.dir.path());
    if (!request) return -1;
    std::atomic<int> taken{-1};
    std::thread second([&] { taken = platform::HandOverTo(socket, *request) ? 1 : 0; });
    const bool answered = QTest::qWaitFor([&] { return taken != -1; }, 10000);
    second.join();
    h.Settle();
    return answered ? taken.load() : -2;
  };
  QCOMPARE(start({"-E", "-F", "-P", "pw-pw-pw", a}), -1);
  QCOMPARE(start({"-D", "-P", "secret", "-I", "--", "a.txt", b}), 1);
  QVERIFY(h.Conf()->isVisible() && !h.Main()->isVisible());
  QVERIFY(h.Run().State().Mode == engine::OperationMode::Decrypt);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{a, b}));
  QVERIFY(h.Run().State().Password.Empty() && !h.Run().State().ExitAfterRun);
  // The list is open: the next start is told that a copy runs.
  QCOMPARE(start({"-W", a}), 0);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{a, b}));
  h.Conf()->close();
  // Without paths the window only comes to the front.
  h.Main()->showMinimized();
  QCOMPARE(start({}), 1);
  QVERIFY(h.Main()->isVisible() && !h.Main()->isMinimized() && !h.Conf()->isVisible());
  QCOMPARE(h.ended, 0);
}

void TestStartup::missingPathsAreToldNotAnsweredWithADialog() {
  {
    ProgramHarness h;
    h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
    h.Create({"-D", "gone.enc", "also\ngone"});
    QVERIFY(h.Start());
    QCOMPARE(h.chooserCalls, 0);
    QVERIFY(h.boxes.back().kind == BoxKind::Warning);
    QCOMPARE(h.boxes.back().text, QStringLiteral("ファイルが見つかりません：\ngone.enc\nalso") +
                                      QChar(0x240A) + QStringLiteral("gone"));
    QVERIFY(h.Main()->isVisible() && !h.Conf()->isVisible());
    QCOMPARE(h.ended, 0);
  }
  {
    // With a file that is there, its list comes after the warning.
    ProgramHarness h;
    h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
    const std::string a = h.File("a.txt", "a");
    h.Create({"-E", "gone.txt", a});
    QVERIFY(h.Start());
    QCOMPARE(h.chooserCalls, 0);
    QVERIFY(h.BoxTexts().contains(QStringLiteral("ファイルが見つかりません：\ngone.txt")));
    QCOMPARE(h.EntryPaths(), std::vector<std::string>{a});
    QVERIFY(h.Conf()->isVisible());
  }
}

void TestStartup::folderOnTheOptionsWipeBin() {
  ProgramHarness h;
  std::filesystem::create_directories(h.dir / "folder/sub");
  const std::string a = h.File("folder/a.txt", "a");
  const std::string b = h.File("folder/sub/b.txt", "b");
  h.Create();
  QVERIFY(h.Start());
  QTest::mouseClick(h.Main()->OptionBitBtn, Qt::LeftButton);
  windows::TOptionDlg* o = h.Options();
  QVERIFY(o->isVisible() && !h.Main()->isVisible());

  QVERIFY(test::DropPaths(*o->Panel1, {Q(h.dir / "folder")}));
  QVERIFY(h.Run().State().Mode == OperationMode::Wipe);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{a, b}));
  QVERIFY(h.Conf()->isVisible() && !o->isVisible() && !h.Main()->isVisible());
  QCOMPARE(h.Conf()->windowTitle(), QStringLiteral("ファイルの抹消"));
  // Closing the list goes back to the options, not to the main window.
  h.Conf()->close();
  QVERIFY(o->isVisible() && !h.Main()->isVisible());

  o->IncSubFolderCheckBox->click();
  QVERIFY(test::DropPaths(*o->Panel1, {Q(h.dir / "folder")}));
  QCOMPARE(h.EntryPaths(), std::vector<std::string>{a});
  h.Conf()->close();

  // The button opens the file dialog; cancelling it does nothing.
  QTest::mouseClick(o->WipeSpeedButton, Qt::LeftButton);
  QCOMPARE(h.chooserCalls, 1);
  QVERIFY(o->isVisible() && !h.Conf()->isVisible());
  h.choices.push_back({Q(b)});
  QTest::mouseClick(o->WipeSpeedButton, Qt::LeftButton);
  QCOMPARE(h.EntryPaths(), std::vector<std::string>{b});
  QVERIFY(h.Conf()->isVisible());
  QVERIFY(Exists(a) && Exists(b));
}

void TestStartup::f1OpensTheManualFromEveryButton() {
  UrlRecorder recorder;
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nTOPWIPE=1\n");
  h.Create();
  QVERIFY(h.Start());
  windows::TMainForm* main = h.Main();
  for (QPushButton* button :
       {main->EncBitBtn, main->DecBitBtn, main->OptionBitBtn, main->WipeBitBtn}) {
    QTest::keyClick(button, Qt::Key_F1);
    QTest::keyClick(button, Qt::Key_F2);
  }
  QCOMPARE(recorder.urls.size(), 4);
  for (const QUrl& url : recorder.urls) {
    QVERIFY(url.isLocalFile());
    // The manual is found from wherever the program runs, here the build tree.
    QVERIFY2(QFileInfo(url.toLocalFile()).isFile(), qPrintable(url.toLocalFile()));
    QVERIFY(url.toLocalFile().endsWith("/manual/index.html"));
  }
  // No file dialog or list came up on the way.
  QCOMPARE(h.chooserCalls, 0);
  QVERIFY(main->isVisible());
  QCOMPARE(h.BoxTexts(), kNotices);
}

// The file dialog opens in the folder last chosen from, else in the home folder; never in the
// program's own folder (whose files the default source wipe would take).
void TestStartup::fileDialogStartsInTheLastFolder() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\nTOPWIPE=1\n");
  h.Create();
  QVERIFY(h.Start());
  QCOMPARE(windows::ChooserFolder(), QDir::homePath());
  QVERIFY(windows::ChooserFolder() != QCoreApplication::applicationDirPath());
  std::filesystem::create_directories(h.dir / "docs");
  const std::string a = h.File("docs/a.txt", "a");
  h.choices.push_back({Q(a)});
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  QCOMPARE(windows::ChooserFolder(), Q(h.dir / "docs"));
  h.Conf()->close();
  // Cancelled: the folder stays; a folder that has gone: home again.
  QTest::mouseClick(h.Main()->WipeBitBtn, Qt::LeftButton);
  QCOMPARE(windows::ChooserFolder(), Q(h.dir / "docs"));
  // QK.ini keeps it for the next start.
  QVERIFY(h.Main()->close());
  QCOMPARE(h.IniValue("SYSTEM", "LASTFOLDER"), h.dir / "docs");
  h.program.reset();
  windows::SetLastChosenFolder({});
  ProgramHarness next;
  next.ini = h.ini;
  next.Create();
  QVERIFY(next.Start());
  QCOMPARE(windows::ChooserFolder(), Q(h.dir / "docs"));
  std::filesystem::remove_all(h.dir / "docs");
  QCOMPARE(windows::ChooserFolder(), QDir::homePath());
}

// F1 never does nothing: a missing manual, or no program to show it, is said with the path.
void TestStartup::f1SaysWhyNoManualOpens() {
  ProgramHarness h;
  h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
  h.Create();
  QVERIFY(h.Start());
  const std::size_t notices = h.boxes.size();
  {
    UrlRecorder recorder;
    windows::SetManualFolder(Q(h.dir / "nowhere"));
    QTest::keyClick(h.Main()->OptionBitBtn, Qt::Key_F1);
    windows::SetManualFolder({});
    QVERIFY(recorder.urls.isEmpty());
  }
  QCOMPARE(h.boxes.size(), notices + 1);
  QVERIFY(h.boxes.back().kind == BoxKind::Warning);
  QCOMPARE(h.boxes.back().text,
           QStringLiteral("マニュアルが見つかりません。\n") + Q(h.dir / "nowhere/index.html"));

  // No program takes the address (the offscreen platform has none).
  QTest::keyClick(h.Main()->OptionBitBtn, Qt::Key_F1);
  QCOMPARE(h.boxes.size(), notices + 2);
  QVERIFY(h.boxes.back().text.startsWith(
      QStringLiteral("マニュアルを表示するプログラムが見つかりません。\n")));
  QVERIFY(h.boxes.back().text.endsWith("/manual/index.html"));
}

// The list window comes back at the size it was left at, fitted to the screen of the day; a size
// the file cannot give (none, or out of bounds) leaves the window at its own.
void TestStartup::listWindowSizeIsKeptAcrossStarts() {
  const QRect screen(0, 0, 1366, 768);
  const struct {
    QSize wanted, minimum, expected;
  } cases[] = {
      {{900, 500}, {402, 222}, {900, 500}},
      {{5000, 5000}, {402, 222}, {1350, 720}}, // less the frame's room
      {{10, 10}, {402, 222}, {402, 222}},      // never below the minimum
      {{1350, 720}, {402, 222}, {1350, 720}},  // exactly the room there is
      {{900, 500}, {2000, 1000}, {1350, 720}}, // a screen smaller than the minimum wins
  };
  for (const auto& c : cases)
    QCOMPARE(windows::FitToScreen(c.wanted, c.minimum, screen), c.expected);

  const std::string file = "[SYSTEM]\nFIRSTEXEC=0\n";
  test::TempDir shared;
  const std::string ini = shared / "QK.ini";
  const auto start = [&](ProgramHarness& h) {
    h.ini = ini;
    h.Create();
    QVERIFY(h.Start());
  };
  {
    // Nothing stored and the list never shown: nothing to remember.
    test::WriteAll(ini, file);
    ProgramHarness h;
    start(h);
    QCOMPARE(h.Conf()->size(), QSize(604, 334));
    QVERIFY(h.Main()->close());
    QCOMPARE(h.IniValue("WINDOWPOS", "LISTWIDTH"), std::string("<missing>"));
  }
  {
    test::WriteAll(ini, "[WINDOWPOS]\nLISTWIDTH=700\nLISTHEIGHT=400\n" + file);
    ProgramHarness h;
    start(h);
    QCOMPARE(h.Conf()->size(), QSize(700, 400));
    h.program->ShowFiles(OperationMode::Encrypt, {Q(h.File("a.txt", "a"))}, h.Main());
    h.Conf()->resize(650, 380);
    // The window system may tell the new size a moment later.
    QTRY_COMPARE(h.Model().ListWidth, 650);
    h.Conf()->close();
    h.Conf()->resize(500, 300); // hidden: not what the user left it at
    QVERIFY(h.Main()->close());
    QCOMPARE(h.IniValue("WINDOWPOS", "LISTWIDTH"), std::string("650"));
    QCOMPARE(h.IniValue("WINDOWPOS", "LISTHEIGHT"), std::string("380"));
  }
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  for (const char* stored : {"LISTWIDTH=16000\nLISTHEIGHT=16000", "LISTWIDTH=0x7FFF\nLISTHEIGHT=1",
                             "LISTWIDTH=-1\nLISTHEIGHT=-1", "LISTWIDTH=big\nLISTHEIGHT=300"}) {
    test::WriteAll(ini, std::string("[WINDOWPOS]\n") + stored + "\n" + file);
    ProgramHarness h;
    start(h);
    const QRect placed = h.Conf()->geometry();
    QVERIFY2(area.contains(placed), stored);
    QVERIFY2(h.Conf()->width() >= h.Conf()->minimumWidth() &&
                 h.Conf()->height() >= h.Conf()->minimumHeight(),
             stored);
    if (std::string(stored).find("16000") != std::string::npos) {
      QCOMPARE(h.Conf()->size(), area.size() - windows::kFrameAllowance);
    } else {
      QCOMPARE(h.Conf()->size(), QSize(604, 334));
    }
  }
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
