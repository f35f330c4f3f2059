// The options dialog inside the running program: the own-extension check at closing, the typing
// limit of the extension, the clearing of the registered hash and hint, the reactions of the
// check boxes and naming choices, and the doors to the other windows and the manual.
#include "windows/ProgramHarness.h"

#include "support/UrlRecorder.h"

#include "windows/Hash.h"
#include "windows/KTop.h"
#include "windows/LinkLabel.h"
#include "windows/SecDlg.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cmath>

using namespace qk;
using test::ProgramHarness;
using test::UrlRecorder;
using windows::BoxKind;
using windows::Q;
using windows::TOptionDlg;

namespace {

const QString kInvalidExtension =
    QStringLiteral("拡張子の設定が不正です。正しく設定しなおして下さい。\n"
                   "(不正な拡張子とは\\/:,;*?\"<>|が含まれる、空である、.だけなどです。)");

// Types text into the widget one character at a time, as a keyboard or an input method would.
void Type(QWidget* widget, const QString& text) {
  for (const QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QCoreApplication::sendEvent(widget, &press);
  }
}

// The contrast between the background of the widget as shown (its top left pixel) and the colour
// of its drawing that stands out most, as a ratio of relative luminances (1 to 21).
double ShownContrast(QWidget* widget) {
  const QImage image = widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
  const auto luminance = [](QRgb rgb) {
    const auto linear = [](int c) {
      const double v = c / 255.0;
      return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(rgb)) + 0.7152 * linear(qGreen(rgb)) + 0.0722 * linear(qBlue(rgb));
  };
  const double back = luminance(image.pixel(0, 0));
  double ratio = 1;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const double front = luminance(image.pixel(x, y));
      ratio = std::max(ratio, (std::max(front, back) + 0.05) / (std::min(front, back) + 0.05));
    }
  }
  return ratio;
}

// A dark theme as a desktop gives it, for as long as it lives.
struct DarkTheme {
  QPalette before = QApplication::palette();
  DarkTheme() {
    // Built from a dark window colour as a desktop's dark theme would be, with its link colours.
    QPalette dark(QColor(0x35, 0x35, 0x35));
    dark.setColor(QPalette::Link, QColor(0x8a, 0xb4, 0xf8));
    dark.setColor(QPalette::LinkVisited, QColor(0xc5, 0x8a, 0xf9));
    QApplication::setPalette(dark);
  }
  ~DarkTheme() { QApplication::setPalette(before); }
};

// The program started, its options dialog open over the hidden main window.
struct OpenOptions : ProgramHarness {
  explicit OpenOptions(const std::string& ini = "[SYSTEM]\nFIRSTEXEC=0\n") {
    WriteIni(ini);
    Create();
    if (!Start()) qFatal("start-up did not finish");
    QTest::mouseClick(Main()->OptionBitBtn, Qt::LeftButton);
    boxes.clear();
  }
  TOptionDlg* o() const { return Options(); }
};

} // namespace

class TestOptionsDialog : public QObject {
  Q_OBJECT

private slots:
  void forbiddenCharacters();
  void extensionCheckAtClosing_data();
  void extensionCheckAtClosing();
  void everyWayOfClosingChecks();
  void extensionTypingStopsAtTenBytes();
  void clearHashAndHint();
  void checkBoxReactions();
  void namingChoices();
  void paintingTakesCaptionAndSubfolders();
  void toolButtonsOpenTheirDialogs();
  void linksOpenManualAndSupportPage();
  void linksAreReachedWithTheKeyboard();
  void linksAndWipeBinCanBeReadInADarkTheme();
};

void TestOptionsDialog::forbiddenCharacters() {
  for (const QChar c : QStringLiteral("\\/:,;*?\"<>|")) {
    QVERIFY2(!windows::CheckAdaptForFileName(QString("ab") + c + "cd"), qPrintable(QString(c)));
  }
  QVERIFY(windows::CheckAdaptForFileName(QStringLiteral(".!#$%&'()-=^~@[]{}+_ 　日本")));
  QVERIFY(windows::CheckAdaptForFileName(QString()));
}

void TestOptionsDialog::extensionCheckAtClosing_data() {
  QTest::addColumn<int>("choice");
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("closes");

  QTest::newRow("colon") << 2 << "a:b" << false;
  QTest::newRow("empty") << 2 << "" << false;
  QTest::newRow("blanks") << 2 << "   " << false;
  QTest::newRow("lone dot") << 2 << "." << false;
  QTest::newRow("dot between blanks") << 2 << "  .  " << false;
  QTest::newRow("dot between control characters") << 2 << "\t.\r" << false;
  QTest::newRow("two dots") << 2 << ".." << true;
  QTest::newRow("inner blank") << 2 << ".b m" << true;
  QTest::newRow("blanks around") << 2 << " .dat " << true;
  QTest::newRow("no leading dot") << 2 << "dat" << true;
  QTest::newRow("ideographic space is a character") << 2 << "　" << true;
  QTest::newRow("standard choice leaves the box alone") << 1 << "a:b" << true;
  QTest::newRow("random names use the box too") << 3 << "*" << false;
  QTest::newRow("random names, valid") << 3 << ".rnd" << true;
}

