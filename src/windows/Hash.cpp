#include "windows/Hash.h"

#include "engine/Progress.h"
#include "windows/FileChooser.h"
#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"

#include <QDialogButtonBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <exception>

namespace qk::windows {

namespace {

constexpr const char* kHashingWord = "SHA-1計算中：";
constexpr qint64 kPumpMs = 30;

template <typename T> T* Named(T* object, const char* name) {
  object->setObjectName(QString::fromLatin1(name));
  return object;
}

} // namespace

THashForm::THashForm(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("HashForm"));
  AddManualKey(this, [] { return QStringLiteral("options"); });
  setWindowTitle(Q("SHA-1ハッシュ計算"));

  OpenButton = Named(new QPushButton(Q("対象ファイル選択・SHA-1ハッシュ計算"), this), "OpenButton");
  CloseButton = Named(new QPushButton(Q("閉じる"), this), "CloseButton");
  OpenButton->setMinimumHeight(40);
  FileLabel = Named(new QLabel(this), "FileLabel");
  // A name is shown as it is, whatever it holds.
  FileLabel->setTextFormat(Qt::PlainText);
  FileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FileLabel->setMaximumWidth(480);
  FileLabel->setWordWrap(true);
  FileLabel->hide();
  ProgressLabel = Named(new QLabel(this), "ProgressLabel");
  ProgressLabel->setTextFormat(Qt::PlainText);
  ProgressBar = Named(new QProgressBar(this), "ProgressBar");
  ProgressBar->setRange(0, 1000);
  ProgressBar->setTextVisible(false);
  ProgressBar->setAccessibleName(Q(kHashingWord).chopped(1));
  ProgressLabel->hide();
  ProgressBar->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(OpenButton);
  layout->addWidget(FileLabel);
  layout->addWidget(ProgressBar);
  layout->addWidget(ProgressLabel);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(OpenButton, &QPushButton::clicked, this, &THashForm::OpenButtonClick);
  connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);

  crypto::TSecHash::SetBusyHook([](bool busy) {
    if (busy) {
      QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
      QGuiApplication::restoreOverrideCursor();
    }
  });

  KTop1 = Named(new TKTop(this), "KTop1");
}

THashForm::~THashForm() {
  crypto::TSecHash::SetBusyHook(nullptr);
}

void THashForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    layout()->activate();
    if (const QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QDialog::showEvent(event);
}

void THashForm::ShowHashing(bool on) {
  hashing_ = on;
  stop_ = false;
  OpenButton->setEnabled(!on);
  ProgressBar->setValue(0);
  ProgressLabel->clear();
  ProgressBar->setVisible(on);
  ProgressLabel->setVisible(on);
  if (on) FileLabel->show();
  SecHash.OnProgress =
      on ? [this](std::int64_t done, std::int64_t total) { return HashProgress(done, total); }
         : crypto::TSecHash::ProgressHook();
  pumpClock_.invalidate();
}

bool THashForm::HashProgress(std::int64_t done, std::int64_t total) {
  if (pumpClock_.isValid() && pumpClock_.elapsed() < kPumpMs) return !stop_;
  pumpClock_.start();
  ProgressLabel->setText(Q(engine::ProgressText(kHashingWord, done, total)));
  ProgressBar->setValue(total > 0 ? static_cast<int>(done * 1000 / total) : 0);
  QCoreApplication::processEvents();
  return !stop_;
}

void THashForm::done(int result) {
  // Closing the window (its button, Escape, the title bar) ends a hash that goes.
  if (hashing_) stop_ = true;
  QDialog::done(result);
}

void THashForm::OpenButtonClick() {
  const QStringList chosen = ChooseFiles(this, Q(kHashChooserCaption), ChooseWhat::OneFile);
  if (chosen.isEmpty()) return;
  HashAndShow(chosen.front());
}

void THashForm::HashAndShow(const QString& path) {
  if (hashing_) return;
  crypto::SecDigest digest;
  const QString previous = FileLabel->text();
  const bool shown = FileLabel->isVisible();
  FileLabel->setText(Q("対象ファイル：") + ShownText(S(path)));
  ShowHashing(true);
  try {
    SecHash.HashFile(S(path), digest);
    ShowHashing(false);
  } catch (const crypto::ESecHashStopped&) {
    ShowHashing(false);
    return;
  } catch (const std::exception& error) {
    ShowHashing(false);
    FileLabel->setText(previous);
    FileLabel->setVisible(shown);
    ShowWarning(this, QString::fromUtf8(error.what()));
    return;
  }

  FileLabel->setToolTip(FileLabel->text());
  FileLabel->show();

  QInputDialog box(this);
  box.setObjectName(QStringLiteral("HashResultBox"));
  box.setInputMode(QInputDialog::TextInput);
  box.setWindowTitle(Q("選択したファイルのSHA-1計算結果"));
  box.setLabelText(QStringLiteral("160bit Hash値[32bit(16進表現)*5]:"));
  box.setTextValue(Q(crypto::FormatSecDigest(digest)));
  // The box only shows the value: OK alone closes it. (Asking for a button's text makes the box
  // build its buttons.)
  box.setOkButtonText(box.okButtonText());
  if (auto* buttons = box.findChild<QDialogButtonBox*>()) {
    if (QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel)) cancel->hide();
  }
  // Wide enough for the whole value; the box selects it when it appears.
  if (auto* edit = box.findChild<QLineEdit*>()) {
    edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(box.textValue()) + 24);
    edit->selectAll();
  }
  if (InputBoxHook) {
    InputBoxHook(box);
  } else {
    box.exec();
  }
}

} // namespace qk::windows
