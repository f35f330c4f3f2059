// The real file dialog of the targets and of the wipe bin, driven as a user would: encryption and
// the wipe take folders as well as files (the folder button), decryption takes files; each
// dialog's caption says what it is for; the dialog's own button still opens a folder.
#include "windows/ProgramHarness.h"

#include "windows/Hash.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <functional>

using namespace qk;
using test::ProgramHarness;
using windows::Q;
using windows::TFileChooserDialog;

namespace {

// act runs on the file dialog once it is open. The dialog is modal: the click that opens it
// returns when it closes. A dialog that act leaves open is cancelled, so that no test hangs.
void WhenChooserOpens(std::function<void(TFileChooserDialog*)> act) {
  auto* timer = new QTimer;
  timer->setInterval(10);
  QObject::connect(timer, &QTimer::timeout, [timer, act] {
    auto* dialog = qobject_cast<TFileChooserDialog*>(QApplication::activeModalWidget());
    if (!dialog) return;
    timer->stop();
    timer->deleteLater();
    act(dialog);
    if (dialog->isVisible()) dialog->reject();
  });
  timer->start();
}

// Types name into the dialog's file name box, as a user would (a name in the folder shown).
void TypeName(QFileDialog* dialog, const QString& name) {
  auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(edit);
  edit->setFocus();
  edit->selectAll();
  QTest::keyClicks(edit, name);
}

// The dialog's Open button once the dialog has found what was typed (it reads folders in the
// background and enables the button when the name is there).
QPushButton* OpenWhenReady(QFileDialog* dialog);

// The dialog's own button (Open).
QPushButton* OpenButton(QFileDialog* dialog) {
  auto* box = dialog->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  return box ? box->button(QDialogButtonBox::Open) : nullptr;
}

QPushButton* OpenWhenReady(QFileDialog* dialog) {
  QPushButton* open = OpenButton(dialog);
  if (!QTest::qWaitFor([open] { return open->isEnabled(); }, 3000)) qWarning("Open stays disabled");
  return open;
}

// The program with the real dialog, over a folder "docs" with a file, a subfolder and a file in
// it, and a loose file beside it.
struct RealDialog : ProgramHarness {
  std::string docs = dir / "docs";
  std::string a, b, loose;
  RealDialog() {
    WriteIni("[SYSTEM]\nFIRSTEXEC=0\nTOPWIPE=1\n");
    std::filesystem::create_directories(docs + "/sub");
    a = File("docs/a.txt", "a");
    b = File("docs/sub/b.txt", "b");
    loose = File("loose.txt", "l");
    Create();
    if (!Start()) qFatal("start-up did not finish");
    windows::SetFileChooser({});
  }
};

} // namespace

class TestFileChooser : public QObject {
  Q_OBJECT

private slots:
  void encryptionTakesAFolder();
  void folderButtonWithoutSelectionTakesTheShownFolder();
  void openButtonTakesFilesAndOpensFolders();
  void decryptionTakesFilesOnly();
  void wipeBinsTakeFolders();
  void missingEntryKeepsTheDialogOpen();
  void hashWindowChoosesOneFileWhereTheOthersDid();
};

void TestFileChooser::encryptionTakesAFolder() {
  RealDialog h;
  QString caption;
  bool hadButton = false;
  WhenChooserOpens([&](TFileChooserDialog* d) {
    caption = d->windowTitle();
    hadButton = d->FolderButton && d->FolderButton->isVisible();
    QVERIFY(d->testOption(QFileDialog::DontUseNativeDialog));
    d->setDirectory(Q(h.dir.path()));
    TypeName(d, QStringLiteral("docs"));
    d->FolderButton->click();
  });
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  QCOMPARE(caption, QStringLiteral("暗号化するファイル・フォルダを選択"));
  QVERIFY(hadButton);
  QVERIFY(h.Conf()->isVisible());
  QVERIFY(h.Run().State().Mode == engine::OperationMode::Encrypt);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{h.a, h.b}));
  // The next dialog opens where the folder was chosen.
  QCOMPARE(windows::ChooserFolder(), Q(h.dir.path()));
}

void TestFileChooser::folderButtonWithoutSelectionTakesTheShownFolder() {
  RealDialog h;
  WhenChooserOpens([&](TFileChooserDialog* d) {
    d->setDirectory(Q(h.docs + "/sub"));
    d->FolderButton->click();
  });
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  QCOMPARE(h.EntryPaths(), std::vector<std::string>{h.b});
}