void TestOptionsDialog::extensionCheckAtClosing() {
  QFETCH(int, choice);
  QFETCH(QString, text);
  QFETCH(bool, closes);
  OpenOptions h;
  TOptionDlg* o = h.o();
  QRadioButton* radio[] = {o->RadioButton1, o->RadioButton2, o->RadioButton3};
  radio[choice - 1]->click();
  o->ExtChgEdit->setText(text);

  QTest::mouseClick(o->CloseBitBtn, Qt::LeftButton);
  if (closes) {
    QVERIFY(h.boxes.empty());
    QVERIFY(!o->isVisible() && h.Main()->isVisible());
    QCOMPARE(o->ExtChgEdit->text(), text);
    return;
  }
  QCOMPARE(h.boxes.size(), std::size_t(1));
  QVERIFY(h.boxes[0].kind == BoxKind::Warning);
  QCOMPARE(h.boxes[0].text, kInvalidExtension);
  QVERIFY(o->isVisible() && !h.Main()->isVisible());
  QCOMPARE(o->ExtChgEdit->text(), QStringLiteral(".bmp"));
  QCOMPARE(h.Model().OwnExtStr, std::string(".bmp"));
  QCOMPARE(o->focusWidget(), o->ExtChgEdit);
  // The reset text passes.
  QTest::mouseClick(o->CloseBitBtn, Qt::LeftButton);
  QVERIFY(!o->isVisible() && h.Main()->isVisible());
}

void TestOptionsDialog::everyWayOfClosingChecks() {
  OpenOptions h;
  TOptionDlg* o = h.o();
  o->RadioButton2->click();
  o->ExtChgEdit->setText("<>");
  QTest::keyClick(o, Qt::Key_Escape);
  QVERIFY(o->isVisible());
  o->ExtChgEdit->setText("|");
  QVERIFY(!o->close()); // the title bar's close button
  QCOMPARE(h.boxes.size(), std::size_t(2));
  QVERIFY(o->isVisible() && !h.Main()->isVisible());
  QVERIFY(o->close());
  QVERIFY(h.Main()->isVisible());
}

void TestOptionsDialog::extensionTypingStopsAtTenBytes() {
  OpenOptions h;
  QLineEdit* edit = h.o()->ExtChgEdit;
  h.o()->RadioButton2->click();
  edit->clear();
  QTest::keyClicks(edit, "abcdefghijkl");
  QCOMPARE(edit->text(), QStringLiteral("abcdefghij"));
  // A full-width character counts two bytes.
  edit->clear();
  Type(edit, QStringLiteral("あいうえおか"));
  QCOMPARE(edit->text(), QStringLiteral("あいうえお"));
  edit->clear();
  Type(edit, QStringLiteral(".abcdefghあ"));
  QCOMPARE(edit->text(), QStringLiteral(".abcdefgh"));
  QCOMPARE(h.Model().OwnExtStr, std::string(".abcdefgh"));

  // A longer stored value is shown as stored; it can be shortened but not lengthened.
  edit->setText(QStringLiteral(".abcdefghijk"));
  edit->end(false);
  QTest::keyClick(edit, Qt::Key_Backspace);
  QCOMPARE(edit->text(), QStringLiteral(".abcdefghij"));
  QTest::keyClicks(edit, "z");
  QCOMPARE(edit->text(), QStringLiteral(".abcdefghij"));
}

