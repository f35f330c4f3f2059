#include "windows/Pictures.h"

#include <QDir>
#include <QLineF>
#include <QPainter>
#include <QPen>
#include <QRectF>
#include <algorithm>

namespace qk::windows {

namespace {

const QColor kLetterColor = Qt::white;

// A line from a to b, lengthened beyond b by extra; used for strokes that a clip cuts off flush.
QLineF Extended(QPointF a, QPointF b, qreal extra) {
  QLineF line(a, b);
  line.setLength(line.length() + extra);
  return line;
}

QPen LetterPen(qreal stroke) {
  return QPen(kLetterColor, stroke, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
}

// A bold "Q" whose ring fills box; the tail runs out of the ring's lower right towards the
// bottom-right corner and may leave box by about a fifth of its size.
void DrawQ(QPainter& painter, const QRectF& box, qreal stroke) {
  painter.setPen(LetterPen(stroke));
  painter.setBrush(Qt::NoBrush);
  const qreal half = stroke / 2;
  painter.drawEllipse(box.adjusted(half, half, -half, -half));
  const QPointF from(box.center().x() + box.width() * 0.10, box.center().y() + box.height() * 0.16);
  const QPointF to(box.right() + box.width() * 0.08, box.bottom() + box.height() * 0.12);
  painter.drawLine(QLineF(from, to));
}

// A bold "K" that fills box: a stem on the left and two arms cut flush with the top and the bottom.
void DrawK(QPainter& painter, const QRectF& box, qreal stroke) {
  painter.save();
  painter.setClipRect(box, Qt::IntersectClip);
  painter.fillRect(QRectF(box.left(), box.top(), stroke, box.height()), kLetterColor);
  painter.setPen(LetterPen(stroke * 1.08));
  const QPointF joint(box.left() + stroke * 0.5, box.top() + box.height() * 0.70);
  const QPointF top(box.right() - stroke * 0.45, box.top());
  painter.drawLine(Extended(joint, top, stroke * 1.5));
  const QPointF branch = QLineF(joint, top).pointAt(0.36);
  const QPointF foot(box.right() - stroke * 0.40, box.bottom());
  painter.drawLine(Extended(branch, foot, stroke * 1.5));
  painter.restore();
}

QImage TransparentImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  return image;
}

enum class Letter { Q, K };

// The picture for a screen of scale device pixels per pixel: drawn anew at that resolution
// rather than enlarged, so that it stays sharp.
QImage Picture(const QColor& color, Letter letter, int scale = 1) {
  QImage image = TransparentImage(kPictureSize * scale);
  image.setDevicePixelRatio(scale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const int margin = (kPictureSize - kPictureSquare) / 2;
  const QRect square(margin, margin, kPictureSquare, kPictureSquare);
  painter.fillRect(square, color);
  painter.setClipRect(square);
  const qreal stroke = kPictureSquare * 0.15;
  const qreal height = kPictureSquare * 0.70;
  const qreal width = kPictureSquare * (letter == Letter::Q ? 0.64 : 0.56);
  // The Q sits a little higher and to the left, so that ring and tail together look centred.
  const qreal shift = letter == Letter::Q ? -kPictureSquare * 0.03 : 0;
  const QRectF box(kPictureSize / 2.0 - width / 2 + shift, kPictureSize / 2.0 - height / 2 + shift,
                   width, height);
  if (letter == Letter::Q) {
    DrawQ(painter, box, stroke);
  } else {
    DrawK(painter, box, stroke);
  }
  return image;
}

} // namespace

QImage EncImage() {
  return Picture(kEncryptColor, Letter::Q);
}

QImage DecImage() {
  return Picture(kDecryptColor, Letter::K);
}

QImage IconImage(int size) {
  QImage image = TransparentImage(size);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const int leftWidth = size / 2;
  const QRect left(0, 0, leftWidth, size);
  const QRect right(leftWidth, 0, size - leftWidth, size);
  painter.fillRect(left, kEncryptColor);
  painter.fillRect(right, kDecryptColor);

  const qreal stroke = std::max(1.5, size * 0.10);
  const qreal height = size * 0.58;
  const qreal top = (size - height) / 2 - size * 0.02;

  painter.save();
  painter.setClipRect(left);
  const qreal qWidth = leftWidth * 0.80;
  DrawQ(painter, QRectF(left.center().x() + 0.5 - qWidth / 2 - size * 0.02, top, qWidth, height),
        stroke);
  painter.restore();

  painter.save();
  painter.setClipRect(right);
  const qreal kWidth = right.width() * 0.64;
  DrawK(painter, QRectF(right.left() + (right.width() - kWidth) / 2, top, kWidth, height), stroke);
  painter.restore();
  return image;
}

QPixmap EncPicture() {
  return QPixmap::fromImage(EncImage());
}

QPixmap DecPicture() {
  return QPixmap::fromImage(DecImage());
}

namespace {
QIcon SharpIcon(const QColor& color, Letter letter) {
  QIcon icon;
  for (int scale : {1, 2, 3}) icon.addPixmap(QPixmap::fromImage(Picture(color, letter, scale)));
  return icon;
}
} // namespace

QIcon EncIcon() {
  return SharpIcon(kEncryptColor, Letter::Q);
}

QIcon DecIcon() {
  return SharpIcon(kDecryptColor, Letter::K);
}

QIcon ProgramIcon() {
  QIcon icon;
  for (int size : kIconSizes) icon.addPixmap(QPixmap::fromImage(IconImage(size)));
  return icon;
}

bool WriteIconFiles(const QString& dir) {
  for (int size : kIconSizes) {
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
    if (!QDir().mkpath(folder)) return false;
    if (!IconImage(size).save(folder + QStringLiteral("/qk.png"), "PNG")) return false;
  }
  return true;
}

} // namespace qk::windows
