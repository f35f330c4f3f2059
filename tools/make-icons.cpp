// qk-make-icons: writes the program icon as PNG files for installation, or a preview sheet.
//
//   qk-make-icons DIR              DIR/<n>x<n>/apps/qk.png for every icon size
//   qk-make-icons --preview FILE   both button pictures and the 256-pixel icon side by side
//
// Runs without a display: it always uses Qt's offscreen platform.
#include "app/Pictures.h"

#include <QGuiApplication>
#include <QPainter>
#include <QStringList>
#include <cstdio>

namespace {

// The pictures on a button-grey ground, so that their transparent border shows.
QImage PreviewSheet() {
  using namespace qk::app;
  const QImage icon = IconImage(256);
  const int gap = 24;
  const int width = gap + kPictureSize + gap + kPictureSize + gap + icon.width() + gap;
  const int height = gap + icon.height() + gap;
  QImage sheet(width, height, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(QColor(0xd4, 0xd0, 0xc8));
  QPainter painter(&sheet);
  const int pictureTop = (height - kPictureSize) / 2;
  painter.drawImage(gap, pictureTop, EncImage());
  painter.drawImage(gap + kPictureSize + gap, pictureTop, DecImage());
  painter.drawImage(gap + 2 * (kPictureSize + gap), gap, icon);
  return sheet;
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments().mid(1);
  if (args.size() == 2 && args[0] == QStringLiteral("--preview")) {
    if (PreviewSheet().save(args[1], "PNG")) return 0;
    std::fprintf(stderr, "qk-make-icons: cannot write %s\n", qPrintable(args[1]));
    return 1;
  }
  if (args.size() == 1 && !args[0].startsWith(QLatin1Char('-'))) {
    if (qk::app::WriteIconFiles(args[0])) return 0;
    std::fprintf(stderr, "qk-make-icons: cannot write the icons under %s\n", qPrintable(args[0]));
    return 1;
  }
  std::fprintf(stderr, "usage: qk-make-icons DIR | qk-make-icons --preview FILE\n");
  return 2;
}
