// The keep-on-top component: switched on a shown window without hiding or moving it or ending
// its modal loop, and released when the component goes.
#include "windows/KTop.h"

#include <QDialog>
#include <QTest>
#include <QTimer>

#include <memory>

class KeepOnTopTest : public QObject {
  Q_OBJECT

private slots:
  void switchesInPlace() {
    QDialog dialog;
    auto top = std::make_unique<qk::windows::TKTop>(&dialog);
    QVERIFY(top->KTop() && dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    top->SetKTop(false);
    dialog.setGeometry(140, 120, 300, 200);
    QRect seen;
    QTimer::singleShot(0, &dialog, [&] {
      top->SetKTop(true);
      QVERIFY(dialog.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
      seen = dialog.isVisible() ? dialog.geometry() : QRect();
      // Answered only if the modal loop is still running.
      QTimer::singleShot(0, &dialog, [&] { dialog.done(7); });
    });
    QCOMPARE(dialog.exec(), 7);
    QCOMPARE(seen, QRect(140, 120, 300, 200));
    top.reset();
    QVERIFY(!dialog.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // Not on a widget inside a window, and not on a window going down with it.
    QWidget child(&dialog);
    qk::windows::TKTop inner(&child);
    QVERIFY(!child.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    auto owner = std::make_unique<QWidget>();
    new qk::windows::TKTop(owner.get());
    owner->show();
    owner.reset();
  }
};

QTEST_MAIN(KeepOnTopTest)
#include "tst_keep_on_top.moc"
