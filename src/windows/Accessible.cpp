#include "windows/Accessible.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QWidget>

namespace qk::windows {

namespace {

constexpr const char* kRoleProperty = "qkAccessibleRole";

QAccessibleInterface* Factory(const QString& /*className*/, QObject* object) {
  if (!object || !object->isWidgetType()) return nullptr;
  const QVariant role = object->property(kRoleProperty);
  if (!role.isValid()) return nullptr;
  return new QAccessibleWidget(static_cast<QWidget*>(object),
                               static_cast<QAccessible::Role>(role.toInt()));
}

void InstallFactory() {
  static const bool installed = [] {
    QAccessible::installFactory(&Factory);
    return true;
  }();
  (void)installed;
}

} // namespace

void MarkAsFrame(QWidget* window) {
  InstallFactory();
  window->setProperty(kRoleProperty, static_cast<int>(QAccessible::Window));
  ForgetEarlyInterface(window, QAccessible::Window);
}

void ForgetEarlyInterface(QWidget* widget, QAccessible::Role wanted) {
  if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(widget);
      made && made->role() != wanted)
    QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}

} // namespace qk::windows
