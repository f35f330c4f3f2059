// The security dialog: the level kept within 1 to 4 and followed at every slider movement, the
// algorithm list mirroring the model with -1 for no selection, and closing without a cancel.
#include "windows/SecDlg.h"

#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSlider>
#include <QTest>

using qk::windows::TSecSetDlg;

class SecurityDialogTest : public QObject {
  Q_OBJECT

private slots:
  void stopsAreLabelledInFullWidthDigits() {
    qk::settings::SettingsModel model;
    TSecSetDlg dlg(model);
    QStringList labels;
    for (int i = 1; i <= 4; ++i) {
      labels << dlg.findChild<QLabel*>(QStringLiteral("LevelLabel%1").arg(i))->text();
    }
    QCOMPARE(labels, QStringList({QString::fromUtf8("１"), QString::fromUtf8("２"),
                                  QString::fromUtf8("３"), QString::fromUtf8("４")}));
  }

  void levelIsClampedAndTracked_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("shown");
    QTest::newRow("7") << 7 << 4;
    QTest::newRow("0") << 0 << 1;
    QTest::newRow("3") << 3 << 3;
  }
  void levelIsClampedAndTracked() {
    QFETCH(int, stored);
    QFETCH(int, shown);
    qk::settings::SettingsModel model;
    model.SecLevel = stored;
    TSecSetDlg dlg(model);
    dlg.show();
    QCOMPARE(dlg.SecTrackBar->value(), shown);
    QCOMPARE(model.SecLevel, shown);
    QCOMPARE(dlg.SecMemo->toPlainText(), TSecSetDlg::LevelDescription(shown));

    QTest::keyClick(dlg.SecTrackBar, Qt::Key_Left);
    QCOMPARE(model.SecLevel, std::max(shown - 1, 1));
    dlg.SecTrackBar->setValue(4);
    QCOMPARE(model.SecLevel, 4);
    QVERIFY(dlg.SecMemo->toPlainText().contains(QString::fromUtf8("20文字以上")));
    QTest::keyClick(dlg.SecTrackBar, Qt::Key_Right);
    QCOMPARE(model.SecLevel, 4);

    // Out of range again while hidden, with the slider already at the limit.
    dlg.accept();
    model.SecLevel = 9;
    dlg.show();
    QCOMPARE(model.SecLevel, 4);
  }

  void algorithmMirrorsTheModel() {
    qk::settings::SettingsModel model;
    model.Algorithm = 5;
    TSecSetDlg dlg(model);
    dlg.LoadFromModel();
    QCOMPARE(model.Algorithm, -1);
    dlg.show();
    QCOMPARE(dlg.AlgoComboBox->currentIndex(), -1);
    QVERIFY(dlg.AlgoMemo->toPlainText().isEmpty());

    dlg.AlgoComboBox->setCurrentIndex(2);
    QCOMPARE(model.Algorithm, 2);
    QCOMPARE(dlg.AlgoMemo->toPlainText(), TSecSetDlg::AlgorithmDescription(2));
    QVERIFY(dlg.AlgoMemo->toPlainText().endsWith(QString::fromUtf8(
        "（本ソフトでの仕様：最大鍵長256ビット、実質鍵長160ビット、ブロックサイズ64ビット、CBC"
        "モード）")));
    // An emptied selection keeps the last description.
    dlg.AlgoComboBox->setCurrentIndex(-1);
    QCOMPARE(model.Algorithm, -1);
    QCOMPARE(dlg.AlgoMemo->toPlainText(), TSecSetDlg::AlgorithmDescription(2));

    dlg.accept();
    model.Algorithm = 1;
    dlg.show();
    QCOMPARE(dlg.AlgoComboBox->currentText(), QString("Rijndael"));
    QVERIFY(dlg.AlgoMemo->toPlainText().endsWith(QString::fromUtf8(
        "（本ソフトでの仕様：最大鍵長256ビット、実質鍵長160ビット、ブロックサイズ128ビット、CBC"
        "モード）")));
  }

  void closingAlwaysAccepts() {
    qk::settings::SettingsModel model;
    TSecSetDlg dlg(model);
    dlg.show();
    QTest::keyClick(&dlg, Qt::Key_Escape);
    QVERIFY(!dlg.isVisible() && dlg.result() == QDialog::Accepted);
    dlg.setResult(0);
    dlg.show();
    dlg.close();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
  }
};

QTEST_MAIN(SecurityDialogTest)
#include "tst_security_dialog.moc"