void TestFileChooser::openButtonTakesFilesAndOpensFolders() {
  RealDialog h;
  QString shownAfterOpen;
  bool stayedOpen = false;
  // The dialog's own button on a folder goes into it, as everywhere.
  WhenChooserOpens([&](TFileChooserDialog* d) {
    d->setDirectory(Q(h.dir.path()));
    TypeName(d, QStringLiteral("docs"));
    OpenWhenReady(d)->click();
    stayedOpen = d->isVisible();
    shownAfterOpen = d->directory().absolutePath();
    d->reject();
  });
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  QVERIFY(stayedOpen);
  QCOMPARE(shownAfterOpen, Q(h.docs));
  QVERIFY(h.Run().Entries().empty());
  // On a file it takes the file.
  WhenChooserOpens([&](TFileChooserDialog* d) {
    d->setDirectory(Q(h.docs));
    TypeName(d, QStringLiteral("a.txt"));
    OpenWhenReady(d)->click();
  });
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  QCOMPARE(h.EntryPaths(), std::vector<std::string>{h.a});
}

void TestFileChooser::decryptionTakesFilesOnly() {
  RealDialog h;
  QString caption;
  bool hasButton = true;
  WhenChooserOpens([&](TFileChooserDialog* d) {
    caption = d->windowTitle();
    hasButton = d->FolderButton != nullptr || d->findChild<QPushButton*>("FolderButton");
    QCOMPARE(d->fileMode(), QFileDialog::ExistingFiles);
    d->reject();
  });
  QTest::mouseClick(h.Main()->DecBitBtn, Qt::LeftButton);
  QCOMPARE(caption, QStringLiteral("復号するファイルを選択"));
  QVERIFY(!hasButton);
  QVERIFY(!h.Conf()->isVisible());
  QVERIFY(h.Main()->isVisible());
}

void TestFileChooser::wipeBinsTakeFolders() {
  RealDialog h;
  QStringList captions;
  const auto chooseDocs = [&](TFileChooserDialog* d) {
    captions << d->windowTitle();
    d->setDirectory(Q(h.dir.path()));
    TypeName(d, QStringLiteral("docs"));
    d->FolderButton->click();
  };
  // The main window's wipe bin.
  WhenChooserOpens(chooseDocs);
  QTest::mouseClick(h.Main()->WipeBitBtn, Qt::LeftButton);
  QVERIFY(h.Run().State().Mode == engine::OperationMode::Wipe);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{h.a, h.b}));
  h.Conf()->close();
  // The options dialog's.
  QTest::mouseClick(h.Main()->OptionBitBtn, Qt::LeftButton);
  WhenChooserOpens(chooseDocs);
  QTest::mouseClick(h.Options()->WipeSpeedButton, Qt::LeftButton);
  QVERIFY(h.Run().State().Mode == engine::OperationMode::Wipe);
  QCOMPARE(h.EntryPaths(), (std::vector<std::string>{h.a, h.b}));
  QCOMPARE(captions, QStringList(2, QStringLiteral("抹消するファイル・フォルダを選択")));
  QCOMPARE(h.Options()->WipeSpeedButton->accessibleName(), captions.front());
}

void TestFileChooser::missingEntryKeepsTheDialogOpen() {
  RealDialog h;
  bool stayedOpen = false;
  WhenChooserOpens([&](TFileChooserDialog* d) {
    d->setDirectory(Q(h.dir.path()));
    TypeName(d, QStringLiteral("gone"));
    d->FolderButton->click();
    stayedOpen = d->isVisible();
  });
  QTest::mouseClick(h.Main()->EncBitBtn, Qt::LeftButton);
  QVERIFY(stayedOpen);
  QVERIFY(!h.Conf()->isVisible());
  QVERIFY(h.Run().Entries().empty());
}

// The SHA-1 window's dialog says what it is for, takes one file, and opens where the last file
// was chosen.
void TestFileChooser::hashWindowChoosesOneFileWhereTheOthersDid() {
  RealDialog h;
  windows::SetLastChosenFolder(Q(h.docs));
  windows::THashForm* hash = h.program->HashForm.get();
  hash->show();
  QString caption, folder;
  QFileDialog::FileMode mode = QFileDialog::Directory;
  bool hasButton = true;
  WhenChooserOpens([&](TFileChooserDialog* d) {
    caption = d->windowTitle();
    folder = d->directory().absolutePath();
    mode = d->fileMode();
    hasButton = d->FolderButton != nullptr;
    QVERIFY(d->width() >= 600);
    d->reject();
  });
  QTest::mouseClick(hash->OpenButton, Qt::LeftButton);
  QCOMPARE(caption, QStringLiteral("SHA-1ハッシュを計算するファイルを選択"));
  QCOMPARE(folder, Q(h.docs));
  QCOMPARE(mode, QFileDialog::ExistingFile);
  QVERIFY(!hasButton);
  hash->close();
}

QTEST_MAIN(TestFileChooser)
#include "tst_file_chooser.moc"
