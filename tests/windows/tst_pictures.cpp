// The button pictures and the program icon: size, transparent border, colours, letters, and the
// icon files written for installation.
#include "support/TestSupport.h"
#include "windows/Pictures.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QTest>

using namespace qk::windows;

namespace {

bool IsWhite(const QColor& c) {
  return c.alpha() == 255 && c.red() > 200 && c.green() > 200 && c.blue() > 200;
}

// Opaque pixels of exactly the colour.
int CountExact(const QImage& image, const QColor& colour) {
  int count = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() == 255 && c.rgb() == colour.rgb()) ++count;
    }
  }
  return count;
}

// The smallest rectangle holding every pixel for which the test holds.
template <typename Test> QRect Bounds(const QImage& image, Test test) {
  QRect bounds;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      if (test(image.pixelColor(x, y))) bounds |= QRect(x, y, 1, 1);
    }
  }
  return bounds;
}

QImage Argb(const QImage& image) {
  return image.convertToFormat(QImage::Format_ARGB32);
}

} // namespace

class PicturesTest : public QObject {
  Q_OBJECT

private slots:
  // Each message picture is drawn at the size asked for, in its own colour, and the icon hands
  // out a picture of the device pixels asked for (no enlarging at two or three per pixel).
  void messagePictures_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<QColor>("colour");
    using qk::windows::MessagePicture;
    QTest::newRow("information") << int(MessagePicture::Information) << QColor(0x25, 0x63, 0xc8);
    QTest::newRow("question") << int(MessagePicture::Question) << QColor(0x25, 0x63, 0xc8);
    QTest::newRow("warning") << int(MessagePicture::Warning) << QColor(0xf5, 0xb4, 0x00);
    QTest::newRow("critical") << int(MessagePicture::Critical) << QColor(0xc8, 0x1e, 0x1e);
  }
  void messagePictures() {
    QFETCH(int, kind);
    QFETCH(QColor, colour);
    const auto picture = static_cast<qk::windows::MessagePicture>(kind);
    for (int size : {16, 32, 64, 128}) {
      const QImage image = Argb(qk::windows::MessageImage(picture, size));
      QCOMPARE(image.size(), QSize(size, size));
      QCOMPARE(image.pixelColor(int(size * 0.3), int(size * 0.8)), colour);
      QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
    }
    const QIcon icon = qk::windows::MessageIcon(picture);
    for (qreal scale : {1.0, 2.0, 3.0}) {
      const QPixmap drawn = icon.pixmap(QSize(32, 32), scale);
      QCOMPARE(drawn.size(), QSize(32, 32) * scale);
      QCOMPARE(drawn.devicePixelRatio(), scale);
    }
    // The others differ from this one.
    for (int other = 0; other < 4; ++other) {
      if (other == kind) continue;
      QVERIFY(qk::windows::MessageImage(picture, 32) !=
              qk::windows::MessageImage(static_cast<qk::windows::MessagePicture>(other), 32));
    }
  }

  void buttonPictures_data() {
    QTest::addColumn<QImage>("image");
    QTest::addColumn<QColor>("colour");
    QTest::newRow("encrypt Q on green") << Argb(EncPicture().toImage()) << QColor(0, 128, 0);
    QTest::newRow("decrypt K on teal") << Argb(DecPicture().toImage()) << QColor(0, 128, 128);
  }

  // 100 x 100 with an alpha channel; a square of about 80 x 80 in the middle, in the exact
  // colour; everything around it transparent; a white letter inside it, roughly centred.
  void buttonPictures() {
    QFETCH(QImage, image);
    QFETCH(QColor, colour);
    QCOMPARE(image.size(), QSize(100, 100));
    QVERIFY(image.hasAlphaChannel());
    for (const QPoint corner : {QPoint(0, 0), QPoint(99, 0), QPoint(0, 99), QPoint(99, 99)}) {
      QCOMPARE(image.pixelColor(corner).alpha(), 0);
    }

    const QRect opaque = Bounds(image, [](const QColor& c) { return c.alpha() > 0; });
    QVERIFY2(opaque.width() >= 76 && opaque.width() <= 84,
             qPrintable(QString::number(opaque.width())));
    QVERIFY(opaque.height() >= 76 && opaque.height() <= 84);
    QVERIFY(qAbs(opaque.left() - (99 - opaque.right())) <= 1);
    QVERIFY(qAbs(opaque.top() - (99 - opaque.bottom())) <= 1);
    // The square's edge is solid: no translucent pixels along its border.
    QCOMPARE(image.pixelColor(opaque.left(), opaque.top()).rgba(), colour.rgba());
    QCOMPARE(image.pixelColor(opaque.right(), opaque.bottom()).rgba(), colour.rgba());

    // Background and letter: most of the square is the colour itself, a good part is white.
    const int area = opaque.width() * opaque.height();
    const int background = CountExact(image, colour);
    const int white = CountExact(image, Qt::white);
    QVERIFY2(background > area / 2, qPrintable(QString::number(background)));
    QVERIFY2(white > area / 8, qPrintable(QString::number(white)));

    const QRect letter = Bounds(image, IsWhite);
    QVERIFY(opaque.contains(letter));
    QVERIFY2(letter.height() > opaque.height() / 2, "a large letter");
    const QPoint offset = letter.center() - opaque.center();
    QVERIFY2(
        qAbs(offset.x()) <= 6 && qAbs(offset.y()) <= 6,
        qPrintable(QStringLiteral("letter centre off by %1,%2").arg(offset.x()).arg(offset.y())));
  }

  // The two letters have different shapes: a Q has its ring's hole in the middle, a K a solid
  // stem on its left.
  void lettersDiffer() {
    const QImage q = Argb(EncImage());
    const QImage k = Argb(DecImage());
    QCOMPARE(q.pixelColor(50, 45).rgb(), QColor(0, 128, 0).rgb());
    const QRect kLetter = Bounds(k, IsWhite);
    for (int y = kLetter.top() + 1; y < kLetter.bottom(); ++y) {
      QVERIFY2(IsWhite(k.pixelColor(kLetter.left() + 2, y)), qPrintable(QString::number(y)));
    }
    int differing = 0;
    for (int y = 0; y < 100; ++y) {
      for (int x = 0; x < 100; ++x) {
        if (IsWhite(q.pixelColor(x, y)) != IsWhite(k.pixelColor(x, y))) ++differing;
      }
    }
    QVERIFY2(differing > 800, qPrintable(QString::number(differing)));
  }

  // On a screen of two device pixels per pixel the button pictures are drawn at that resolution:
  // the same picture, but with twice the detail rather than doubled pixels.
  void picturesAreSharpAtTwiceTheResolution() {
    for (const auto& [icon, one] :
         {std::pair{EncIcon(), EncImage()}, std::pair{DecIcon(), DecImage()}}) {
      const QPixmap pixmap = icon.pixmap(QSize(100, 100), 2.0);
      QCOMPARE(pixmap.devicePixelRatio(), 2.0);
      const QImage two = Argb(pixmap.toImage());
      QCOMPARE(two.size(), QSize(200, 200));
      const QImage doubled =
          Argb(one).scaled(200, 200, Qt::IgnoreAspectRatio, Qt::FastTransformation);
      int differing = 0;
      for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
          if (two.pixel(x, y) != doubled.pixel(x, y)) ++differing;
      QVERIFY2(differing > 200, qPrintable(QString::number(differing)));
      // Colours where they belong: the square's corner, the border around it.
      QCOMPARE(two.pixelColor(22, 22).rgba(), Argb(one).pixelColor(11, 11).rgba());
      QCOMPARE(qAlpha(two.pixel(4, 4)), 0);
    }
  }

  // Every size, with green on the left, teal on the right and white in both halves.
  void icon() {
    const QIcon icon = ProgramIcon();
    QList<QSize> expected;
    for (int size : kIconSizes) expected << QSize(size, size);
    QCOMPARE(icon.availableSizes(), expected);
    for (int size : kIconSizes) {
      const QImage image = Argb(icon.pixmap(size).toImage());
      QCOMPARE(image.size(), QSize(size, size));
      const int half = size / 2;
      QCOMPARE(image.pixelColor(0, 0).rgba(), QColor(0, 128, 0).rgba());
      QCOMPARE(image.pixelColor(half - 1, size - 1).rgba(), QColor(0, 128, 0).rgba());
      QCOMPARE(image.pixelColor(half, 0).rgba(), QColor(0, 128, 128).rgba());
      QCOMPARE(image.pixelColor(size - 1, size - 1).rgba(), QColor(0, 128, 128).rgba());
      // At 16 pixels a two-pixel stroke is blurred by the antialiasing; "near white" is enough.
      const auto light = [](const QColor& c) {
        return c.red() > 150 && c.green() > 150 && c.blue() > 150;
      };
      const QRect leftLetter = Bounds(image.copy(0, 0, half, size), light);
      const QRect rightLetter = Bounds(image.copy(half, 0, size - half, size), light);
      QVERIFY2(leftLetter.height() >= size / 3, qPrintable(QString::number(size)));
      QVERIFY2(rightLetter.height() >= size / 3, qPrintable(QString::number(size)));
    }
  }

  // The installed files: one PNG per size in the icon-theme layout, read back intact.
  void iconFiles() {
    qk::test::TempDir dir;
    const QString root = QString::fromStdString(dir.path()) + QStringLiteral("/hicolor");
    QVERIFY(WriteIconFiles(root));
    for (int size : kIconSizes) {
      const QString file = QStringLiteral("%1/%2x%2/apps/qk.png").arg(root).arg(size);
      QImage image;
      QVERIFY2(image.load(file, "PNG"), qPrintable(file));
      QCOMPARE(image.size(), QSize(size, size));
      QCOMPARE(Argb(image), Argb(IconImage(size)));
    }
    QCOMPARE(QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(),
             static_cast<qsizetype>(kIconSizes.size()));
  }

  void iconFilesUnwritable() {
    qk::test::TempDir dir;
    const std::string blocker = dir / "hicolor";
    qk::test::WriteAll(blocker, "a file where the folder should be");
    QVERIFY(!WriteIconFiles(QString::fromStdString(blocker)));
  }
};

QTEST_MAIN(PicturesTest)
#include "tst_pictures.moc"
