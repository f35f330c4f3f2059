#include "windows/MessageBoxes.h"

#include "platform/VisibleText.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QTranslator>

#include <algorithm>

namespace qk::windows {

namespace {

BoxResponder& Responder() {
  static BoxResponder responder;
  return responder;
}

// A text taller than the screen (a long notice on a small or magnified screen) scrolls, so that
// the buttons stay in reach; the box comes up in the middle of the screen.
void FitOnScreen(QMessageBox& box, QWidget* parent) {
  const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  box.adjustSize();
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  auto* text = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
  if (grid && text && box.sizeHint().height() > area.height() * 9 / 10) {
    int row = 0, column = 0, rows = 0, columns = 0;
    grid->getItemPosition(grid->indexOf(text), &row, &column, &rows, &columns);
    grid->removeWidget(text);
    auto* scroll = new QScrollArea(&box);
    scroll->setObjectName(QStringLiteral("TextScrollArea"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setWidget(text);
    const int spare = box.sizeHint().height() - text->sizeHint().height();
    scroll->setFixedHeight(std::max(area.height() * 9 / 10 - spare, area.height() / 3));
    scroll->setMinimumWidth(std::min(text->sizeHint().width() + 24, area.width() * 9 / 10));
    grid->addWidget(scroll, row, column, rows, columns);
    box.adjustSize();
  }
  box.move(area.center() - QPoint(box.width() / 2, box.height() / 2));
}

// A box of kind, its icon named for screen readers by what it means.
int Run(QWidget* parent, QMessageBox::Icon icon, const char* iconName, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton fallback) {
  QMessageBox box(icon, QGuiApplication::applicationDisplayName(), text, buttons, parent);
  box.setDefaultButton(fallback);
  if (auto* picture = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
    picture->setAccessibleName(Q(iconName));
  FitOnScreen(box, parent);
  return box.exec();
}

bool Show(QWidget* parent, BoxKind kind, const QString& text) {
  if (Responder()) return Responder()(kind, text);
  switch (kind) {
  case BoxKind::Warning:
    Run(parent, QMessageBox::Warning, "警告", text, QMessageBox::Ok, QMessageBox::Ok);
    return true;
  case BoxKind::Confirmation:
    return Run(parent, QMessageBox::Question, "確認", text, QMessageBox::Yes | QMessageBox::No,
               QMessageBox::No) == QMessageBox::Yes;
  case BoxKind::Information:
    Run(parent, QMessageBox::Information, "お知らせ", text, QMessageBox::Ok, QMessageBox::Ok);
    return true;
  case BoxKind::Note:
    Run(parent, QMessageBox::NoIcon, "", text, QMessageBox::Ok, QMessageBox::Ok);
    return true;
  }
  return false;
}

} // namespace

void SetBoxResponder(BoxResponder responder) {
  Responder() = std::move(responder);
}

void ShowWarning(QWidget* parent, const QString& text) {
  Show(parent, BoxKind::Warning, text);
}
bool AskYesNo(QWidget* parent, const QString& text) {
  return Show(parent, BoxKind::Confirmation, text);
}
void ShowInformation(QWidget* parent, const QString& text) {
  Show(parent, BoxKind::Information, text);
}
void ShowNote(QWidget* parent, const QString& text) {
  Show(parent, BoxKind::Note, text);
}

void InstallJapaneseTranslations() {
  static QTranslator translator;
  if (translator.load(QLocale(QLocale::Japanese), "qtbase", "_",
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(&translator);
  }
}

QString Q(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
std::string S(const QString& text) {
  return text.toUtf8().toStdString();
}

QString ShownText(const std::string& text) {
  QString shown = Q(text);
  for (QChar& c : shown) {
    const char16_t u = c.unicode();
    if (u < 0x20) {
      c = QChar(char16_t(0x2400 + u));
    } else if (u == 0x7F) {
      c = QChar(char16_t(0x2421));
    } else if (platform::ActsOnTerminal(u)) {
      // C1 controls, line and paragraph separators, and the bidirectional controls that would
      // show a name reordered ("txt.exe" as "exe.txt").
      c = QChar(char16_t(0xFFFD));
    }
  }
  return shown;
}

} // namespace qk::windows
