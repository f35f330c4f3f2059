// The confirmation window over real files in a temporary folder, with the message boxes and the
// password dialog answered by script.
#include "platform/File.h"
#include "support/TestSupport.h"
#include "windows/ConfDlg.h"
#include "windows/MessageBoxes.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <QToolTip>

#include <deque>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using qk::engine::OperationMode;
using qk::test::Exists;
using qk::test::WriteAll;
using qk::windows::BoxKind;
using qk::windows::Q;
using qk::windows::TConfirmationDlg;

namespace {

const QString kAllDone = QStringLiteral("全てのファイル/フォルダを正常に処理しました。");

// One window with its return form, scripted boxes and a scripted password dialog.
struct Harness {
  qk::settings::SettingsModel model;
  qk::test::TempDir dir;
  QWidget returnForm;
  std::unique_ptr<TConfirmationDlg> dlg;

  std::vector<std::pair<BoxKind, QString>> boxes;
  std::deque<bool> answers; // answers to the boxes, in order; No once they run out
  std::optional<qk::engine::BatchHost::PasswordAnswer> password;
  std::vector<bool> askedForDecrypt;
  std::vector<std::pair<bool, bool>> clears;

  Harness() {
    model.WipeSource = false;
    model.WipeDecSource = false;
    dlg = std::make_unique<TConfirmationDlg>(model);
    dlg->SetPasswordDialog(
        [this](bool forDecrypt) -> std::optional<qk::engine::BatchHost::PasswordAnswer> {
          askedForDecrypt.push_back(forDecrypt);
          if (!password) return std::nullopt;
          return qk::engine::BatchHost::PasswordAnswer{password->password.Copy(), password->hint};
        },
        [this](bool pass, bool hint) { clears.emplace_back(pass, hint); });
    qk::windows::SetBoxResponder([this](BoxKind kind, const QString& text) {
      boxes.emplace_back(kind, text);
      if (answers.empty()) return false;
      const bool answer = answers.front();
      answers.pop_front();
      return answer;
    });
  }
  ~Harness() { qk::windows::SetBoxResponder({}); }

  std::string File(const std::string& name, const std::string& bytes) {
    const std::string path = dir / name;
    WriteAll(path, bytes);
    return path;
  }

  // What a caller does: clear, set the mode, add, show, ShowList.
  void Fill(OperationMode mode, const std::vector<std::string>& paths) {
    auto& run = dlg->Run();
    run.ClearList();
    run.State().Mode = mode;
    for (const auto& path : paths) run.AddFile(path);
    dlg->SetReturnForm(&returnForm);
    returnForm.hide();
    dlg->show();
    run.ShowList();
  }

