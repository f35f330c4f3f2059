#include "windows/Hash.h"

#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"

#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>

#include <exception>

namespace qk::windows {

namespace {

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
  FileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
  FileLabel->setMaximumWidth(480);
  FileLabel->setWordWrap(true);
  FileLabel->hide();

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(OpenButton);
  layout->addWidget(FileLabel);
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

void THashForm::OpenButtonClick() {
  const QString path = QFileDialog::getOpenFileName(this);
  if (path.isEmpty()) return;
  HashAndShow(path);
}

void THashForm::HashAndShow(const QString& path) {
  crypto::SecDigest digest;
  try {
    SecHash.HashFile(S(path), digest);
  } catch (const std::exception& error) {
    ShowWarning(this, QString::fromUtf8(error.what()));
    return;
  }

  FileLabel->setText(Q("対象ファイル：") + ShownText(S(path)));
  FileLabel->setToolTip(FileLabel->text());
  FileLabel->show();

  QInputDialog box(this);
  box.setObjectName(QStringLiteral("HashResultBox"));
  box.setInputMode(QInputDialog::TextInput);
  box.setWindowTitle(Q("選択したファイルのSHA-1計算結果"));
  box.setLabelText(QStringLiteral("160bit Hash値[32bit(16進表現)*5]:"));
  box.setTextValue(Q(crypto::FormatSecDigest(digest)));
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
