#include "windows/MessageBoxes.h"

#include "platform/VisibleText.h"
#include "windows/Pictures.h"
#include "windows/WindowSize.h"

#include <QApplication>
#include <QGridLayout>
#include <QLabel>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QToolTip>
#include <QTranslator>

#include <algorithm>

namespace qk::windows {

namespace {

BoxResponder& Responder() {
  static BoxResponder responder;
  return responder;
}

// A box whose text scrolls when the box would be taller than the screen (a long notice on a small
// or magnified screen), so that its buttons stay in reach; it comes up in the middle of the
// screen. Qt sizes a message box as it is shown, so the fitting follows that.
class FittedBox : public QMessageBox {
public:
  using QMessageBox::QMessageBox;

protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);
    SharpIcon();
    Fit();
  }

  // Qt sizes the box anew at every layout request; a box whose text scrolls keeps its size.
  bool event(QEvent* event) override {
    const bool taken = QMessageBox::event(event);
    if (event->type() == QEvent::LayoutRequest && fitted_.isValid() && size() != fitted_)
      setFixedSize(fitted_);
    return taken;
  }

private:
  void Fit() {
    const QScreen* shown = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shown) return;
    const QRect area = shown->availableGeometry();
    const QSize room = area.size() - kFrameAllowance;
    auto* grid = qobject_cast<QGridLayout*>(layout());
    auto* text = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    if (!scroll_ && grid && text && height() > room.height()) {
      const int spare = height() - text->height();
      int row = 0, column = 0, rows = 0, columns = 0;
      grid->getItemPosition(grid->indexOf(text), &row, &column, &rows, &columns);
      grid->removeWidget(text);
      scroll_ = new QScrollArea(this);
      scroll_->setObjectName(QStringLiteral("TextScrollArea"));
      scroll_->setFrameShape(QFrame::NoFrame);
      scroll_->setWidgetResizable(true);
      scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
      scroll_->setWidget(text);
      // As wide as the longest line where the screen has room (the box Qt made may be narrower),
      // the text wrapping to whatever width there is.
      const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
      // Beside the text: the margins, the picture and the gaps of the box's grid.
      const QMargins margins = grid->contentsMargins();
      const auto* picture = findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"));
      const int others = margins.left() + margins.right() +
                         (picture ? picture->sizeHint().width() : 0) +
                         3 * std::max(grid->horizontalSpacing(), 6);
      const int widest =
          text->fontMetrics()
              .boundingRect(QRect(0, 0, room.width(), 1 << 20), Qt::TextExpandTabs, text->text())
              .width();
      text->setMinimumWidth(1);
      const int textHeight = std::max(room.height() - spare, room.height() / 3);
      const int width = std::min(
          std::max(this->width(), others + widest + text->margin() * 2 + 8) + bar, room.width());
      scroll_->setFixedHeight(textHeight);
      grid->addWidget(scroll_, row, column, rows, columns);
      fitted_ = QSize(width, spare + textHeight);
      setFixedSize(fitted_);
      scroll_->show();
    }
    move(area.center() - QPoint(width() / 2, height() / 2));
  }

  // The icon drawn for the device pixels of the screen the box is on, not enlarged from a
  // picture made for one device pixel per pixel (the style's own come in few sizes).
  void SharpIcon() {
    MessagePicture kind{};
    switch (icon()) {
    case QMessageBox::Warning:
      kind = MessagePicture::Warning;
      break;
    case QMessageBox::Question:
      kind = MessagePicture::Question;
      break;
    case QMessageBox::Information:
      kind = MessagePicture::Information;
      break;
    case QMessageBox::Critical:
      kind = MessagePicture::Critical;
      break;
    default:
      return;
    }
    auto* picture = findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label"));
    if (!picture) return;
    const int size = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
    picture->setPixmap(MessageIcon(kind).pixmap(QSize(size, size), devicePixelRatioF()));
  }

  QScrollArea* scroll_ = nullptr;
  QSize fitted_;
};

// A box of kind, its icon named for screen readers by what it means.
int Run(QWidget* parent, QMessageBox::Icon icon, const char* iconName, const QString& text,
        QMessageBox::StandardButtons buttons, QMessageBox::StandardButton fallback) {
  FittedBox box(icon, QGuiApplication::applicationDisplayName(), text, buttons, parent);
  // Paths and error texts from outside are shown as they are, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(fallback);
  if (auto* picture = box.findChild<QLabel*>(QStringLiteral("qt_msgboxex_icon_label")))
    picture->setAccessibleName(Q(iconName));
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

void ShowPlainToolTip(const QPoint& at, const QString& text, QWidget* widget, const QRect& rect) {
  if (text.isEmpty()) {
    QToolTip::hideText();
    return;
  }
  const QScreen* screen = QGuiApplication::screenAt(at);
  if (!screen) screen = widget ? widget->screen() : QGuiApplication::primaryScreen();
  const int room = screen ? std::max(screen->availableGeometry().width() * 9 / 10, 100) : 600;
  const QFontMetrics metrics(QToolTip::font());
  QStringList lines;
  for (QString rest : text.split(QLatin1Char('\n'))) {
    while (rest.size() > 1 && metrics.horizontalAdvance(rest) > room) {
      // The longest beginning that fits, a character pair kept whole.
      qsizetype low = 1;
      qsizetype high = rest.size() - 1;
      while (low < high) {
        const qsizetype middle = (low + high + 1) / 2;
        if (metrics.horizontalAdvance(rest.left(middle)) <= room)
          low = middle;
        else
          high = middle - 1;
      }
      if (low > 1 && rest.at(low - 1).isHighSurrogate()) --low;
      lines << rest.left(low);
      rest.remove(0, low);
    }
    lines << rest;
  }
  for (QString& line : lines) line = line.toHtmlEscaped();
  QToolTip::showText(at,
                     QStringLiteral("<p style=\"white-space:pre\">") +
                         lines.join(QStringLiteral("<br>")) + QStringLiteral("</p>"),
                     widget, rect);
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
