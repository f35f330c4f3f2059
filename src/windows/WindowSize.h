// A window's size kept across starts: the size the user left it at goes to QK.ini and comes
// back at the next start, fitted to the screen of that day.
#pragma once

#include <QList>
#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>

class QWidget;

namespace qk::windows {

// Room left around a window for its frame (title bar and borders), in pixels.
inline constexpr QSize kFrameAllowance{16, 48};

// wanted as far as it fits: no smaller than minimum and, with its frame, no larger than
// available (the screen less its panels). A screen smaller than minimum wins over it.
QSize FitToScreen(QSize wanted, QSize minimum, const QRect& available);

// Where a window of size, saved at wanted, comes back among the screens of the moment (their
// available areas, the primary screen first): where it was while its frame lies whole on one of
// them; otherwise moved the least onto the screen that holds most of it, or onto the primary
// screen when none holds any of it (a screen removed, another scale).
QPoint PlaceOnScreen(QPoint wanted, QSize size, const QList<QRect>& areas);
// The same among the screens there are.
QPoint PlaceOnScreen(QPoint wanted, QSize size);

// Watches window: at construction it is put at width x height (when both are positive), fitted
// to its screen and centred on it; from then on every size the window takes while on the screen
// is written to width and height. The keeper is a child of window.
class TSizeKeeper : public QObject {
  Q_OBJECT

public:
  TSizeKeeper(QWidget* window, std::int32_t& width, std::int32_t& height);

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void Record();

  QWidget* window_;
  std::int32_t& width_;
  std::int32_t& height_;
};

} // namespace qk::windows
