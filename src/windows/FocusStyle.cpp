#include "windows/FocusStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPen>
#include <QStyleFactory>
#include <QStyleOption>

namespace qk::windows {

namespace {

constexpr int kRingInset = 3;
constexpr qreal kRingWidth = 2;

} // namespace

void TFocusStyle::drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                              const QWidget* widget) const {
  QProxyStyle::drawControl(element, option, painter, widget);
  if (element != CE_PushButton) return;
  const State needed = State_HasFocus | State_KeyboardFocusChange;
  if ((option->state & needed) != needed) return;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, true);
  QPen pen(option->palette.color(QPalette::Active, QPalette::Highlight), kRingWidth);
  pen.setCosmetic(false);
  painter->setPen(pen);
  painter->setBrush(Qt::NoBrush);
  const qreal half = kRingWidth / 2;
  const QRectF ring =
      QRectF(option->rect)
          .adjusted(kRingInset + half, kRingInset + half, -kRingInset - half, -kRingInset - half);
  painter->drawRoundedRect(ring, 2, 2);
  painter->restore();
}

// The application owns its style (and the proxy its base) from here on.
// NOLINTBEGIN(clang-analyzer-cplusplus.NewDeleteLeaks)
void InstallFocusStyle() {
  if (qobject_cast<TFocusStyle*>(QApplication::style())) return;
  QStyle* base = QStyleFactory::create(QApplication::style()->name());
  QApplication::setStyle(new TFocusStyle(base));
}
// NOLINTEND(clang-analyzer-cplusplus.NewDeleteLeaks)

} // namespace qk::windows
