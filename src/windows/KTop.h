// TKTop: keeps the window that owns it above all other windows of the desktop, or releases it,
// without moving, resizing or activating it.
#pragma once

#include <QObject>

class QWidget;

namespace qk::windows {

class TKTop : public QObject {
  Q_OBJECT

public:
  // Applies to owner only when it is a window (a top-level widget). Switches it on at once.
  explicit TKTop(QObject* owner);
  // Switches it off again, unless the owner is being destroyed itself.
  ~TKTop() override;
  TKTop(const TKTop&) = delete;
  TKTop& operator=(const TKTop&) = delete;

  bool KTop() const { return kTop_; }
  void SetKTop(bool on);

private:
  void Apply();

  QWidget* window_ = nullptr; // the owner when it is a window, until it is destroyed
  bool kTop_ = false;
};

} // namespace qk::windows
