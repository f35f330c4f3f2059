// The program's style: the desktop's own (or the one chosen with -style), with a focus mark that
// shows on every push button. Some styles mark the focus with the same frame as the default
// button, so that on 閉じる or OK the focus could not be seen; here a focused button also gets a
// ring inside its edge in the selection colour, once the keyboard has moved the focus.
#pragma once

#include <QProxyStyle>

namespace qk::windows {

class TFocusStyle : public QProxyStyle {
  Q_OBJECT

public:
  using QProxyStyle::QProxyStyle;

  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget = nullptr) const override;
};

// Makes TFocusStyle, over the style in use, the application's style; once per process.
void InstallFocusStyle();

} // namespace qk::windows
