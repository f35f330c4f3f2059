// What a screen reader finds in every window: each control that takes the focus and each picture
// that means something has a name; the main window is a frame; the columns of the list are named
// in every mode; F1 opens the manual where the window is explained.
#include "ProgramHarness.h"
#include "support/UrlRecorder.h"

#include "windows/Hash.h"
#include "windows/LinkLabel.h"
#include "windows/OptDlg.h"
#include "windows/PassDlg.h"
#include "windows/SecDlg.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

using qk::test::ProgramHarness;

namespace {

QString Describe(QAccessibleInterface* iface) {
  QString what = QString::number(iface->role(), 16);
  if (QObject* object = iface->object())
    what += " " + QString::fromLatin1(object->metaObject()->className()) + " '" +
            object->objectName() + "'";
  return what;
}

// Every control of window that a screen reader would reach without a name to say.
QStringList Unnamed(QWidget* window) {
  QStringList unnamed;
  std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
    if (!iface || !iface->isValid()) return;
    const QAccessible::State state = iface->state();
    const QAccessible::Role role = iface->role();
    // Cells carry the list's data; an empty one is just empty.
    const bool data = role == QAccessible::Cell || role == QAccessible::Row;
    if (!state.invisible && !data &&
        (state.focusable || role == QAccessible::Graphic || role == QAccessible::ColumnHeader) &&
        iface->text(QAccessible::Name).trimmed().isEmpty()) {
      unnamed << Describe(iface);
    }
    for (int i = 0; i < iface->childCount(); ++i) walk(iface->child(i));
  };
  walk(QAccessible::queryAccessibleInterface(window));
  return unnamed;
}

} // namespace

class AccessibleNamesTest : public QObject {
  Q_OBJECT

private slots:
  void everyWindowNamesItsControlsAndPictures() {
    ProgramHarness h;
    h.Create();
    QVERIFY(h.Start());
    QVERIFY2(Unnamed(h.Main()).isEmpty(), qPrintable(Unnamed(h.Main()).join(", ")));

    // The list in each mode, columns without captions included.
    for (const auto mode : {qk::engine::OperationMode::Encrypt, qk::engine::OperationMode::Decrypt,
                            qk::engine::OperationMode::Wipe}) {
      h.program->ShowFiles(mode, {QString::fromStdString(h.File("a.txt", "alpha"))}, h.Main());
      QVERIFY(h.Conf()->isVisible());
      QVERIFY2(Unnamed(h.Conf()).isEmpty(), qPrintable(Unnamed(h.Conf()).join(", ")));
      h.Conf()->close();
    }

    h.Options()->show();
    QVERIFY2(Unnamed(h.Options()).isEmpty(), qPrintable(Unnamed(h.Options()).join(", ")));
    h.Options()->close();
    for (QWidget* dialog : std::initializer_list<QWidget*>{
             h.program->PasswordDlg.get(), h.program->SecSetDlg.get(), h.program->HashForm.get()}) {
      dialog->show();
      QVERIFY2(Unnamed(dialog).isEmpty(), qPrintable(Unnamed(dialog).join(", ")));
      dialog->hide();
    }
  }

  void targetsAreNamedInPictureModeAndTheMainWindowIsAFrame() {
    ProgramHarness h;
    h.Create();
    QVERIFY(h.Start());
    QAccessibleInterface* main = QAccessible::queryAccessibleInterface(h.Main());
    QCOMPARE(main->role(), QAccessible::Window);
    const auto nameOf = [](QWidget* w) {
      return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name);
    };
    QVERIFY(h.Main()->EncBitBtn->text().isEmpty()); // pictures only
    QCOMPARE(nameOf(h.Main()->EncBitBtn), QString::fromUtf8("ファイルを暗号化"));
    QCOMPARE(nameOf(h.Main()->DecBitBtn), QString::fromUtf8("ファイルを復号"));
    QCOMPARE(nameOf(h.Main()->OptionBitBtn), QString::fromUtf8("オプション"));
  }

  void f1OpensTheManualAtTheWindowsSection() {
    ProgramHarness h;
    h.Create();
    QVERIFY(h.Start());
    qk::test::UrlRecorder recorder;
    const auto pressF1 = [](QWidget* window) {
      window->show();
      window->activateWindow();
      QVERIFY(QTest::qWaitForWindowActive(window));
      QTest::keyClick(window, Qt::Key_F1);
    };
    pressF1(h.Options());
    h.Options()->hide();
    pressF1(h.program->SecSetDlg.get());
    h.program->SecSetDlg->hide();
    pressF1(h.program->PasswordDlg.get());
    h.program->PasswordDlg->hide();
    h.program->ShowFiles(qk::engine::OperationMode::Decrypt,
                         {QString::fromStdString(h.File("a.enc", "x"))}, h.Main());
    pressF1(h.Conf());
    h.Conf()->close();
    QStringList sections;
    for (const QUrl& url : recorder.urls) sections << url.fragment();
    QCOMPARE(sections, (QStringList{"options", "security-level", "password", "decrypt"}));
    for (const QUrl& url : recorder.handed) QVERIFY2(!url.hasFragment(), qPrintable(url.toString()));
  }

  // The manual and support links are links a screen reader can press: the press action is
  // offered, and taking it opens what a click opens.
  void linksOfferThePressAction() {
    ProgramHarness h;
    h.Create();
    QVERIFY(h.Start());
    qk::test::UrlRecorder recorder;
    qk::windows::TOptionDlg* o = h.Options();
    o->show();
    int pressed = 0;
    for (QWidget* link :
         std::initializer_list<QWidget*>{o->ManualLabel, o->Label2, o->Label4, o->Label5}) {
      QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(link);
      QVERIFY(iface);
      QCOMPARE(iface->role(), QAccessible::Link);
      QVERIFY(iface->state().focusable);
      QVERIFY(!iface->text(QAccessible::Name).isEmpty());
      QAccessibleActionInterface* actions = iface->actionInterface();
      QVERIFY2(actions, qPrintable(link->objectName()));
      QVERIFY2(actions->actionNames().contains(QAccessibleActionInterface::pressAction()),
               qPrintable(actions->actionNames().join(",")));
      actions->doAction(QAccessibleActionInterface::pressAction());
      QCOMPARE(recorder.urls.size(), ++pressed);
    }
    QVERIFY(!recorder.urls[0].hasFragment());
    for (int i = 1; i < pressed; ++i)
      QCOMPARE(recorder.urls[i].fragment(), QStringLiteral("support"));
    // The ring of the window's children reaches the links too.
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(o);
    int links = 0;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* iface) {
      if (iface->role() == QAccessible::Link && iface->actionInterface()) ++links;
      for (int i = 0; i < iface->childCount(); ++i) walk(iface->child(i));
    };
    walk(window);
    QCOMPARE(links, 4);
    o->close();
  }

  void messageBoxIconsAreNamed() {
    qk::windows::SetBoxResponder({});
    QStringList unnamed;
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      seen = true;
      unnamed = Unnamed(box);
      box->accept();
    });
    qk::windows::ShowWarning(nullptr, QString::fromUtf8("テスト"));
    QVERIFY(seen);
    QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(", ")));
  }
};

QTEST_MAIN(AccessibleNamesTest)
#include "tst_accessible_names.moc"