  QTableWidget* List() const { return dlg->findChild<QTableWidget*>("ListView"); }
  QLabel* Label() const { return dlg->findChild<QLabel*>("Label1"); }
  QPushButton* Button(const char* name) const { return dlg->findChild<QPushButton*>(name); }
  QString Cell(int row, int column) const { return List()->item(row, column)->text(); }
  QString Header(int column) const { return List()->horizontalHeaderItem(column)->text(); }
  void Click(const char* name) { QTest::mouseClick(Button(name), Qt::LeftButton); }
  // The columns side by side fill the list's viewport: none is cut off at its right edge, and
  // there is nothing to scroll to.
  bool ColumnsFillTheList() const {
    QTableWidget* list = List();
    int right = 0;
    for (int column = 0; column < list->columnCount(); ++column) right += list->columnWidth(column);
    return right == list->viewport()->width() && list->horizontalScrollBar()->maximum() == 0;
  }
  // The caption of column is shown whole.
  bool CaptionWhole(int column) const {
    return List()->columnWidth(column) >= List()->horizontalHeader()->sectionSizeHint(column);
  }
  // The window shows what its run holds: the captions, the question or the closing text, every
  // row, and which buttons are there and take input (only while the run lets the dialog take
  // input). Says the differences when there are any.
  bool ShowsTheRun() const {
    const qk::engine::BatchRun& run = dlg->Run();
    const qk::engine::DialogState& d = run.Dialog();
    QStringList wrong;
    const auto check = [&](const QString& what, const QVariant& shown, const QVariant& held) {
      if (shown != held) wrong << what + ": " + shown.toString() + " instead of " + held.toString();
    };
    check("title", dlg->windowTitle(), Q(d.Caption));
    check("label", Label()->text(), Q(d.Label1));
    // The output column names the containers of an encryption; a column with nothing to say
    // is not shown.
    const bool encrypting = dlg->Run().State().Mode == OperationMode::Encrypt;
    const auto output = [&](const qk::engine::ListEntry& entry) {
      const bool wrote = encrypting && entry.Result && qk::engine::Succeeded(entry.Result->outcome);
      return entry.Sub2.empty() && wrote ? entry.Result->output : entry.Sub2;
    };
    bool outputs = !d.Column2Caption.empty();
    for (const auto& entry : run.Entries()) outputs = outputs || !output(entry).empty();
    check("column 1", Header(1), Q(d.Column1Caption));
    check("column 2", Header(2),
          d.Column2Caption.empty() && encrypting ? QStringLiteral("暗号化後ファイル名")
                                                 : Q(d.Column2Caption));
    check("column 1 shown", !List()->isColumnHidden(1), !d.Column1Caption.empty());
    check("column 2 shown", !List()->isColumnHidden(2), outputs);
    check("close caption", Button("CloseBitBtn")->text(), Q(d.CloseCaption));
    const bool live = d.DialogEnabled;
    check("list on", List()->isEnabled(), live && d.ListEnabled);
    const std::pair<const char*, std::pair<bool, bool>> buttons[] = {
        {"OKBitBtn", {d.OKVisible, d.OKEnabled}},
        {"CloseBitBtn", {true, d.CloseEnabled}},
        {"SkipWipeBitBtn", {d.SkipWipeVisible, d.SkipWipeEnabled}},
        {"ReEncBitBtn", {d.ReEncVisible, d.ReEncEnabled}}};
    for (const auto& [name, state] : buttons) {
      check(QString(name) + " shown", !Button(name)->isHidden(), state.first);
      check(QString(name) + " on", Button(name)->isEnabled(), live && state.second);
    }
    const auto& entries = run.Entries();
    check("rows", List()->rowCount(), static_cast<int>(entries.size()));
    for (int row = 0; row < std::min(List()->rowCount(), static_cast<int>(entries.size())); ++row) {
      const qk::engine::ListEntry& entry = entries[static_cast<std::size_t>(row)];
      check("name cell", Cell(row, 0), qk::windows::ShownText(entry.Caption));
      check("hint cell", Cell(row, 1), qk::windows::ShownText(entry.Sub1));
      check("output cell", Cell(row, 2), qk::windows::ShownText(output(entry)));
    }
    if (!wrong.isEmpty()) qWarning("%s", qPrintable(wrong.join('\n')));
    return wrong.isEmpty();
  }
};

} // namespace

class TestConfirmationWindow : public QObject {
  Q_OBJECT

private slots:
  void windowAndListLayout();
  void encryptRun();
  void decryptRunThenReEncrypt();
  void wipeRunAsksBeforeWiping();
  void deleteKeyRemovesSelectedEntries();
  void sourceWipeLeavesOnlySkipLive();
  void everySourceWipeOfALongRunLeavesOnlySkipLive();
  void okIsTheDefaultButtonOfEveryList();
  void decryptionKeepsTheRememberedHint();
  void listCellsKeepTheirLine();
  void listCellsShowNamesInTheirOrder_data();
  void listCellsShowNamesInTheirOrder();
  void unattendedRunsEndTheProgram();
  void resizableWithColumnsFittingTheirResults();
  void failuresTellWhyAndEmptyListsCannotRun();
  void wipeAfterwardsIsSaidBeforeTheRun();
};

void TestConfirmationWindow::windowAndListLayout() {
  Harness h;
  h.Fill(OperationMode::Encrypt, {h.File("a.txt", "a")});
  QCOMPARE(h.dlg->size(), QSize(604, 334));
  QVERIFY(!h.dlg->windowFlags().testFlag(Qt::WindowCloseButtonHint));

  QTableWidget* list = h.List();
  QTRY_VERIFY(h.ColumnsFillTheList());
  QCOMPARE(h.Header(0), QStringLiteral("ファイル名"));
  QVERIFY(!list->horizontalHeader()->sectionsClickable());
  QCOMPARE(list->selectionMode(), QAbstractItemView::ExtendedSelection);

  // The label spans the window above the buttons; the extra buttons wait hidden.
  QLabel* label = h.Label();
  QCOMPARE(label->height(), 42);
  QCOMPARE(label->width(), list->width());
  QVERIFY(label->geometry().bottom() < h.Button("OKBitBtn")->geometry().top());
  QVERIFY(list->geometry().bottom() < label->geometry().top());
  QVERIFY(h.Button("SkipWipeBitBtn")->isHidden());
  QVERIFY(!h.Button("SkipWipeBitBtn")->isEnabled());
  QVERIFY(h.Button("ReEncBitBtn")->isHidden());
}

