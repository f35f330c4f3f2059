#include "windows/LinkLabel.h"

#include "windows/Accessible.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QMouseEvent>

namespace qk::windows {

namespace {

QAccessibleInterface* LinkFactory(const QString& /*className*/, QObject* object) {
  if (auto* link = qobject_cast<TLinkLabel*>(object)) return new TLinkLabelAccessible(link);
  return nullptr;
}

void InstallLinkFactory() {
  static const bool installed = [] {
    QAccessible::installFactory(&LinkFactory);
    return true;
  }();
  (void)installed;
}

} // namespace

TLinkLabel::TLinkLabel(const QString& text, QWidget* parent) : QLabel(parent) {
  InstallLinkFactory();
  // An interface Qt made while the plain label was being built knows nothing of the link.
  ForgetEarlyInterface(this, QAccessible::Link);
  setText(text);
  setCursor(Qt::PointingHandCursor);
  setWordWrap(true);
  setFocusPolicy(Qt::StrongFocus);
  // The link colour of the palette in use, so that a dark theme gives one that can be read.
  setForegroundRole(QPalette::Link);
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
  // The focus shows as the selection colours over the whole text.
  setStyleSheet(QStringLiteral("QLabel:focus { background: palette(highlight); color: "
                               "palette(highlighted-text); }"));
}

void TLinkLabel::Press() {
  // Once opened it looks like a visited link of a web page.
  setForegroundRole(QPalette::LinkVisited);
  emit clicked();
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  pressedInside_ = event->button() == Qt::LeftButton;
  event->accept();
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  // A press counts where it was let go over the link, as with a button.
  const bool press = pressedInside_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  pressedInside_ = false;
  event->accept();
  if (press) Press();
}

void TLinkLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
  case Qt::Key_Return:
  case Qt::Key_Enter:
  case Qt::Key_Space:
    event->accept();
    Press();
    return;
  default:
    QLabel::keyPressEvent(event);
  }
}

TLinkLabelAccessible::TLinkLabelAccessible(TLinkLabel* link)
    : QAccessibleWidget(link, QAccessible::Link) {}

QString TLinkLabelAccessible::text(QAccessible::Text kind) const {
  if (kind == QAccessible::Name) {
    const QString name = widget()->accessibleName();
    return name.isEmpty() ? static_cast<const QLabel*>(widget())->text() : name;
  }
  return QAccessibleWidget::text(kind);
}

QStringList TLinkLabelAccessible::actionNames() const {
  return QStringList{pressAction()} + QAccessibleWidget::actionNames();
}

void TLinkLabelAccessible::doAction(const QString& action) {
  if (action == pressAction()) {
    static_cast<TLinkLabel*>(widget())->Press();
    return;
  }
  QAccessibleWidget::doAction(action);
}

QStringList TLinkLabelAccessible::keyBindingsForAction(const QString& action) const {
  if (action == pressAction()) return {QStringLiteral("Return"), QStringLiteral("Space")};
  return QAccessibleWidget::keyBindingsForAction(action);
}

} // namespace qk::windows
