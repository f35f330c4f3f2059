// The drop watcher: one report per drop with every local path in full, switching acceptance on
// and off, re-assignment, and the watched widget going away first.
#include "app/drwatch.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <QWidget>

#include <memory>
#include <vector>

using qk::app::TDropWatch;

namespace {

struct Drop {
  TDropWatch* sender;
  int x;
  int y;
  QStringList files;
};

// Records its own drag and drop handling, to show what the watcher lets through.
class RecordingWidget : public QWidget {
public:
  int ownDrops = 0;
  int mousePresses = 0;

protected:
  void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
  void dropEvent(QDropEvent* event) override {
    ++ownDrops;
    event->acceptProposedAction();
  }
  void mousePressEvent(QMouseEvent*) override { ++mousePresses; }
};

std::unique_ptr<QMimeData> UrlData(const QStringList& paths) {
  auto mime = std::make_unique<QMimeData>();
  QList<QUrl> urls;
  for (const QString& path : paths) {
    urls.append(path.startsWith(QLatin1String("http")) ? QUrl(path) : QUrl::fromLocalFile(path));
  }
  mime->setUrls(urls);
  return mime;
}

// Sends a drag entering the widget; true when something took it.
bool Enter(QWidget& widget, const QMimeData& mime) {
  QDragEnterEvent event(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  event.ignore();
  QCoreApplication::sendEvent(&widget, &event);
  return event.isAccepted();
}

// A whole drag: it enters the widget, and when something took it, is dropped there. True when
// the drop was taken. (The application delivers a drop only to the widget that took the drag.)
bool DropAt(QWidget& widget, const QMimeData& mime, QPointF point) {
  if (!Enter(widget, mime)) return false;
  QDropEvent event(point, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  event.ignore();
  QCoreApplication::sendEvent(&widget, &event);
  return event.isAccepted();
}

void Record(TDropWatch& watch, std::vector<Drop>& drops) {
  watch.OnFilesDropped = [&drops](TDropWatch& sender, int x, int y, const QStringList& files) {
    drops.push_back({&sender, x, y, files});
  };
}

} // namespace

class DropWatchTest : public QObject {
  Q_OBJECT

private slots:
  void dropOfFilesAndFolderIsOneReport();
  void disabledWatcherTakesNothingUntilSwitchedOn();
  void reassignmentKeepsOneHookAndMovesIt();
  void widgetKeepsItsOwnDropHandling();
  void destroyedWidgetLeavesNoControlAndNoHook();
};

void DropWatchTest::dropOfFilesAndFolderIsOneReport() {
  qk::test::TempDir dir;
  const QString base = QString::fromStdString(dir.path());
  QStringList paths;
  for (const char* name : {"a.txt", "日本語の名前.doc", "c"}) {
    const QString path = base + QLatin1Char('/') + QString::fromUtf8(name);
    qk::test::WriteAll(path.toStdString(), "x");
    paths << path;
  }
  QVERIFY(QDir(base).mkdir(QStringLiteral("folder")));
  paths << base + QStringLiteral("/folder");
  // A path far beyond 255 characters arrives whole.
  const QString longPath = base + QLatin1Char('/') + QString(300, QLatin1Char('n'));

  QWidget widget;
  TDropWatch watch;
  std::vector<Drop> drops;
  Record(watch, drops);
  watch.SetWatchControl(&widget);
  watch.SetEnabled(true);
  QVERIFY(watch.Hooked());
  QVERIFY(widget.acceptDrops());

  // Folders may come with a trailing "/"; web addresses are not files.
  const auto mime = UrlData({paths[0], paths[1], QStringLiteral("https://example.org/x"), paths[2],
                             paths[3] + QLatin1Char('/'), longPath});
  QVERIFY(DropAt(widget, *mime, QPointF(12, 34)));

  QCOMPARE(drops.size(), std::size_t{1});
  QCOMPARE(drops[0].sender, &watch);
  QCOMPARE(drops[0].x, 12);
  QCOMPARE(drops[0].y, 34);
  QCOMPARE(drops[0].files, paths + QStringList{longPath});

  // Only web addresses: nothing to take.
  const auto web = UrlData({QStringLiteral("https://example.org/y")});
  QVERIFY(!Enter(widget, *web));
  QVERIFY(!DropAt(widget, *web, QPointF(1, 1)));
  QCOMPARE(drops.size(), std::size_t{1});
}

void DropWatchTest::disabledWatcherTakesNothingUntilSwitchedOn() {
  QWidget widget;
  TDropWatch watch;
  std::vector<Drop> drops;
  Record(watch, drops);
  QVERIFY(!watch.Enabled());
  watch.SetWatchControl(&widget);
  QVERIFY(watch.Hooked());
  QVERIFY(!widget.acceptDrops());

  const auto mime = UrlData({QStringLiteral("/tmp/one")});
  QVERIFY(!Enter(widget, *mime));
  QVERIFY(!DropAt(widget, *mime, QPointF(1, 1)));
  QVERIFY(drops.empty());

  watch.SetEnabled(true);
  QVERIFY(widget.acceptDrops());
  QVERIFY(DropAt(widget, *mime, QPointF(2, 3)));
  QCOMPARE(drops.size(), std::size_t{1});

  watch.SetEnabled(false);
  QVERIFY(!widget.acceptDrops());
  QVERIFY(watch.Hooked());
  QVERIFY(!DropAt(widget, *mime, QPointF(2, 3)));
  QCOMPARE(drops.size(), std::size_t{1});

  // Switching it on before any widget is set takes effect when one is.
  TDropWatch early;
  early.SetEnabled(true);
  QWidget second;
  early.SetWatchControl(&second);
  QVERIFY(second.acceptDrops());
}

void DropWatchTest::reassignmentKeepsOneHookAndMovesIt() {
  QWidget first;
  QWidget second;
  TDropWatch watch;
  std::vector<Drop> drops;
  Record(watch, drops);
  watch.SetEnabled(true);
  watch.SetWatchControl(&first);
  watch.SetWatchControl(&first);
  QCOMPARE(watch.WatchControl(), &first);

  const auto mime = UrlData({QStringLiteral("/tmp/a"), QStringLiteral("/tmp/b")});
  QVERIFY(DropAt(first, *mime, QPointF(0, 0)));
  QCOMPARE(drops.size(), std::size_t{1});

  watch.SetWatchControl(&second);
  QVERIFY(!first.acceptDrops());
  QVERIFY(second.acceptDrops());
  QVERIFY(!DropAt(first, *mime, QPointF(0, 0)));
  QCOMPARE(drops.size(), std::size_t{1});
  QVERIFY(DropAt(second, *mime, QPointF(0, 0)));
  QCOMPARE(drops.size(), std::size_t{2});

  watch.SetWatchControl(nullptr);
  QVERIFY(!watch.Hooked());
  QVERIFY(!second.acceptDrops());
  QVERIFY(!DropAt(second, *mime, QPointF(0, 0)));
  QCOMPARE(drops.size(), std::size_t{2});
}

void DropWatchTest::widgetKeepsItsOwnDropHandling() {
  RecordingWidget widget;
  widget.setAcceptDrops(true);
  auto watch = std::make_unique<TDropWatch>();
  std::vector<Drop> drops;
  Record(*watch, drops);
  watch->SetWatchControl(&widget);

  // Switched off, the widget still takes drops itself.
  const auto mime = UrlData({QStringLiteral("/tmp/a")});
  watch->SetEnabled(true);
  watch->SetEnabled(false);
  QVERIFY(widget.acceptDrops());
  QVERIFY(DropAt(widget, *mime, QPointF(0, 0)));
  QCOMPARE(widget.ownDrops, 1);
  QVERIFY(drops.empty());

  // Switched on, drops of files are the watcher's; other drops and other events pass.
  watch->SetEnabled(true);
  QVERIFY(DropAt(widget, *mime, QPointF(0, 0)));
  QCOMPARE(widget.ownDrops, 1);
  QCOMPARE(drops.size(), std::size_t{1});
  const auto web = UrlData({QStringLiteral("https://example.org/")});
  QVERIFY(DropAt(widget, *web, QPointF(0, 0)));
  QCOMPARE(widget.ownDrops, 2);
  QTest::mouseClick(&widget, Qt::LeftButton);
  QCOMPARE(widget.mousePresses, 1);

  // Gone, it leaves the widget as it found it.
  watch.reset();
  QVERIFY(widget.acceptDrops());
  QVERIFY(DropAt(widget, *mime, QPointF(0, 0)));
  QCOMPARE(widget.ownDrops, 3);
  QCOMPARE(drops.size(), std::size_t{1});
}

void DropWatchTest::destroyedWidgetLeavesNoControlAndNoHook() {
  TDropWatch watch;
  auto widget = std::make_unique<QWidget>();
  watch.SetWatchControl(widget.get());
  watch.SetEnabled(true);
  widget.reset();
  QCOMPARE(watch.WatchControl(), nullptr);
  QVERIFY(!watch.Hooked());
  QVERIFY(!watch.Enabled());

  // A new widget can be watched afterwards.
  QWidget next;
  watch.SetWatchControl(&next);
  QVERIFY(watch.Hooked());

  // A watcher owned by the widget it watches goes down with it.
  auto owner = std::make_unique<QWidget>();
  auto* owned = new TDropWatch(owner.get());
  owned->SetWatchControl(owner.get());
  owned->SetEnabled(true);
  owner.reset();
}

QTEST_MAIN(DropWatchTest)
#include "tst_drop_watch.moc"
