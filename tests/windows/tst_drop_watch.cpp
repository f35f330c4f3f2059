// The drop watcher: one report per drop with every local path in full, acceptance switched on
// and off at once, one hook per watcher, and the watched widget going away first.
#include "windows/drwatch.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTest>

#include <memory>

using qk::windows::TDropWatch;

namespace {

// Sends a drag over the widget and, when it was taken, drops it at point. True when the drop
// was taken. (A drop reaches only the widget that took the drag.)
bool Drop(QWidget& widget, const QStringList& urls, QPointF point = {}) {
  QMimeData mime;
  QList<QUrl> list;
  for (const QString& url : urls)
    list << (url.startsWith('/') ? QUrl::fromLocalFile(url) : QUrl(url));
  mime.setUrls(list);
  QDragEnterEvent enter(QPoint(1, 1), Qt::CopyAction, &mime, Qt::LeftButton, {});
  enter.ignore();
  QCoreApplication::sendEvent(&widget, &enter);
  if (!enter.isAccepted()) return false;
  QDropEvent drop(point, Qt::CopyAction, &mime, Qt::LeftButton, {});
  drop.ignore();
  QCoreApplication::sendEvent(&widget, &drop);
  return drop.isAccepted();
}

// Handles drops itself, to show what the watcher lets through.
struct DropTarget : QWidget {
  int own = 0;
  void dragEnterEvent(QDragEnterEvent* event) override { event->acceptProposedAction(); }
  void dropEvent(QDropEvent* event) override { own += 1, event->acceptProposedAction(); }
};

} // namespace

class DropWatchTest : public QObject {
  Q_OBJECT

  std::vector<QStringList> drops_;

  void Listen(TDropWatch& watch) {
    watch.OnFilesDropped = [this, &watch](TDropWatch& sender, int x, int y, const QStringList& f) {
      QCOMPARE(&sender, &watch);
      drops_.push_back(QStringList{QString::number(x), QString::number(y)} + f);
    };
  }

private slots:
  void init() { drops_.clear(); }

  void dropOfFilesAndFolderIsOneReport() {
    QWidget widget;
    TDropWatch watch;
    Listen(watch);
    watch.SetWatchControl(&widget);
    watch.SetEnabled(true);
    const QString longPath = "/tmp/" + QString(300, 'n');
    // Folders may come with a trailing "/"; web addresses are not files.
    QVERIFY(Drop(widget,
                 {"/tmp/a.txt", "https://example.org/x", QString::fromUtf8("/tmp/日本語.doc"),
                  "/tmp/c", "/tmp/folder/", longPath},
                 QPointF(12, 34)));
    QCOMPARE(drops_.size(), std::size_t{1});
    QCOMPARE(drops_[0], (QStringList{"12", "34", "/tmp/a.txt", QString::fromUtf8("/tmp/日本語.doc"),
                                     "/tmp/c", "/tmp/folder", longPath}));
    QVERIFY(!Drop(widget, {"https://example.org/y"}));
    QCOMPARE(drops_.size(), std::size_t{1});
  }

  void acceptanceSwitchesAtOnce() {
    QWidget widget;
    TDropWatch watch;
    Listen(watch);
    watch.SetWatchControl(&widget);
    QVERIFY(watch.Hooked() && !watch.Enabled() && !widget.acceptDrops());
    QVERIFY(!Drop(widget, {"/tmp/a"}));
    watch.SetEnabled(true);
    QVERIFY(widget.acceptDrops());
    QVERIFY(Drop(widget, {"/tmp/a"}));
    watch.SetEnabled(false);
    QVERIFY(watch.Hooked() && !widget.acceptDrops());
    QVERIFY(!Drop(widget, {"/tmp/a"}));
    QCOMPARE(drops_.size(), std::size_t{1});
  }

  void oneHookThatMovesAndLeavesNoTrace() {
    DropTarget first;
    first.setAcceptDrops(true);
    QWidget second;
    auto watch = std::make_unique<TDropWatch>();
    Listen(*watch);
    watch->SetEnabled(true);
    watch->SetWatchControl(&first);
    QVERIFY(Drop(first, {"/tmp/a"}));
    QVERIFY(Drop(first, {"https://example.org/"}));
    QCOMPARE(drops_.size(), std::size_t{1});
    QCOMPARE(first.own, 1);

    watch->SetWatchControl(&second);
    watch->SetWatchControl(&second);
    QVERIFY(second.acceptDrops() && first.acceptDrops());
    QVERIFY(Drop(first, {"/tmp/a"}));
    QCOMPARE(first.own, 2);
    QVERIFY(Drop(second, {"/tmp/a"}));
    QCOMPARE(drops_.size(), std::size_t{2});
    watch.reset();
    QVERIFY(!second.acceptDrops());
  }

  void destroyedWidgetLeavesNoControlAndNoHook() {
    TDropWatch watch;
    auto widget = std::make_unique<QWidget>();
    watch.SetWatchControl(widget.get());
    watch.SetEnabled(true);
    widget.reset();
    QVERIFY(!watch.WatchControl() && !watch.Hooked() && !watch.Enabled());
    // Also when the watcher belongs to the widget it watches.
    auto owner = std::make_unique<QWidget>();
    (new TDropWatch(owner.get()))->SetWatchControl(owner.get());
    owner.reset();
  }
};

QTEST_MAIN(DropWatchTest)
#include "tst_drop_watch.moc"