// The window shows its run before and after it, a failed row among the others (the run's texts
// and files are the engine's tests'); leaving the password dialog without OK runs nothing.
void TestConfirmationWindow::encryptRun() {
  Harness h;
  const std::string ro = h.File("ro.txt", "read only");
  chmod(ro.c_str(), 0400);
  h.Fill(OperationMode::Encrypt, {h.File("a.txt", "alpha"), h.File("日本語.txt", "b"), ro});
  QVERIFY(h.ShowsTheRun());

  h.Click("OKBitBtn");
  QCOMPARE(h.askedForDecrypt, std::vector<bool>{false});
  QVERIFY(h.Button("OKBitBtn")->isVisible());
  QVERIFY(h.ShowsTheRun());

  h.password = {{"correct horse", "馬"}};
  h.Click("OKBitBtn");
  // Default options: the password fields are emptied, the hint is kept.
  QCOMPARE(h.clears, (std::vector<std::pair<bool, bool>>{{true, false}}));
  QVERIFY(h.Button("OKBitBtn")->isHidden());
  QVERIFY(h.ShowsTheRun());
  QCOMPARE(h.dlg->focusWidget(), h.Button("CloseBitBtn"));
  QCOMPARE(h.Cell(1, 2), Q(h.dir / "日本語.txt.enc"));
  QCOMPARE(h.Cell(2, 2), QString());
  QTRY_VERIFY(h.ColumnsFillTheList());

  // Entries stay put once the run is over.
  h.List()->selectRow(0);
  QTest::keyClick(h.List(), Qt::Key_Delete);
  QCOMPARE(h.List()->rowCount(), 3);

  h.Click("CloseBitBtn");
  QVERIFY(!h.dlg->isVisible());
  QVERIFY(h.returnForm.isVisible());
  QVERIFY(!h.dlg->Run().State().ListShown);
}

void TestConfirmationWindow::decryptRunThenReEncrypt() {
  Harness h;
  h.model.WipeSource = true;
  h.model.WipeDecSource = true;
  const std::string one = h.File("one.txt", "first file");
  const std::string two = h.File("two.txt", "second file");
  h.password = {{"pw-1234567", "誕生日"}};
  h.Fill(OperationMode::Encrypt, {one, two});
  h.Click("OKBitBtn");
  h.Click("CloseBitBtn");

  // The hints stored in the containers before the run, the decrypted files after it.
  h.Fill(OperationMode::Decrypt, {one + ".enc", two + ".enc"});
  QCOMPARE(h.Cell(1, 1), QStringLiteral("誕生日"));
  QVERIFY(h.ShowsTheRun());
  h.password = {{"pw-1234567", "another hint"}};
  h.Click("OKBitBtn");
  QCOMPARE(h.askedForDecrypt.back(), true);
  QCOMPARE(h.Cell(1, 2), Q(two));
  QVERIFY(h.Button("ReEncBitBtn")->isVisible());
  QVERIFY(h.ShowsTheRun());

  // Re-encryption asks first; after Yes it runs without the password dialog.
  const std::size_t asks = h.askedForDecrypt.size();
  h.answers = {false, true};
  h.Click("ReEncBitBtn");
  QCOMPARE(h.boxes.size(), std::size_t{1});
  QCOMPARE(h.boxes[0].first, BoxKind::Confirmation);
  QVERIFY(h.Button("ReEncBitBtn")->isVisible());
  h.Click("ReEncBitBtn");
  QCOMPARE(h.askedForDecrypt.size(), asks);
  QCOMPARE(h.Cell(0, 0), QStringLiteral("暗号化成功：") + Q(one));
  QVERIFY(h.Button("ReEncBitBtn")->isHidden());
  QVERIFY(h.ShowsTheRun());
}

