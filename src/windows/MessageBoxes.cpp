#include "windows/MessageBoxes.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>

namespace qk::windows {

namespace {

BoxResponder& Responder() {
  static BoxResponder responder;
  return responder;
}

bool Show(QWidget* parent, BoxKind kind, const QString& text) {
  if (Responder()) return Responder()(kind, text);
  const QString title = QGuiApplication::applicationDisplayName();
  switch (kind) {
  case BoxKind::Warning:
    QMessageBox::warning(parent, title, text, QMessageBox::Ok);
    return true;
  case BoxKind::Confirmation:
    return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  case BoxKind::Information:
    QMessageBox::information(parent, title, text, QMessageBox::Ok);
    return true;
  case BoxKind::Note: {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.exec();
    return true;
  }
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
    } else if ((u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029) {
      c = QChar(char16_t(0xFFFD));
    }
  }
  return shown;
}

} // namespace qk::windows
