// TDropWatch: turns one widget into a target for files dragged from the desktop or a file
// manager, switchable on and off, and reports every drop once with the full local paths.
#pragma once

#include <QObject>
#include <QStringList>
#include <functional>

class QWidget;

namespace qk::windows {

class TDropWatch : public QObject {
  Q_OBJECT

public:
  // Sender, drop point in the watched widget's coordinates, dropped paths (files and folders
  // alike, in the order the drag source lists them). The list lives only during the call.
  using TFilesDroppedEvent =
      std::function<void(TDropWatch& sender, int x, int y, const QStringList& files)>;

  explicit TDropWatch(QObject* owner = nullptr);
  ~TDropWatch() override;
  TDropWatch(const TDropWatch&) = delete;
  TDropWatch& operator=(const TDropWatch&) = delete;

  QWidget* WatchControl() const { return control_; }
  // The same widget again does nothing; another one (or none) unhooks the old widget first.
  void SetWatchControl(QWidget* control);

  // Whether drops are taken (false at creation). Switching it while hooked changes the
  // widget's acceptance of drops at once.
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);

  // The watched widget's events currently pass through this watcher.
  bool Hooked() const { return hooked_; }

  TFilesDroppedEvent OnFilesDropped;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void HookControl();
  void UnhookControl();
  void ApplyAcceptDrops();
  void ControlDestroyed();

  QWidget* control_ = nullptr;
  bool enabled_ = false;
  bool hooked_ = false;
  // The widget's own acceptance of drops before it was hooked, put back when it is unhooked
  // or the watcher is switched off.
  bool savedAcceptDrops_ = false;
  QMetaObject::Connection destroyedConnection_;
};

} // namespace qk::windows