void TestConfirmationWindow::wipeRunAsksBeforeWiping() {
  Harness h;
  h.Fill(OperationMode::Wipe, {h.File("w1", std::string(3000, 'x')), h.File("w2", "")});
  h.answers = {false};
  h.Click("OKBitBtn");
  QCOMPARE(h.boxes.size(), std::size_t{1});
  QCOMPARE(h.boxes[0].first, BoxKind::Confirmation);
  QCOMPARE(h.boxes[0].second, QStringLiteral("これは抹消モードです！本当によろしいですか？"));
  QVERIFY(h.Button("OKBitBtn")->isVisible());
  QVERIFY(h.ShowsTheRun());

  h.answers = {true};
  h.Click("OKBitBtn");
  QVERIFY(h.askedForDecrypt.empty());
  QVERIFY(h.Button("OKBitBtn")->isHidden());
  QVERIFY(h.ShowsTheRun());

  // Escape closes the finished window like the close button.
  QTest::keyClick(h.dlg.get(), Qt::Key_Escape);
  QVERIFY(!h.dlg->isVisible());
  QVERIFY(h.returnForm.isVisible());
}

void TestConfirmationWindow::deleteKeyRemovesSelectedEntries() {
  Harness h;
  std::vector<std::string> files;
  for (const char* name : {"f0", "f1", "f2", "f3"}) files.push_back(h.File(name, name));
  h.Fill(OperationMode::Wipe, files);
  QTableWidget* list = h.List();

  // The first row comes chosen; a click and a Ctrl+click pick rows 1 and 3 as the user would.
  QCOMPARE(list->selectionModel()->selectedRows().size(), 1);
  QVERIFY(list->selectionModel()->isRowSelected(0, QModelIndex()));
  for (int row : {1, 3}) {
    const QRect cell = list->visualItemRect(list->item(row, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton,
                      row == 1 ? Qt::NoModifier : Qt::ControlModifier, cell.center());
  }
  QTest::keyClick(list, Qt::Key_Backspace);
  QCOMPARE(list->rowCount(), 4);
  QTest::keyClick(list, Qt::Key_Delete);
  QCOMPARE(list->rowCount(), 2);
  QCOMPARE(h.Cell(0, 0), Q(files[0]));
  QCOMPARE(h.Cell(1, 0), Q(files[2]));
  QVERIFY(h.Label()->text().startsWith(QStringLiteral("以上2個のファイルを")));
  QVERIFY(list->selectionModel()->selectedRows().isEmpty());

  // Delete with nothing selected does nothing; after Ctrl+A the list empties with count 0.
  QTest::keyClick(list, Qt::Key_Delete);
  QCOMPARE(list->rowCount(), 2);
  QTest::keyClick(list, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClick(list, Qt::Key_Delete);
  QCOMPARE(list->rowCount(), 0);
  QVERIFY(h.Label()->text().startsWith(QStringLiteral("以上0個のファイルを")));

  // Nothing left to run: OK is off and asks nothing.
  QVERIFY(!h.Button("OKBitBtn")->isEnabled());
  h.Click("OKBitBtn");
  QVERIFY(h.boxes.empty());
  QVERIFY(h.Label()->text().startsWith(QStringLiteral("以上0個のファイルを")));
  QVERIFY(Exists(files[1]));
}

// A click on the skip button during a real wipe: the overwrite stops where it is and the file goes.
// A descriptor opened as the name goes (the wipe's own hold has ended then) shows what the wipe
// left of its contents.
void TestConfirmationWindow::sourceWipeLeavesOnlySkipLive() {
  Harness h;
  h.model.WipeSource = true;
  h.model.ProcessMsgInterval = 1;
  const std::string bytes = qk::test::RandomBytes(4 << 20, 7);
  const std::string big = h.File("big.bin", bytes);
  int held = -1;
  qk::platform::SetFaultHook([&](qk::platform::FileOperation op, const std::string& path) {
    if (op == qk::platform::FileOperation::Delete && path == big && held < 0)
      held = ::open(big.c_str(), O_RDONLY | O_CLOEXEC);
    return 0;
  });
  h.password = {{"pw", ""}};
  h.Fill(OperationMode::Encrypt, {big});

  // A zero timer fires on every event run the batch lets through.
  int wipeTicks = 0;
  int runTicks = 0;
  bool wrongState = false;
  bool closedDuringRun = false;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (h.Button("OKBitBtn")->isHidden()) return; // the run is over
    QPushButton* skip = h.Button("SkipWipeBitBtn");
    // Beside the skip button only the close button, which stops the run, is live.
    const bool others = h.List()->isEnabled() || h.Button("OKBitBtn")->isEnabled() ||
                        !h.Button("CloseBitBtn")->isEnabled() ||
                        h.Button("ReEncBitBtn")->isEnabled();
    if (others) wrongState = true;
    if (!h.dlg->isVisible()) closedDuringRun = true;
    if (skip->isVisible()) {
      if (!skip->isEnabled()) wrongState = true;
      if (!h.Label()->text().startsWith(QStringLiteral("不要データ抹消中："))) wrongState = true;
      if (++wipeTicks == 1) QTest::mouseClick(skip, Qt::LeftButton);
    } else {
      if (skip->isEnabled()) wrongState = true;
      ++runTicks;
    }
  });
  probe.start();
  h.Click("OKBitBtn");
  probe.stop();
  qk::platform::SetFaultHook(nullptr);
  QVERIFY(held >= 0);

  QVERIFY(runTicks > 0);
  QVERIFY(wipeTicks > 0);
  QVERIFY(!wrongState);
  QVERIFY(!closedDuringRun);
  // Without the skip the overwrite of 1 MiB would take hundreds of blocks.
  QVERIFY2(wipeTicks < 10, qPrintable(QString::number(wipeTicks)));
  QVERIFY(!Exists(big));
  std::string left(bytes.size(), '\0');
  QCOMPARE(::pread(held, left.data(), left.size(), 0), static_cast<ssize_t>(left.size()));
  ::close(held);
  const std::size_t wiped = left.find_first_not_of('N');
  QVERIFY2(wiped > 0 && wiped < bytes.size() / 4, qPrintable(QString::number(wiped)));
  QVERIFY(left.compare(wiped / 2048 * 2048, std::string::npos, bytes, wiped / 2048 * 2048) == 0);
  QCOMPARE(h.Cell(0, 0), QStringLiteral("暗号化成功：抹消をスキップ(削除のみ)：") + Q(big));
  QVERIFY(h.Button("SkipWipeBitBtn")->isHidden());
  QVERIFY(h.Button("CloseBitBtn")->isEnabled());
}

