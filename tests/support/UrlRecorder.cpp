#include "support/UrlRecorder.h"

#include <QDesktopServices>

namespace qk::test {

UrlRecorder::UrlRecorder() {
  for (const char* scheme : {"file", "http", "https"}) {
    QDesktopServices::setUrlHandler(scheme, this, "open");
  }
}

UrlRecorder::~UrlRecorder() {
  for (const char* scheme : {"file", "http", "https"}) QDesktopServices::unsetUrlHandler(scheme);
}

void UrlRecorder::open(const QUrl& url) {
  urls << url;
}

} // namespace qk::test
