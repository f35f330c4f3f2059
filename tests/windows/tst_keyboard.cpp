// The program by keyboard alone: the focused control shows a focus mark, Tab reaches every
// button (閉じる of the options dialog included), and a control that opened a list or a dialog
// has the focus again when it closes, so that the next key press does what the last one did.
#include "windows/ProgramHarness.h"

#include "windows/LinkLabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

using namespace qk;
using test::ProgramHarness;
using windows::Q;

namespace {

bool Activate(QWidget* window) {
  window->show();
  window->raise();
  window->activateWindow();
  return QTest::qWaitForWindowActive(window);
}

// Tab pressed on whatever has the focus in window.
void Tab(QWidget* window, bool back = false) {
  QWidget* at = window->focusWidget() ? window->focusWidget() : window;
  QTest::keyClick(at, back ? Qt::Key_Backtab : Qt::Key_Tab,
                  back ? Qt::ShiftModifier : Qt::NoModifier);
}

// The controls of window in the order Tab reaches them from its focus, once round.
QList<QWidget*> TabRound(QWidget* window) {
  QList<QWidget*> reached;
  for (int i = 0; i < 60; ++i) {
    Tab(window);
    QWidget* now = window->focusWidget();
    if (!now || reached.contains(now)) break;
    reached << now;
  }
  return reached;
}

struct Started : ProgramHarness {
  explicit Started(const std::string& ini = "[SYSTEM]\nFIRSTEXEC=0\nTOPWIPE=1\n") {
    WriteIni(ini);
    Create();
    if (!Start()) qFatal("start-up did not finish");
    boxes.clear();
  }
};

} // namespace

class TestKeyboard : public QObject {
  Q_OBJECT

private slots:
  void focusedControlShowsAMark();
  void tabReachesCloseInTheOptions();
  void focusReturnsToTheTargetThatOpenedTheList();
  void focusReturnsToTheButtonsThatOpenedDialogs();
  void enterPressesButtonsAndDeleteTakesTheFirstRow();
};

// Every control Tab reaches in the main window, the options dialog and the list looks different
// with the focus than without it: the mark is drawn, also on a default button (閉じる, OK), whose
// frame some styles draw just like the focus mark.
void TestKeyboard::focusedControlShowsAMark() {
  Started h;
  for (QWidget* window : {static_cast<QWidget*>(h.Main()), static_cast<QWidget*>(h.Options()),
                          static_cast<QWidget*>(h.Conf())}) {
    if (window == h.Options()) {
      QTest::keyClick(h.Main()->OptionBitBtn, Qt::Key_Space);
      QVERIFY(h.Options()->isVisible());
    }
    if (window == h.Conf()) {
      h.Options()->close();
      h.program->ShowFiles(engine::OperationMode::Encrypt, {Q(h.File("a.txt", "a"))}, h.Main());
    }
    QVERIFY(Activate(window));
    const QList<QWidget*> round = TabRound(window);
    QVERIFY(round.size() >= (window == h.Options() ? 20 : 3));
    for (QWidget* control : round) {
      control->setFocus(Qt::TabFocusReason);
      QVERIFY(control->hasFocus());
      const QImage focused = control->grab().toImage();
      window->setFocus(Qt::TabFocusReason);
      // Somewhere else: the window itself, or for the window's only focus the next control.
      if (control->hasFocus()) Tab(window);
      QVERIFY(!control->hasFocus());
      const QImage plain = control->grab().toImage();
      QVERIFY2(focused != plain, qPrintable(window->objectName() + ": " + control->objectName()));
    }
  }
}

void TestKeyboard::tabReachesCloseInTheOptions() {
  Started h;
  QTest::keyClick(h.Main()->OptionBitBtn, Qt::Key_Space);
  windows::TOptionDlg* o = h.Options();
  QVERIFY(Activate(o));
  // Forwards from the first setting, and backwards from it.
  for (const bool back : {false, true}) {
    o->IncSubFolderCheckBox->setFocus(Qt::TabFocusReason);
    int presses = 0;
    while (!o->CloseBitBtn->hasFocus() && presses < 60) {
      Tab(o, back);
      ++presses;
    }
    QVERIFY2(o->CloseBitBtn->hasFocus(), back ? "Shift+Tab" : "Tab");
    // Every setting, button and link is on the way.
    if (!back) QVERIFY(presses >= 20);
  }
  // Enter on it closes the dialog; the main window is back.
  QTest::keyClick(o->CloseBitBtn, Qt::Key_Return);
  QVERIFY(!o->isVisible());
  QVERIFY(h.Main()->isVisible());
}