// Three files or more: the state after one source wipe must not leak into the next one, nor
// into the encryption or decryption between them. Encryption, decryption and re-encryption.
void TestConfirmationWindow::everySourceWipeOfALongRunLeavesOnlySkipLive() {
  Harness h;
  h.model.WipeSource = true;
  h.model.WipeDecSource = true;
  h.model.ProcessMsgInterval = 1;
  std::vector<std::string> plain;
  for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin"}) {
    plain.push_back(h.File(name, qk::test::RandomBytes(200000, 3)));
  }
  std::vector<std::string> containers;
  for (const auto& path : plain) containers.push_back(path + ".enc");
  h.password = {{"pw", "hint"}};

  int wipeTicks = 0;
  int runTicks = 0;
  QStringList wrong;
  QTimer probe;
  probe.setInterval(0);
  QObject::connect(&probe, &QTimer::timeout, [&] {
    if (!h.dlg->Run().Running()) return;
    const bool wiping = h.Button("SkipWipeBitBtn")->isVisible();
    (wiping ? wipeTicks : runTicks)++;
    const QString when =
        wiping ? "wipe " + QString::number(wipeTicks) : "run " + QString::number(runTicks);
    for (QWidget* w :
         std::initializer_list<QWidget*>{h.List(), h.Button("OKBitBtn"), h.Button("ReEncBitBtn")}) {
      if (w->isEnabled()) wrong << when + ": " + w->objectName() + " is live";
    }
    if (!h.Button("CloseBitBtn")->isEnabled()) wrong << when + ": close button";
    if (h.Button("SkipWipeBitBtn")->isEnabled() != wiping) wrong << when + ": skip button";
    // Nothing else the user can do reaches the run: the Delete key.
    h.List()->selectAll();
    QTest::keyClick(h.List(), Qt::Key_Delete);
    if (!h.dlg->isVisible()) wrong << when + ": closed";
    if (h.List()->rowCount() != static_cast<int>(plain.size())) wrong << when + ": rows gone";
  });
  const auto run = [&](const char* button) {
    wipeTicks = runTicks = 0;
    probe.start();
    h.Click(button);
    probe.stop();
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    QVERIFY(wipeTicks >= static_cast<int>(plain.size()));
    QVERIFY(h.ShowsTheRun());
  };

  h.Fill(OperationMode::Encrypt, plain);
  run("OKBitBtn");
  h.Click("CloseBitBtn");

  h.Fill(OperationMode::Decrypt, containers);
  run("OKBitBtn");

  h.answers = {true};
  run("ReEncBitBtn");
}

