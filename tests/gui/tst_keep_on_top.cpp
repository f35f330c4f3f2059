// The keep-on-top component: the always-on-top flag of its window, switched without hiding,
// moving or ending a modal dialog, and released when the component goes.
#include "app/KTop.h"

#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <memory>

using qk::app::TKTop;

namespace {

bool OnTop(const QWidget& window) {
  return window.windowFlags().testFlag(Qt::WindowStaysOnTopHint);
}

} // namespace

class KeepOnTopTest : public QObject {
  Q_OBJECT

private slots:
  void appliesToItsWindowOnly();
  void switchingAShownWindowKeepsItInPlace();
  void switchingDoesNotEndAModalDialog();
};

void KeepOnTopTest::appliesToItsWindowOnly() {
  QWidget window;
  auto top = std::make_unique<TKTop>(&window);
  QVERIFY(top->KTop());
  QVERIFY(OnTop(window));
  top->SetKTop(false);
  QVERIFY(!OnTop(window));
  top->SetKTop(true);
  QVERIFY(OnTop(window));
  // Going away releases the window.
  top.reset();
  QVERIFY(!OnTop(window));

  // On a widget inside a window it does nothing.
  QWidget child(&window);
  TKTop inner(&child);
  QVERIFY(inner.KTop());
  QVERIFY(!OnTop(child));
  QVERIFY(!OnTop(window));

  // A window destroyed with the component on it.
  auto owner = std::make_unique<QWidget>();
  new TKTop(owner.get());
  owner->show();
  owner.reset();
}

void KeepOnTopTest::switchingAShownWindowKeepsItInPlace() {
  QWidget window;
  TKTop top(&window);
  top.SetKTop(false);
  window.setGeometry(140, 120, 300, 200);
  window.show();
  QVERIFY(QTest::qWaitForWindowExposed(&window));
  const QRect before = window.geometry();
  const QWindow* handle = window.windowHandle();

  top.SetKTop(true);
  QVERIFY(OnTop(window));
  QVERIFY(window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  QVERIFY(window.isVisible());
  QCOMPARE(window.windowHandle(), handle);
  QCOMPARE(window.geometry(), before);

  top.SetKTop(false);
  QVERIFY(!OnTop(window));
  QVERIFY(!window.windowHandle()->flags().testFlag(Qt::WindowStaysOnTopHint));
  QVERIFY(window.isVisible());
  QCOMPARE(window.geometry(), before);
}

void KeepOnTopTest::switchingDoesNotEndAModalDialog() {
  QDialog dialog;
  TKTop top(&dialog);
  bool stillShown = false;
  QTimer::singleShot(0, &dialog, [&] {
    top.SetKTop(false);
    top.SetKTop(true);
    stillShown = dialog.isVisible();
    dialog.done(7);
  });
  QCOMPARE(dialog.exec(), 7);
  QVERIFY(stillShown);
}

QTEST_MAIN(KeepOnTopTest)
#include "tst_keep_on_top.moc"
