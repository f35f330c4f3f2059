#include "windows/drwatch.h"

#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

namespace qk::windows {

namespace {

// The local paths among the dragged URLs; a trailing "/" that some file managers put on
// folders is dropped so that folders arrive like files.
QStringList LocalPaths(const QMimeData* mime) {
  QStringList paths;
  if (!mime || !mime->hasUrls()) return paths;
  const QList<QUrl> urls = mime->urls();
  for (const QUrl& url : urls) {
    if (!url.isLocalFile()) continue;
    QString path = url.toLocalFile();
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    if (!path.isEmpty()) paths.append(path);
  }
  return paths;
}

bool HasLocalPaths(const QMimeData* mime) {
  if (!mime || !mime->hasUrls()) return false;
  const QList<QUrl> urls = mime->urls();
  for (const QUrl& url : urls) {
    if (url.isLocalFile()) return true;
  }
  return false;
}

} // namespace

TDropWatch::TDropWatch(QObject* owner) : QObject(owner) {}

TDropWatch::~TDropWatch() {
  UnhookControl();
}

void TDropWatch::SetWatchControl(QWidget* control) {
  if (control == control_) return;
  UnhookControl();
  control_ = control;
  HookControl();
}

void TDropWatch::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  if (hooked_) ApplyAcceptDrops();
}

void TDropWatch::HookControl() {
  if (!control_) {
    hooked_ = false;
    return;
  }
  savedAcceptDrops_ = control_->acceptDrops();
  control_->installEventFilter(this);
  destroyedConnection_ =
      connect(control_, &QObject::destroyed, this, &TDropWatch::ControlDestroyed);
  hooked_ = true;
  ApplyAcceptDrops();
}

void TDropWatch::UnhookControl() {
  if (hooked_ && control_) {
    disconnect(destroyedConnection_);
    control_->removeEventFilter(this);
    control_->setAcceptDrops(savedAcceptDrops_);
  }
  hooked_ = false;
}

void TDropWatch::ApplyAcceptDrops() {
  control_->setAcceptDrops(enabled_ || savedAcceptDrops_);
}

// The widget is already half destroyed here: it is forgotten without being touched.
void TDropWatch::ControlDestroyed() {
  disconnect(destroyedConnection_);
  hooked_ = false;
  control_ = nullptr;
  enabled_ = false;
}

bool TDropWatch::eventFilter(QObject* watched, QEvent* event) {
  if (watched != control_ || !enabled_) return false;
  switch (event->type()) {
  case QEvent::DragEnter:
  case QEvent::DragMove: {
    auto* drag = static_cast<QDragMoveEvent*>(event);
    if (!HasLocalPaths(drag->mimeData())) return false;
    drag->acceptProposedAction();
    return true;
  }
  case QEvent::Drop: {
    auto* drop = static_cast<QDropEvent*>(event);
    const QStringList files = LocalPaths(drop->mimeData());
    if (files.isEmpty()) return false;
    drop->acceptProposedAction();
    const QPoint point = drop->position().toPoint();
    // A copy, so that a handler may reassign the event or start a nested event loop safely.
    const TFilesDroppedEvent handler = OnFilesDropped;
    if (handler) handler(*this, point.x(), point.y(), files);
    return true;
  }
  default:
    return false;
  }
}

} // namespace qk::windows