// Enter on a shown list starts the run, for the first list of a session and for every later one.
void TestConfirmationWindow::okIsTheDefaultButtonOfEveryList() {
  Harness h;
  h.password = std::nullopt; // the password dialog is cancelled: nothing runs
  const std::string a = h.File("a.txt", "a");
  h.Fill(OperationMode::Encrypt, {a});
  QVERIFY(h.Button("OKBitBtn")->isDefault());
  QTest::keyClick(h.List(), Qt::Key_Return);
  QCOMPARE(h.askedForDecrypt.size(), std::size_t(1));

  h.password = {{"pw", ""}};
  h.Click("OKBitBtn");
  QVERIFY(h.Button("OKBitBtn")->isHidden());
  QVERIFY(h.Button("CloseBitBtn")->hasFocus());
  h.Click("CloseBitBtn");

  for (const OperationMode mode : {OperationMode::Decrypt, OperationMode::Encrypt}) {
    h.password = std::nullopt;
    const std::size_t asked = h.askedForDecrypt.size();
    h.Fill(mode, {a + ".enc"});
    QVERIFY(h.Button("OKBitBtn")->isVisible());
    QVERIFY(h.Button("OKBitBtn")->isDefault());
    QVERIFY(!h.Button("CloseBitBtn")->isDefault());
    QTest::keyClick(h.List(), Qt::Key_Return);
    QCOMPARE(h.askedForDecrypt.size(), asked + 1);
    QVERIFY(h.dlg->isVisible());
    h.Click("CloseBitBtn");
  }
}

// The password dialog of a decryption has no hint box to fill, so what it hands back as the hint
// is never the remembered hint's new value; an encryption's typed hint is.
void TestConfirmationWindow::decryptionKeepsTheRememberedHint() {
  Harness h;
  h.model.SaveHint = true;
  const std::string a = h.File("a.txt", "a");
  h.password = {{"pw", "stored"}};
  h.Fill(OperationMode::Encrypt, {a});
  h.Click("OKBitBtn");
  QCOMPARE(h.dlg->Run().State().PasswordHint, std::string("stored"));
  h.Click("CloseBitBtn");

  h.dlg->Run().State().PasswordHint = "remembered";
  h.password = {{"pw", ""}};
  h.Fill(OperationMode::Decrypt, {a + ".enc"});
  h.Click("OKBitBtn");
  QVERIFY(h.Cell(0, 0).startsWith(QStringLiteral("復号成功")));
  QCOMPARE(h.dlg->Run().State().PasswordHint, std::string("remembered"));
  h.Click("CloseBitBtn");
}

// Names and hints read from outside never change the list's layout: control characters show as
// visible symbols, long paths keep their file name in view, the whole path is the tooltip.
void TestConfirmationWindow::listCellsKeepTheirLine() {
  Harness h;
  const std::string odd = h.File("line\nbreak\tand\x1b]0;title\x07.txt", "x");
  h.password = {{"pw", "hint\r\nforged line\x7f"}};
  h.Fill(OperationMode::Encrypt, {odd});
  h.Click("OKBitBtn");
  h.Click("CloseBitBtn");
  h.Fill(OperationMode::Decrypt, {odd + ".enc"});
  for (int column : {0, 1}) {
    const QString cell = h.Cell(0, column);
    for (const QChar c : cell)
      QVERIFY2(c.unicode() >= 0x20 && c.unicode() != 0x7F, qPrintable(cell));
  }
  QCOMPARE(h.Cell(0, 0), Q(h.dir / "line\u240Abreak\u2409and\u241B]0;title\u2407.txt.enc"));
  QCOMPARE(h.Cell(0, 1), QStringLiteral("hint\u240D\u240Aforged line\u2421"));
  QCOMPARE(h.List()->item(0, 0)->toolTip(), h.Cell(0, 0));
  QCOMPARE(h.List()->textElideMode(), Qt::ElideMiddle);
}

