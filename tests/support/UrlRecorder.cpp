#include "support/UrlRecorder.h"

#include <QDesktopServices>
#include <QFile>
#include <QTextDocument>

namespace qk::test {

UrlRecorder::UrlRecorder() {
  for (const char* scheme : {"file", "http", "https"}) {
    QDesktopServices::setUrlHandler(scheme, this, "open");
  }
}

UrlRecorder::~UrlRecorder() {
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
}

// A page that leads the browser on is recorded as the address it leads to.
void UrlRecorder::open(const QUrl& url) {
  handed << url;
  QFile page(url.toLocalFile());
  if (url.isLocalFile() && url.fileName() == QStringLiteral("qk-manual-section.html") &&
      page.open(QIODevice::ReadOnly)) {
    const QString text = QString::fromUtf8(page.readAll());
    const QString mark = QStringLiteral("content=\"0; url=");
    const qsizetype at = text.indexOf(mark) + mark.size();
    QTextDocument unescaped;
    unescaped.setHtml(text.mid(at, text.indexOf('"', at) - at));
    urls << QUrl(unescaped.toPlainText(), QUrl::StrictMode);
    return;
  }
  urls << url;
}

} // namespace qk::test