void TestOptionsDialog::clearHashAndHint() {
  OpenOptions h("[SYSTEM]\nFIRSTEXEC=0\nPASSHASH=ABCDEFGH\nPASSHINT=hint\nSECLEVEL=3\n");
  QCOMPARE(h.Model().PassHash, std::string("ABCDEFGH"));
  QCOMPARE(h.Run().State().PasswordHint, std::string("hint"));
  const std::string before = h.Ini();

  h.answers = {false};
  QTest::mouseClick(h.o()->ClrHashBitBtn, Qt::LeftButton);
  QCOMPARE(h.boxes.size(), std::size_t(1));
  QVERIFY(h.boxes[0].kind == BoxKind::Confirmation);
  QCOMPARE(h.boxes[0].text,
           QStringLiteral("パスワードの照合のために登録されているハッシュデータとパスワードヒント"
                          "をクリアしますか？"));
  QCOMPARE(h.Ini(), before);
  QCOMPARE(h.Model().PassHash, std::string("ABCDEFGH"));
  QCOMPARE(h.Run().State().PasswordHint, std::string("hint"));

  h.answers = {true};
  QTest::mouseClick(h.o()->ClrHashBitBtn, Qt::LeftButton);
  QCOMPARE(h.boxes.size(), std::size_t(3));
  QVERIFY(h.boxes[2].kind == BoxKind::Information);
  QCOMPARE(h.boxes[2].text, QStringLiteral("ハッシュデータとパスワードヒントをクリアしました。"));
  // Written at once, while the program goes on.
  QCOMPARE(h.IniValue("SYSTEM", "PASSHASH"), std::string());
  QCOMPARE(h.IniValue("SYSTEM", "PASSHINT"), std::string());
  QCOMPARE(h.IniValue("SYSTEM", "SECLEVEL"), std::string("3"));
  QVERIFY(h.Model().PassHash.empty());
  QVERIFY(h.Run().State().PasswordHint.empty());
  QCOMPARE(h.ended, 0);
}