// Characters that would reorder or hide part of a name are shown as the replacement character;
// everything else, Japanese and half-width kana included, is shown as it is.
void TestConfirmationWindow::listCellsShowNamesInTheirOrder_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QString>("shown");
  QTest::newRow("right-to-left override")
      << QStringLiteral("invoice\u202Etxt.exe") << QStringLiteral("invoice\uFFFDtxt.exe");
  QTest::newRow("embeddings and pop") << QStringLiteral("a\u202Ab\u202Bc\u202Cd\u202De")
                                      << QStringLiteral("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe");
  QTest::newRow("isolates") << QStringLiteral("\u2066x\u2067y\u2068z\u2069")
                            << QStringLiteral("\uFFFDx\uFFFDy\uFFFDz\uFFFD");
  QTest::newRow("marks") << QStringLiteral("l\u200Er\u200Fm") << QStringLiteral("l\uFFFDr\uFFFDm");
  QTest::newRow("next line and separators")
      << QStringLiteral("n\u0085l\u2028p\u2029") << QStringLiteral("n\uFFFDl\uFFFDp\uFFFD");
  QTest::newRow("Japanese kept") << QStringLiteral("報告書ｶﾀｶﾅ〜.txt")
                                 << QStringLiteral("報告書ｶﾀｶﾅ〜.txt");
}

void TestConfirmationWindow::listCellsShowNamesInTheirOrder() {
  QFETCH(QString, name);
  QFETCH(QString, shown);
  Harness h;
  const std::string path = h.File(name.toStdString(), "x");
  h.Fill(OperationMode::Encrypt, {path});
  QCOMPARE(h.Cell(0, 0), Q(h.dir.path() + "/") + shown);
}

void TestConfirmationWindow::unattendedRunsEndTheProgram() {
  Harness h;
  int ends = 0;
  QObject::connect(h.dlg.get(), &TConfirmationDlg::EndProgramRequested, [&] { ++ends; });

  // "-F": no question, no password dialog; the run starts from ShowList.
  const std::string plain = h.File("auto.txt", "unattended");
  h.dlg->Run().State().AutoRun = true;
  h.dlg->Run().State().Password = "given";
  h.Fill(OperationMode::Encrypt, {plain});
  QCOMPARE(ends, 1);
  QVERIFY(h.askedForDecrypt.empty());
  QVERIFY(!h.dlg->isVisible());
  QVERIFY(h.returnForm.isVisible());

  // "-I": everything is asked as usual, then the program ends.
  h.dlg->Run().State().AutoRun = false;
  h.dlg->Run().State().ExitAfterRun = true;
  const std::string doomed = h.File("doomed", "x");
  h.Fill(OperationMode::Wipe, {doomed});
  QVERIFY(h.dlg->isVisible());
  QCOMPARE(ends, 1);
  h.answers = {true};
  h.Click("OKBitBtn");
  QCOMPARE(h.boxes.size(), std::size_t{1});
  QCOMPARE(ends, 2);
  QVERIFY(!h.dlg->isVisible());
}

QTEST_MAIN(TestConfirmationWindow)
#include "tst_confirmation_window.moc"

// The columns share the width the list has: the hint column takes what it needs, the names of
// the files and of their outputs share the rest and grow with the window, every caption in view.
// The window keeps its size for the next list.
void TestConfirmationWindow::resizableWithColumnsFittingTheirResults() {
  Harness h;
  const std::string longName(150, 'n');
  const std::string a = h.File(longName + ".txt", "a");
  h.password = {{"pw", "hint"}};
  h.Fill(OperationMode::Encrypt, {a});
  h.Click("OKBitBtn");
  h.Click("CloseBitBtn");

  h.Fill(OperationMode::Decrypt, {a + ".enc"});
  QTRY_VERIFY(h.ColumnsFillTheList() && h.CaptionWhole(0) && h.CaptionWhole(1) &&
              h.CaptionWhole(2));
  h.Click("OKBitBtn");
  QCOMPARE(h.Header(2), QStringLiteral("復号後ファイル名"));
  QVERIFY(h.Cell(0, 2).size() > 150);
  QTableWidget* list = h.List();
  QVERIFY(h.ColumnsFillTheList());
  QVERIFY(h.CaptionWhole(1) && h.CaptionWhole(2));
  const int name = list->columnWidth(0);
  const int hint = list->columnWidth(1);
  const int output = list->columnWidth(2);
  QVERIFY2(name > hint && output > hint,
           qPrintable(QStringLiteral("%1 %2 %3").arg(name).arg(hint).arg(output)));

  h.dlg->resize(900, 500);
  QTRY_VERIFY(h.ColumnsFillTheList());
  QVERIFY(list->columnWidth(0) > name && list->columnWidth(2) > output);
  QCOMPARE(list->columnWidth(1), hint);
  h.Click("CloseBitBtn");
  h.Fill(OperationMode::Decrypt, {a + ".enc"});
  QCOMPARE(h.dlg->size(), QSize(900, 500));
  QTRY_VERIFY(h.ColumnsFillTheList());
  h.dlg->close();
}

