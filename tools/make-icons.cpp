// qk-make-icons: writes the program icon and the icon of QK's containers as PNG files for
// installation, or a preview sheet.
//
//   qk-make-icons DIR              DIR/<n>x<n>/apps/qk.png and
//                                  DIR/<n>x<n>/mimetypes/application-x-qk-encrypted.png
//                                  for every icon size
//   qk-make-icons --preview FILE   both button pictures and the 256-pixel icon side by side
//
// Runs without a display: it always uses Qt's offscreen platform.
#include "windows/Pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace {

// The name file managers look up for the type application/x-qk-encrypted.
const char* const kContainerIconName = "application-x-qk-encrypted";

// The icon of a container: a sheet of paper with a folded corner, carrying the program icon.
QImage ContainerIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const qreal line = std::max(1.0, size / 32.0);
  const qreal left = size * 0.14 + line / 2;
  const qreal right = size * 0.86 - line / 2;
  const qreal top = line / 2;
  const qreal bottom = size - line / 2;
  const qreal fold = size * 0.22;

  QPainterPath sheet;
  sheet.moveTo(left, top);
  sheet.lineTo(right - fold, top);
  sheet.lineTo(right, top + fold);
  sheet.lineTo(right, bottom);
  sheet.lineTo(left, bottom);
  sheet.closeSubpath();
  painter.setPen(QPen(QColor(0x70, 0x70, 0x70), line));
  painter.setBrush(Qt::white);
  painter.drawPath(sheet);

  QPainterPath corner;
  corner.moveTo(right - fold, top);
  corner.lineTo(right - fold, top + fold);
  corner.lineTo(right, top + fold);
  corner.closeSubpath();
  painter.setBrush(QColor(0xd0, 0xd0, 0xd0));
  painter.drawPath(corner);

  const int iconSize = qRound(size * 0.56);
  const int x = (size - iconSize) / 2;
  const int y = qRound(bottom - line - size * 0.06) - iconSize;
  painter.drawImage(x, y, qk::windows::IconImage(iconSize));
  return image;
}

bool WriteContainerIconFiles(const QString& dir) {
  for (int size : qk::windows::kIconSizes) {
    const QString folder = QStringLiteral("%1/%2x%2/mimetypes").arg(dir).arg(size);
    if (!QDir().mkpath(folder)) return false;
    const QString file =
        folder + QLatin1Char('/') + QLatin1String(kContainerIconName) + QStringLiteral(".png");
    if (!ContainerIconImage(size).save(file, "PNG")) return false;
  }
  return true;
}

// The pictures on a button-grey ground, so that their transparent border shows.
QImage PreviewSheet() {
  using namespace qk::windows;
  const QImage icon = IconImage(256);
  const QImage container = ContainerIconImage(256);
  const int gap = 24;
  const int width =
      gap + kPictureSize + gap + kPictureSize + gap + icon.width() + gap + container.width() + gap;
  const int height = gap + icon.height() + gap;
  QImage sheet(width, height, QImage::Format_ARGB32_Premultiplied);
  sheet.fill(QColor(0xd4, 0xd0, 0xc8));
  QPainter painter(&sheet);
  const int pictureTop = (height - kPictureSize) / 2;
  painter.drawImage(gap, pictureTop, EncImage());
  painter.drawImage(gap + kPictureSize + gap, pictureTop, DecImage());
  painter.drawImage(gap + 2 * (kPictureSize + gap), gap, icon);
  painter.drawImage(gap + 2 * (kPictureSize + gap) + icon.width() + gap, gap, container);
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
    if (qk::windows::WriteIconFiles(args[0]) && WriteContainerIconFiles(args[0])) return 0;
    std::fprintf(stderr, "qk-make-icons: cannot write the icons under %s\n", qPrintable(args[0]));
    return 1;
  }
  std::fprintf(stderr, "usage: qk-make-icons DIR | qk-make-icons --preview FILE\n");
  return 2;
}
