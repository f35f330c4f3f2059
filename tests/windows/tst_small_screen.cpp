// The windows on a screen that has little room: the long notices and the options dialog keep
// their buttons on the screen (their text scrolls where it does not fit), in the middle of it.
// ctest runs this at the offscreen platform's own screen and again on a 1366 x 768 screen at two
// device pixels per pixel (QT_SCALE_FACTOR=2), where the pre-release notice is taller than the
// screen.
#include "windows/ProgramHarness.h"
#include "windows/WindowSize.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTest>
#include <QTimer>
#include <QToolButton>

using namespace qk;
using test::ProgramHarness;

namespace {

struct Seen {
  bool shown = false;
  QRect frame;
  QRect ok;
  bool scrolls = false;
  bool textFits = true; // no line of the text runs past the scrolled area's edge
  int width = 0;
};

// The box that text brings up, as it stands on the screen, answered with OK.
Seen Look(const QString& text) {
  Seen seen;
  QTimer::singleShot(0, [&seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen.shown = true;
    seen.frame = box->frameGeometry();
    QAbstractButton* ok = box->button(QMessageBox::Ok);
    seen.ok = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
    auto* scroll = box->findChild<QScrollArea*>(QStringLiteral("TextScrollArea"));
    seen.scrolls = scroll != nullptr;
    if (scroll) {
      // The layout settles as the event loop runs.
      QTest::qWait(50);
      seen.frame = box->frameGeometry();
      seen.ok = QRect(ok->mapToGlobal(QPoint(0, 0)), ok->size());
      seen.textFits = scroll->widget()->width() <= scroll->viewport()->width();
    }
    seen.width = box->width();
    box->accept();
  });
  windows::ShowInformation(nullptr, text);
  return seen;
}

// The height Qt gives the box of text when all of it is shown at once.
int NaturalHeight(const QString& text) {
  QMessageBox box(QMessageBox::Information, QStringLiteral("QK"), text, QMessageBox::Ok);
  box.show();
  const int height = box.height();
  box.hide();
  return height;
}

} // namespace

class TestSmallScreen : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() { windows::SetBoxResponder({}); }

  void noticesKeepOKOnTheScreen() {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    qInfo() << "screen" << area << "scale" << QGuiApplication::primaryScreen()->devicePixelRatio();
    const bool twoX = qEnvironmentVariable("QT_SCALE_FACTOR") == QLatin1String("2");
    for (const QString& text : {windows::PreReleaseNotice(), windows::FirstRunNotice()}) {
      const Seen seen = Look(text);
      QVERIFY(seen.shown);
      QVERIFY2(area.contains(seen.frame), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                         .arg(seen.frame.x())
                                                         .arg(seen.frame.y())
                                                         .arg(seen.frame.width())
                                                         .arg(seen.frame.height())));
      QVERIFY(area.contains(seen.ok));
      // In the middle of the screen, not in its corner.
      QVERIFY((seen.frame.center() - area.center()).manhattanLength() <= 16);
      // The text scrolls when it would not fit, and only then.
      const int natural = NaturalHeight(text);
      if (natural >= area.height()) QVERIFY(seen.scrolls);
      QVERIFY(seen.textFits);
      // A scrolling box takes the width of the text where the screen has room for it.
      if (seen.scrolls && area.width() >= 600)
        QVERIFY2(seen.width >= 400, qPrintable(QString::number(seen.width)));
      if (natural < area.height() * 3 / 4) QVERIFY(!seen.scrolls);
    }
    // On the small magnified screen the pre-release notice is one that has to scroll.
    if (twoX) QVERIFY(NaturalHeight(windows::PreReleaseNotice()) > area.height());
  }

  // Pictures are made for the screen's device pixels (sharp at two per pixel), not enlarged.
  void picturesAreDrawnForTheScreen() {
    const qreal scale = QGuiApplication::primaryScreen()->devicePixelRatio();
    QPixmap boxIcon;
    QTimer::singleShot(0, [&boxIcon] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box) return;
      if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
        boxIcon = label->pixmap();
      box->accept();
    });
    windows::ShowWarning(nullptr, QStringLiteral("x"));
    QVERIFY(!boxIcon.isNull());
    QCOMPARE(boxIcon.devicePixelRatio(), scale);

    ProgramHarness h;
    h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
    h.Create();
    QVERIFY(h.Start());
    windows::TOptionDlg* o = h.Options();
    QCOMPARE(o->IconImage->pixmap().devicePixelRatio(), scale);
    // The folder picture of the wipe bin has an image of at least its size in device pixels.
    const QSize folder = o->WipeSpeedButton->iconSize();
    const QSize device = folder * scale;
    const QPixmap drawn = o->WipeSpeedButton->icon().pixmap(folder, scale);
    QCOMPARE(drawn.devicePixelRatio(), scale);
    QCOMPARE(drawn.size(), device);
  }

  // A saved place of the main window comes back where it was while the window is whole on the
  // screen, else moved onto it (another scale, a screen that is gone).
  void mainWindowComesBackOnTheScreen_data() {
    QTest::addColumn<QPoint>("saved");
    QTest::newRow("on the screen") << QPoint(12, 34);
    QTest::newRow("past the right edge") << QPoint(759, 0);
    QTest::newRow("below the screen") << QPoint(20, 1500);
    QTest::newRow("on a screen removed") << QPoint(-3000, -200);
  }
  void mainWindowComesBackOnTheScreen() {
    QFETCH(QPoint, saved);
    ProgramHarness h;
    h.WriteIni("[WINDOWPOS]\nX=" + std::to_string(saved.x()) + "\nY=" + std::to_string(saved.y()) +
               "\n[SYSTEM]\nFIRSTEXEC=0\n");
    h.Create();
    QVERIFY(h.Start());
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame(h.Main()->pos(), h.Main()->size() + windows::kFrameAllowance);
    QVERIFY2(area.contains(frame),
             qPrintable(QStringLiteral("%1,%2").arg(frame.x()).arg(frame.y())));
    if (area.contains(QRect(saved, frame.size()))) QCOMPARE(h.Main()->pos(), saved);
  }

  void optionsKeepClosingOnTheScreen() {
    ProgramHarness h;
    h.WriteIni("[SYSTEM]\nFIRSTEXEC=0\n");
    h.Create();
    QVERIFY(h.Start());
    QTest::mouseClick(h.Main()->OptionBitBtn, Qt::LeftButton);
    windows::TOptionDlg* o = h.Options();
    QVERIFY(o->isVisible());
    const QRect area = o->screen()->availableGeometry();
    QVERIFY2(area.contains(o->frameGeometry()), qPrintable(QStringLiteral("%1x%2")
                                                               .arg(o->frameGeometry().width())
                                                               .arg(o->frameGeometry().height())));
    const QRect close(o->CloseBitBtn->mapToGlobal(QPoint(0, 0)), o->CloseBitBtn->size());
    QVERIFY(area.contains(close));
    // Everything else is in reach by scrolling where the screen is lower than the settings.
    QVERIFY(o->ContentScrollArea->widget()->height() >=
            o->ContentScrollArea->widget()->sizeHint().height());
  }
};

QTEST_MAIN(TestSmallScreen)
#include "tst_small_screen.moc"
