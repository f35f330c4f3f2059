#include "windows/KTop.h"

#include <QWidget>
#include <QWindow>

namespace qk::windows {

TKTop::TKTop(QObject* owner) : QObject(owner) {
  auto* widget = qobject_cast<QWidget*>(owner);
  if (widget && widget->isWindow()) {
    window_ = widget;
    // The owner destroys its children after announcing its own end: from then on it is left
    // alone.
    connect(widget, &QObject::destroyed, this, [this] { window_ = nullptr; });
  }
  SetKTop(true);
}

TKTop::~TKTop() {
  SetKTop(false);
}

void TKTop::SetKTop(bool on) {
  kTop_ = on;
  Apply();
}

// A hidden window just gets the flag; its native window takes it when shown. A shown window
// keeps its native window: the widget's flags are updated without re-creating it and the
// window system is told through the native window, so the window is neither hidden nor moved,
// resized or activated (re-creating it would also end a dialog's modal loop).
void TKTop::Apply() {
  if (!window_) return;
  const bool current = window_->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
  if (current == kTop_) return;
  if (!window_->isVisible()) {
    window_->setWindowFlag(Qt::WindowStaysOnTopHint, kTop_);
    return;
  }
  Qt::WindowFlags flags = window_->windowFlags();
  flags.setFlag(Qt::WindowStaysOnTopHint, kTop_);
  window_->overrideWindowFlags(flags);
  if (QWindow* handle = window_->windowHandle()) handle->setFlags(flags);
}

} // namespace qk::windows