// A failed line says why in its tooltip, which shows the name as it is and stays on the screen;
// chosen with the keyboard, in the line under the list and to screen readers. A list without
// entries offers no OK.
void TestConfirmationWindow::failuresTellWhyAndEmptyListsCannotRun() {
  Harness h;
  h.password = {{"pw", ""}};
  const std::string kept = h.File("kept.txt", "x");
  const std::string gone = h.File(std::string(150, 'n') + "<font color=white size=1>.part", "x");
  h.Fill(OperationMode::Encrypt, {kept, gone});
  ::unlink(gone.c_str());
  h.Click("OKBitBtn");
  const QString closing = h.Label()->text();
  const QString tip = Q("＊暗号化失敗＊：" + gone + "\n理由：ファイルが見つかりません");
  QCOMPARE(h.Cell(1, 0), Q("＊暗号化失敗＊：" + gone));
  QCOMPARE(h.List()->item(1, 0)->toolTip(), tip);

  QTest::keyClick(h.List(), Qt::Key_Down);
  const QString why = QStringLiteral("理由：ファイルが見つかりません");
  QCOMPARE(h.Label()->text(), why);
  QCOMPARE(h.List()->item(1, 2)->data(Qt::AccessibleDescriptionRole).toString(), why);
  QTest::keyClick(h.List(), Qt::Key_Up);
  QCOMPARE(h.Label()->text(), closing);

  QWidget* viewport = h.List()->viewport();
  const QPoint at = h.List()->visualItemRect(h.List()->item(1, 0)).center();
  QHelpEvent hover(QEvent::ToolTip, at, viewport->mapToGlobal(at));
  QCoreApplication::sendEvent(viewport, &hover);
  QTRY_VERIFY(QToolTip::isVisible());
  QLabel* shown = nullptr;
  for (QWidget* widget : QApplication::topLevelWidgets())
    if (widget->objectName() == "qtooltip_label") shown = qobject_cast<QLabel*>(widget);
  QVERIFY(shown);
  QTextDocument document;
  document.setHtml(shown->text());
  QString plain = document.toPlainText();
  plain.remove('\n').remove(QChar::LineSeparator);
  QCOMPARE(plain, QString(tip).remove('\n'));
  QVERIFY(shown->screen()->availableGeometry().contains(shown->geometry()));
  QToolTip::hideText();
  h.Click("CloseBitBtn");

  h.Fill(OperationMode::Encrypt, {});
  QVERIFY(!h.Button("OKBitBtn")->isEnabled());
  h.Click("OKBitBtn");
  QCOMPARE(h.askedForDecrypt.size(), std::size_t(1)); // only the first run asked
}

void TestConfirmationWindow::wipeAfterwardsIsSaidBeforeTheRun() {
  Harness h;
  const std::string a = h.File("a.txt", "a");
  QLabel* note = h.dlg->findChild<QLabel*>("WipeNoteLabel");
  QVERIFY(note);
  h.model.WipeSource = true;
  h.Fill(OperationMode::Encrypt, {a});
  QVERIFY(!note->isHidden());
  QVERIFY(note->text().contains(QStringLiteral("元のファイルは抹消されます")));
  h.model.WipeSource = false;
  h.Fill(OperationMode::Encrypt, {a});
  QVERIFY(note->isHidden());
  h.model.WipeDecSource = true;
  h.Fill(OperationMode::Decrypt, {a});
  QVERIFY(note->text().contains(QStringLiteral("暗号化ファイルは抹消されます")));
  h.Fill(OperationMode::Wipe, {a});
  QVERIFY(note->isHidden());
  h.dlg->close();
}
