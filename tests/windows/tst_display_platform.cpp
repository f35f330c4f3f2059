// The windowing system asked of Qt: X11 only under the Qt whose Wayland drops are lost, with both
// displays there and no platform chosen by the user.
#include "windows/DisplayPlatform.h"

#include <QTest>

using qk::windows::PreferredPlatform;

class TestDisplayPlatform : public QObject {
  Q_OBJECT

private slots:
  void choice_data() {
    for (const char* column : {"wayland", "x11", "chosen", "args", "qt", "platform"}) {
      QTest::addColumn<QString>(column);
    }
    QTest::newRow("6.5.2 loses drops") << "wayland-0"
                                       << ":0"
                                       << ""
                                       << "-E f.txt"
                                       << "6.5.2"
                                       << "xcb";
    QTest::newRow("6.4.2 drops arrive") << "wayland-0"
                                        << ":0"
                                        << ""
                                        << ""
                                        << "6.4.2"
                                        << "";
    QTest::newRow("6.5.1 before the fault") << "wayland-0"
                                            << ":0"
                                            << ""
                                            << ""
                                            << "6.5.1"
                                            << "";
    QTest::newRow("6.5.3 mended") << "wayland-0"
                                  << ":0"
                                  << ""
                                  << ""
                                  << "6.5.3"
                                  << "";
    QTest::newRow("no X display") << "wayland-0"
                                  << ""
                                  << ""
                                  << ""
                                  << "6.5.2"
                                  << "";
    QTest::newRow("no Wayland display") << ""
                                        << ":0"
                                        << ""
                                        << ""
                                        << "6.5.2"
                                        << "";
    QTest::newRow("QT_QPA_PLATFORM") << "wayland-0"
                                     << ":0"
                                     << "wayland"
                                     << ""
                                     << "6.5.2"
                                     << "";
    QTest::newRow("-platform") << "wayland-0"
                               << ":0"
                               << ""
                               << "-platform wayland"
                               << "6.5.2"
                               << "";
    QTest::newRow("--platform") << "wayland-0"
                                << ":0"
                                << ""
                                << "--platform wayland"
                                << "6.5.2"
                                << "";
  }
  void choice() {
    QFETCH(QString, wayland);
    QFETCH(QString, x11);
    QFETCH(QString, chosen);
    QFETCH(QString, args);
    QFETCH(QString, qt);
    QFETCH(QString, platform);
    std::vector<std::string> words;
    for (const QString& word : args.split(' ', Qt::SkipEmptyParts))
      words.push_back(word.toStdString());
    const std::string choice = PreferredPlatform(
        {wayland.toStdString(), x11.toStdString(), chosen.toStdString()}, words, qt.toStdString());
    QCOMPARE(QString::fromStdString(choice), platform);
  }
};

QTEST_APPLESS_MAIN(TestDisplayPlatform)
#include "tst_display_platform.moc"
