// The file hash window: the value in five groups, preselected in the result box; a file that
// cannot be opened reported without a box; the cursor restored either way; a long hash shows its
// progress, lets events run and ends when the window closes.
#include "windows/Hash.h"

#include "support/TestSupport.h"
#include "windows/MessageBoxes.h"

#include <QGuiApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

class HashFormTest : public QObject {
  Q_OBJECT

  qk::test::TempDir dir_;
  QStringList seen_; // result boxes as "title|label|value|selection", warnings as they are

  // Hashes the file in a shown window; the result box is recorded and cancelled.
  void Hash(qk::windows::THashForm& form, const std::string& name) {
    form.InputBoxHook = [this](QInputDialog& box) {
      box.show();
      QVERIFY(!QGuiApplication::overrideCursor());
      QStringList shownButtons;
      for (const QPushButton* button : box.findChildren<QPushButton*>())
        if (button->isVisible()) shownButtons << button->text();
      QCOMPARE(shownButtons, QStringList{"OK"});
      seen_ << QStringList{box.windowTitle(), box.labelText(), box.textValue(),
                           box.findChild<QLineEdit*>()->selectedText()}
                   .join('|');
    };
    form.HashAndShow(QString::fromStdString(dir_ / name));
  }

private slots:
  void init() {
    seen_.clear();
    qk::windows::SetBoxResponder([this](qk::windows::BoxKind, const QString& text) {
      seen_ << text;
      return true;
    });
  }
  void cleanup() { qk::windows::SetBoxResponder(nullptr); }

  void valueIsShownPreselected() {
    qk::test::WriteAll(dir_ / "abc", "abc");
    qk::test::WriteAll(dir_ / "empty", "");
    qk::windows::THashForm form;
    form.show();
    Hash(form, "abc");
    Hash(form, "empty");
    Hash(form, "abc");
    const QString abc = QString::fromUtf8("選択したファイルのSHA-1計算結果|160bit Hash値[32bit(16進"
                                          "表現)*5]:|A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D|"
                                          "A9993E36 4706816A BA3E2571 7850C26C 9CD0D89D");
    QCOMPARE(seen_.size(), 3);
    QCOMPARE(seen_[0], abc);
    QVERIFY(seen_[1].endsWith("|DA39A3EE 5E6B4B0D 3255BFEF 95601890 AFD80709"));
    QCOMPARE(seen_[2], abc);
    // The window names the file whose value it showed, as it is named.
    QCOMPARE(form.FileLabel->text(),
             QString::fromUtf8("対象ファイル：") + QString::fromStdString(dir_ / "abc"));
    const std::string tagged = "setup.iso<font color=white size=1>.part-evil.sh";
    qk::test::WriteAll(dir_ / tagged, "abc");
    Hash(form, tagged);
    form.FileLabel->setSelection(0, static_cast<int>(form.FileLabel->text().size()));
    QCOMPARE(form.FileLabel->selectedText(),
             QString::fromUtf8("対象ファイル：") + QString::fromStdString(dir_ / tagged));
  }

  void closingEndsALongHash() {
    qk::test::WriteAll(dir_ / "large", std::string(1 << 20, 'x'));
    qk::windows::THashForm form;
    form.show();
    QString progress;
    // Runs only if the window's events run during the hash.
    QTimer::singleShot(0, &form, [&] {
      progress = form.ProgressLabel->isVisible() ? form.ProgressLabel->text() : QString();
      QVERIFY(!form.OpenButton->isEnabled());
      form.CloseButton->click();
    });
    Hash(form, "large");
    QCOMPARE(progress, QString::fromUtf8("SHA-1計算中：65536/1048576バイト　6%"));
    QVERIFY(seen_.isEmpty());
    QVERIFY(!form.isVisible());
    QVERIFY(!QGuiApplication::overrideCursor());
    // Shown again, the window hashes the file to its end.
    form.show();
    QVERIFY(form.OpenButton->isEnabled() && form.ProgressLabel->isHidden());
    Hash(form, "large");
    QCOMPARE(seen_.size(), 1);
  }

  void unopenableFileIsReportedWithoutABox() {
    qk::test::WriteAll(dir_ / "read-only", "abc");
    QCOMPARE(chmod((dir_ / "read-only").c_str(), 0444), 0);
    qk::windows::THashForm form;
    form.show();
    // The cursor shown before each attempt is the one after it.
    QGuiApplication::setOverrideCursor(Qt::IBeamCursor);
    Hash(form, "missing");
    Hash(form, "read-only");
    QVERIFY(form.isVisible());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::IBeamCursor);
    QGuiApplication::restoreOverrideCursor();
    QVERIFY(!QGuiApplication::overrideCursor());
    QCOMPARE(seen_, QStringList(2, "File not found !"));
  }
};

QTEST_MAIN(HashFormTest)
#include "tst_hash_form.moc"
