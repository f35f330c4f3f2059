#include "windows/Pictures.h"

#include <QDir>
#include <QLineF>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QPolygonF>
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

namespace {
// An open folder: the back with its tab, and the front leaning forward over it.
QImage FolderImage(int scale) {
  QImage image = TransparentImage(kFolderIconSize * scale);
  image.setDevicePixelRatio(scale);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor back(0x3c, 0x78, 0xc8);
  const QColor front(0x6c, 0xa8, 0xf0);
  const QColor edge(0x1e, 0x46, 0x82);
  painter.setPen(QPen(edge, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  painter.setBrush(back);
  painter.drawPolygon(
      QPolygonF({{2.5, 20.5}, {2.5, 5.5}, {9.0, 5.5}, {11.0, 7.5}, {19.5, 7.5}, {19.5, 20.5}}));
  painter.setBrush(front);
  painter.drawPolygon(QPolygonF({{2.5, 20.5}, {6.0, 11.5}, {22.5, 11.5}, {19.5, 20.5}}));
  return image;
}
} // namespace

QIcon FolderIcon() {
  QIcon icon;
  for (int scale : {1, 2, 3}) icon.addPixmap(QPixmap::fromImage(FolderImage(scale)));
  return icon;
}

QImage MessageImage(MessagePicture kind, int size) {
  QImage image = TransparentImage(size);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 32.0, size / 32.0);
  painter.setPen(Qt::NoPen);
  const QColor blue(0x25, 0x63, 0xc8);
  const QColor white = Qt::white;
  switch (kind) {
  case MessagePicture::Information:
    painter.setBrush(blue);
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    painter.setBrush(white);
    painter.drawEllipse(QRectF(13.5, 6, 5, 5));
    painter.drawRoundedRect(QRectF(13.75, 13, 4.5, 13), 1, 1);
    break;
  case MessagePicture::Question: {
    painter.setBrush(blue);
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    QPainterPath hook;
    hook.moveTo(10.5, 12.5);
    hook.cubicTo(10.5, 5.5, 21.5, 5.5, 21.5, 12);
    hook.cubicTo(21.5, 16, 16, 16.5, 16, 20.5);
    painter.setPen(QPen(white, 4.2, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(hook);
    painter.setPen(Qt::NoPen);
    painter.setBrush(white);
    painter.drawEllipse(QRectF(13.6, 22.5, 4.8, 4.8));
    break;
  }
  case MessagePicture::Warning: {
    QPainterPath triangle;
    triangle.moveTo(16, 2);
    triangle.lineTo(31, 29);
    triangle.lineTo(1, 29);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(0x8a, 0x5a, 0x00), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0xf5, 0xb4, 0x00));
    painter.drawPath(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawRoundedRect(QRectF(14, 10, 4, 11), 1, 1);
    painter.drawEllipse(QRectF(13.75, 22.5, 4.5, 4.5));
    break;
  }
  case MessagePicture::Critical:
    painter.setBrush(QColor(0xc8, 0x1e, 0x1e));
    painter.drawEllipse(QRectF(1, 1, 30, 30));
    painter.setPen(QPen(white, 4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10.5, 10.5), QPointF(21.5, 21.5));
    painter.drawLine(QPointF(21.5, 10.5), QPointF(10.5, 21.5));
    break;
  }
  return image;
}

QIcon MessageIcon(MessagePicture kind) {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 96, 128, 192})
    icon.addPixmap(QPixmap::fromImage(MessageImage(kind, size)));
  return icon;
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
