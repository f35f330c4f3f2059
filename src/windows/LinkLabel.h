// TLinkLabel: a line of text that opens something when pressed (the manual, the support page),
// looking like a link of a web page, in the link colours of the palette (the visited one once it
// was pressed). It is reached with Tab and marked while it has the focus;
// a click, Enter or Space presses it. Screen readers find a link with a press action, so that
// they announce it as something to activate, and can press it themselves.
#pragma once

#include <QAccessibleWidget>
#include <QLabel>

namespace qk::windows {

class TLinkLabel : public QLabel {
  Q_OBJECT

public:
  TLinkLabel(const QString& text, QWidget* parent = nullptr);

  // What a click, a key or a screen reader does.
  void Press();

signals:
  void clicked();

protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

private:
  bool pressedInside_ = false;
};

// What assistive technology is told about a TLinkLabel: a link named by its text (or its
// accessible name), with the press action besides the focus action of every widget.
class TLinkLabelAccessible : public QAccessibleWidget {
public:
  explicit TLinkLabelAccessible(TLinkLabel* link);

  QString text(QAccessible::Text kind) const override;
  QStringList actionNames() const override;
  void doAction(const QString& action) override;
  QStringList keyBindingsForAction(const QString& action) const override;
};

} // namespace qk::windows
