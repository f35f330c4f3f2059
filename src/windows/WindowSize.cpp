#include "windows/WindowSize.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace qk::windows {

QSize FitToScreen(QSize wanted, QSize minimum, const QRect& available) {
  const QSize room = (available.size() - kFrameAllowance).expandedTo(QSize(1, 1));
  const auto fit = [](int want, int least, int most) {
    return std::clamp(want, std::min(least, most), most);
  };
  return {fit(wanted.width(), minimum.width(), room.width()),
          fit(wanted.height(), minimum.height(), room.height())};
}

QPoint PlaceOnScreen(QPoint wanted, QSize size, const QList<QRect>& areas) {
  if (areas.isEmpty()) return wanted;
  const QRect frame(wanted, size + kFrameAllowance);
  const QRect* best = &areas.front();
  long long most = 0;
  for (const QRect& area : areas) {
    if (area.contains(frame)) return wanted;
    const QRect common = area.intersected(frame);
    const long long held = static_cast<long long>(common.width()) * common.height();
    if (held > most) {
      most = held;
      best = &area;
    }
  }
  const auto into = [](int at, int length, int first, int room) {
    return std::max(first, std::min(at, first + room - length));
  };
  return {into(wanted.x(), frame.width(), best->x(), best->width()),
          into(wanted.y(), frame.height(), best->y(), best->height())};
}

QPoint PlaceOnScreen(QPoint wanted, QSize size) {
  QList<QRect> areas;
  for (const QScreen* screen : QGuiApplication::screens()) areas << screen->availableGeometry();
  return PlaceOnScreen(wanted, size, areas);
}

TSizeKeeper::TSizeKeeper(QWidget* window, std::int32_t& width, std::int32_t& height)
    : QObject(window), window_(window), width_(width), height_(height) {
  setObjectName(QStringLiteral("SizeKeeper"));
  const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
  if (width > 0 && height > 0 && screen) {
    const QRect area = screen->availableGeometry();
    const QSize size = FitToScreen(QSize(width, height), window->minimumSize(), area);
    window->resize(size);
    window->move(area.center() - QPoint(size.width() / 2, size.height() / 2));
  }
  window->installEventFilter(this);
}

bool TSizeKeeper::eventFilter(QObject* watched, QEvent* event) {
  if (watched != window_) return QObject::eventFilter(watched, event);
  // The size the window leaves the screen with counts too: a last resize may be told only then.
  const QEvent::Type type = event->type();
  if (type == QEvent::Hide ||
      ((type == QEvent::Resize || type == QEvent::Show) && window_->isVisible()))
    Record();
  return QObject::eventFilter(watched, event);
}

void TSizeKeeper::Record() {
  width_ = window_->width();
  height_ = window_->height();
}

} // namespace qk::windows
