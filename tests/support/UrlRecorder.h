// Addresses the program hands to the desktop, recorded in place of the desktop's browser while
// the recorder exists.
#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace qk::test {

class UrlRecorder : public QObject {
  Q_OBJECT

public:
  UrlRecorder();
  ~UrlRecorder() override;

  QList<QUrl> urls;
  // As the desktop was handed them: a local file's address without a section, which the
  // desktop's opener would drop.
  QList<QUrl> handed;

public slots:
  void open(const QUrl& url);
};

} // namespace qk::test