// Space on a target opens its list; after the list closes the target has the focus again, and
// the next Space opens the same target's list, not the next control's.
void TestKeyboard::focusReturnsToTheTargetThatOpenedTheList() {
  Started h;
  const std::string file = h.File("a.txt", "a");
  windows::TMainForm* main = h.Main();
  for (QPushButton* target : {main->EncBitBtn, main->DecBitBtn, main->WipeBitBtn}) {
    for (int round = 0; round < 2; ++round) {
      QVERIFY(Activate(main));
      if (round == 0) {
        main->OptionBitBtn->setFocus(Qt::TabFocusReason);
        while (!target->hasFocus()) Tab(main);
      }
      QVERIFY2(target->hasFocus(), qPrintable(target->objectName()));
      h.choices.push_back({Q(file)});
      QTest::keyClick(target, Qt::Key_Space);
      QVERIFY(h.Conf()->isVisible());
      QVERIFY(!main->isVisible());
      QTest::keyClick(h.Conf(), Qt::Key_Escape);
      QVERIFY(!h.Conf()->isVisible());
      QVERIFY(main->isVisible());
      QVERIFY(Activate(main));
      QCOMPARE(main->focusWidget(), target);
    }
  }
  QCOMPARE(h.chooserCalls, 6);
}

// The options button, and the wipe bin's button of the options dialog, have the focus again when
// what they opened has closed.
void TestKeyboard::focusReturnsToTheButtonsThatOpenedDialogs() {
  Started h;
  windows::TMainForm* main = h.Main();
  windows::TOptionDlg* o = h.Options();
  QVERIFY(Activate(main));
  main->OptionBitBtn->setFocus(Qt::TabFocusReason);
  QTest::keyClick(main->OptionBitBtn, Qt::Key_Space);
  QVERIFY(o->isVisible());
  QVERIFY(Activate(o));
  QCOMPARE(o->focusWidget(), o->CloseBitBtn);

  // The wipe bin's button: a list, closed, and the button has the focus again.
  o->WipeSpeedButton->setFocus(Qt::TabFocusReason);
  h.choices.push_back({Q(h.File("w.txt", "w"))});
  QTest::keyClick(o->WipeSpeedButton, Qt::Key_Space);
  QVERIFY(h.Conf()->isVisible());
  QVERIFY(!o->isVisible());
  QTest::keyClick(h.Conf(), Qt::Key_Escape);
  QVERIFY(o->isVisible());
  QVERIFY(Activate(o));
  QCOMPARE(o->focusWidget(), o->WipeSpeedButton);

  QTest::keyClick(o, Qt::Key_Escape);
  QVERIFY(!o->isVisible());
  QVERIFY(Activate(main));
  QCOMPARE(main->focusWidget(), main->OptionBitBtn);
}

// Enter on a target or the options button does what Space does. The list a drop brings has its
// first row chosen, so that Delete takes it out.
void TestKeyboard::enterPressesButtonsAndDeleteTakesTheFirstRow() {
  Started h;
  const std::string a = h.File("a.txt", "a");
  const std::string b = h.File("b.txt", "b");
  windows::TMainForm* main = h.Main();
  for (QPushButton* button : {main->EncBitBtn, main->DecBitBtn, main->OptionBitBtn}) {
    QVERIFY(Activate(main));
    h.choices.push_back({Q(a)});
    button->setFocus(Qt::TabFocusReason);
    QTest::keyClick(button, button == main->DecBitBtn ? Qt::Key_Enter : Qt::Key_Return);
    QWidget* opened = button == main->OptionBitBtn ? static_cast<QWidget*>(h.Options()) : h.Conf();
    QVERIFY2(opened->isVisible(), qPrintable(button->objectName()));
    QTest::keyClick(opened, Qt::Key_Escape);
    QVERIFY(main->isVisible());
  }
  QCOMPARE(h.chooserCalls, 2);

  QVERIFY(test::DropPaths(*main->EncBitBtn, {Q(a), Q(b)}));
  QVERIFY(h.Conf()->isVisible());
  QWidget* list = h.Conf()->findChild<QWidget*>(QStringLiteral("ListView"));
  QCOMPARE(h.Conf()->focusWidget(), list);
  QTest::keyClick(list, Qt::Key_Delete);
  QCOMPARE(h.EntryPaths(), std::vector<std::string>{b});
}

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
