// X11 is asked of Qt only under the Qt that loses Wayland drops, with both displays, unchosen.
#include "windows/DisplayPlatform.h"

#include <QTest>

using namespace qk::windows;

class TestDisplayPlatform : public QObject {
  Q_OBJECT

private slots:
  void choice() {
    using Args = std::vector<std::string>;
    const DisplayEnvironment both{"wayland-0", ":0", ""};
    const std::tuple<DisplayEnvironment, Args, const char*, const char*> rows[] = {
        {both, {"-E", "f.txt"}, "6.5.2", "xcb"},
        {both, {}, "6.4.2", ""},
        {both, {}, "6.5.3", ""},
        {{"wayland-0", "", ""}, {}, "6.5.2", ""},
        {{"", ":0", ""}, {}, "6.5.2", ""},
        {{"wayland-0", ":0", "wayland"}, {}, "6.5.2", ""},
        {both, {"-platform", "wayland"}, "6.5.2", ""},
        {both, {"--platform", "wayland"}, "6.5.2", ""}};
    for (const auto& [environment, args, qt, platform] : rows)
      QCOMPARE(QString::fromStdString(PreferredPlatform(environment, args, qt)), QString(platform));
  }
};

QTEST_APPLESS_MAIN(TestDisplayPlatform)
#include "tst_display_platform.moc"