void TestOptionsDialog::checkBoxReactions() {
  OpenOptions h;
  TOptionDlg* o = h.o();
  const QString warning = QStringLiteral("ご注意ください。");

  // The tamper options warn only in the combination that makes files undecryptable; both
  // changes stay.
  o->AddHMACCheckBox->click();
  QVERIFY(h.boxes.empty());
  o->SkipNonHMACCheckBox->click();
  QCOMPARE(h.boxes.size(), std::size_t(1));
  QVERIFY(h.boxes[0].kind == BoxKind::Note && h.boxes[0].text.endsWith(warning));
  QVERIFY(!o->AddHMACCheckBox->isChecked() && o->SkipNonHMACCheckBox->isChecked());
  QVERIFY(!h.Model().AddHMAC && h.Model().SkipNonHMAC);
  o->AddHMACCheckBox->click();
  QCOMPARE(h.boxes.size(), std::size_t(1));
  o->AddHMACCheckBox->click();
  QCOMPARE(h.boxes.size(), std::size_t(2));

  // The on-top box acts on the main window at once.
  QVERIFY(!h.Main()->KTop->KTop());
  o->DoTopCheckBox->click();
  QVERIFY(h.Main()->KTop->KTop());
  QVERIFY(h.Main()->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  o->DontClearPassCheckBox->click();
  QVERIFY(h.Main()->KTop->KTop() && h.Model().DontClearPassBox);
  o->DoTopCheckBox->click();
  QVERIFY(!h.Main()->KTop->KTop() && !h.Model().MainTop);

  // Subfolders follow their box in the main window's finder.
  o->IncSubFolderCheckBox->click();
  QVERIFY(!h.Model().Recurse && !h.Main()->FindFile.Recurse);
  o->WipeSourceCheckBox->click();
  QVERIFY(!h.Model().Recurse && !h.Model().WipeSource);
  QCOMPARE(h.boxes.size(), std::size_t(2));
  QCOMPARE(h.ended, 0);
}

void TestOptionsDialog::namingChoices() {
  OpenOptions h;
  TOptionDlg* o = h.o();
  QVERIFY(!o->ExtChgEdit->isEnabled());
  o->RadioButton2->click();
  QCOMPARE(h.Model().NameMode(), 1);
  QVERIFY(o->ExtChgEdit->isEnabled());
  o->RadioButton3->click();
  QCOMPARE(h.Model().NameMode(), 2);
  QVERIFY(o->ExtChgEdit->isEnabled());
  QVERIFY(!h.Model().DefaultExt && !h.Model().OwnExt && h.Model().RandomExt);
  o->ExtChgEdit->setText(".q");
  QCOMPARE(h.Model().OwnExtStr, std::string(".q"));
  o->RadioButton1->click();
  QCOMPARE(h.Model().NameMode(), 0);
  QVERIFY(!o->ExtChgEdit->isEnabled());
  // Opened again, the dialog shows the settings as they are.
  o->RadioButton3->click();
  QTest::mouseClick(o->CloseBitBtn, Qt::LeftButton);
  QTest::mouseClick(h.Main()->OptionBitBtn, Qt::LeftButton);
  QVERIFY(o->ExtChgEdit->isEnabled() && o->SaveHintCheckBox->isChecked());
}

void TestOptionsDialog::paintingTakesCaptionAndSubfolders() {
  OpenOptions h;
  TOptionDlg* o = h.o();
  QCOMPARE(o->windowTitle(), QStringLiteral("オプション"));
  QCOMPARE(o->NameLabel->text(), QStringLiteral("QK Ver5.0a"));
  h.Main()->setWindowTitle("QK test caption");
  h.Model().Recurse = false;
  o->grab();
  QCOMPARE(o->NameLabel->text(), QStringLiteral("QK test caption"));
  QVERIFY(!o->IncSubFolderCheckBox->isChecked());
  QVERIFY(!h.Main()->FindFile.Recurse);
}

void TestOptionsDialog::toolButtonsOpenTheirDialogs() {
  OpenOptions h;
  QStringList opened;
  const auto closeModal = [&opened] {
    QTimer::singleShot(0, [&opened] {
      if (QWidget* modal = QApplication::activeModalWidget()) {
        opened << modal->metaObject()->className();
        modal->close();
      }
    });
  };
  closeModal();
  QTest::mouseClick(h.o()->SecSetBitBtn, Qt::LeftButton);
  closeModal();
  QTest::mouseClick(h.o()->Sha1BitBtn, Qt::LeftButton);
  QCOMPARE(opened, QStringList({"qk::windows::TSecSetDlg", "qk::windows::THashForm"}));
  QVERIFY(h.o()->isVisible());
}

// Tab reaches every link, and Enter or Space on it opens it; the wipe bin's button says what it
// does.
void TestOptionsDialog::linksAreReachedWithTheKeyboard() {
  UrlRecorder recorder;
  OpenOptions h;
  TOptionDlg* o = h.o();
  QVERIFY(!o->WipeSpeedButton->toolTip().isEmpty());
  QList<QWidget*> reached;
  o->CloseBitBtn->setFocus();
  for (int i = 0; i < 40; ++i) {
    QWidget* next = o->focusWidget()->nextInFocusChain();
    while (!(next->focusPolicy() & Qt::TabFocus) || !next->isVisibleTo(o) || !next->isEnabled()) {
      next = next->nextInFocusChain();
    }
    reached << next;
    next->setFocus(Qt::TabFocusReason);
  }
  for (QLabel* label : {o->ManualLabel, o->Label2, o->Label4, o->Label5}) {
    QVERIFY2(reached.contains(label), qPrintable(label->objectName()));
  }
  QTest::keyClick(o->ManualLabel, Qt::Key_Return);
  QTest::keyClick(o->Label5, Qt::Key_Space);
  QCOMPARE(recorder.urls.size(), 2);
  QCOMPARE(recorder.urls[1].fragment(), QStringLiteral("support"));
}

void TestOptionsDialog::linksOpenManualAndSupportPage() {
  UrlRecorder recorder;
  OpenOptions h;
  QTest::mouseClick(h.o()->ManualLabel, Qt::LeftButton);
  for (QLabel* label : {h.o()->Label2, h.o()->Label4, h.o()->Label5}) {
    QTest::mouseClick(label, Qt::LeftButton);
  }
  QTest::mouseClick(h.o()->Label1, Qt::LeftButton); // not a link
  QCOMPARE(recorder.urls.size(), 4);
  const QString manual = recorder.urls[0].toLocalFile();
  QVERIFY2(QFileInfo(manual).isFile() && manual.endsWith("/manual/index.html"), qPrintable(manual));
  QVERIFY(!recorder.urls[0].hasFragment());
  for (int i = 1; i < 4; ++i) {
    QCOMPARE(recorder.urls[i].toLocalFile(), manual);
    QCOMPARE(recorder.urls[i].fragment(), QStringLiteral("support"));
  }
  QVERIFY(h.boxes.empty());
}

// The links stand out from a dark background before and after they were opened; the wipe bin's
// drop area is as dark as the fields of the theme.
void TestOptionsDialog::linksAndWipeBinCanBeReadInADarkTheme() {
  UrlRecorder recorder;
  DarkTheme dark;
  OpenOptions h;
  TOptionDlg* o = h.o();
  for (QWidget* link : {o->ManualLabel, o->Label2, o->Label4, o->Label5}) {
    o->CloseBitBtn->setFocus();
    const double before = ShownContrast(link);
    QTest::mouseClick(link, Qt::LeftButton);
    o->CloseBitBtn->setFocus();
    const double after = ShownContrast(link);
    QVERIFY2(
        before >= 4.5 && after >= 4.5,
        qPrintable(QStringLiteral("%1: %2, %3").arg(link->objectName()).arg(before).arg(after)));
  }
  QCOMPARE(recorder.urls.size(), 4);
  const QImage bin = o->Panel1->grab().toImage();
  QCOMPARE(QColor(bin.pixel(bin.rect().center())), QApplication::palette().color(QPalette::Base));
}

QTEST_MAIN(TestOptionsDialog)
#include "tst_options_dialog.moc"
