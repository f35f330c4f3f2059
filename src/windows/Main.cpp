#include "windows/Main.h"

#include "engine/Random.h"
#include "settings/IniUnit.h"
#include "windows/Accessible.h"
#include "windows/FileChooser.h"
#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"
#include "windows/Pictures.h"
#include "windows/WindowSize.h"
#include "windows/drwatch.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <unistd.h>

namespace qk::windows {

namespace {

constexpr const char* kEncHint = "暗号化（ここに暗号化したいファイルをドラッグできます）";
constexpr const char* kDecHint = "復号（ここに復号したいファイルをドラッグできます）";
constexpr const char* kEncText = "ファイルを暗号化";
constexpr const char* kDecText = "ファイルを復号";
constexpr const char* kOptionText = "オプション(OPTION)";
QPushButton* NewButton(QWidget* parent, const char* name, const QRect& place) {
  auto* button = new QPushButton(parent);
  button->setObjectName(name);
  button->setGeometry(place);
  QFont font = button->font();
  font.setBold(true);
  button->setFont(font);
  return button;
}

} // namespace

QString PreReleaseNotice() {
  return Q("！ご注意！\n"
           "\n"
           "これは公開テスト専用のアルファ版です！\n"
           "\n"
           "未確認の不具合やバグが含まれている可能性がありますので、\n"
           "このバージョンのQKでは、不要なテスト用ファイル以外のファイルを処理しないで下さい。\n"
           "（よく分からない場合は、ソフトをすぐに終了し、削除して下さい。）\n"
           "また、このソフトを再配布しないで下さい。\n"
           "\n"
           "正式版は本テストの結果をもとに、作者のウェブサイトで公開する予定です。\n"
           "お手数ですが、ウェブサイトを定期的にご確認下さい。\n"
           "（正式版公開時まで、テストレポートなどもお待ちしております。）\n"
           "\n"
           "本公開テストへの皆様のご協力に感謝いたします。");
}

QString FirstRunNotice() {
  return Q("このメッセージは初回実行時のみ表示されます。\n"
           "\n"
           "QKをご利用頂きまして誠にありがとうございます。\n"
           "\n"
           "このソフトには大変堅固な暗号技術が使用されておりますので、\n"
           "このソフトを正しく安全にお使い頂き、大切な情報を保護するためにも、\n"
           "ご利用の前にマニュアル等の付属ドキュメントを良くお読み下さい。\n"
           "(起動直後のTop画面でF1を押すとマニュアルを表示します。）\n"
           "\n"
           "また、不要なファイル等で一度、暗号化/復号テストをされることを強くお勧めいたします。\n"
           "\n"
           "最新版は作者のウェブサイトで公開しておりますので、定期的にご覧下さい。");
}

// ---- TMainForm ----

TMainForm::TMainForm(settings::SettingsModel& model, const settings::SettingsStore& store,
                     const std::string& programDir, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      model_(model), store_(store) {
  setObjectName("MainForm");
  BuildControls();
  FormCreate(programDir);
}

TMainForm::~TMainForm() = default;

void TMainForm::BuildControls() {
  setWindowTitle(Q(kMainCaption));
  MarkAsFrame(this);
  setFixedSize(kMainClientWidth, kMainClientHeight - kWipeBitBtnHeight);

  EncBitBtn = NewButton(this, "EncBitBtn", QRect(0, 0, 120, 120));
  EncBitBtn->setToolTip(Q(kEncHint));
  // Named for screen readers also while they show only their pictures.
  EncBitBtn->setAccessibleName(Q(kEncText));
  EncBitBtn->setAccessibleDescription(Q(kEncHint));
  EncBitBtn->setIcon(EncIcon());
  EncBitBtn->setIconSize(QSize(kPictureSize, kPictureSize));
  DecBitBtn = NewButton(this, "DecBitBtn", QRect(120, 0, 120, 120));
  DecBitBtn->setToolTip(Q(kDecHint));
  DecBitBtn->setAccessibleName(Q(kDecText));
  DecBitBtn->setAccessibleDescription(Q(kDecHint));
  DecBitBtn->setIcon(DecIcon());
  DecBitBtn->setIconSize(QSize(kPictureSize, kPictureSize));
  OptionBitBtn = NewButton(this, "OptionBitBtn", QRect(0, 120, kMainClientWidth, 25));
  OptionBitBtn->setText("OPTION");
  OptionBitBtn->setToolTip(Q("オプション"));
  OptionBitBtn->setAccessibleName(Q("オプション"));
  WipeBitBtn = NewButton(this, "WipeBitBtn", QRect(0, 146, kMainClientWidth, kWipeBitBtnHeight));
  WipeBitBtn->setText(Q("抹消ごみ箱"));
  // Hidden until the layout step knows whether TOPWIPE is on (the notices come first).
  WipeBitBtn->hide();
  WipeBitBtn->setEnabled(false);
  setTabOrder(OptionBitBtn, WipeBitBtn);
  OptionBitBtn->setFocus(Qt::OtherFocusReason);

  connect(EncBitBtn, &QPushButton::clicked, this, &TMainForm::EncBitBtnClick);
  connect(DecBitBtn, &QPushButton::clicked, this, &TMainForm::DecBitBtnClick);
  connect(OptionBitBtn, &QPushButton::clicked, this, &TMainForm::OptionBitBtnClick);
  connect(WipeBitBtn, &QPushButton::clicked, this, &TMainForm::WipeBitBtnClick);
  // The keys reach the form whichever button has the focus.
  for (QPushButton* button : {EncBitBtn, DecBitBtn, OptionBitBtn, WipeBitBtn}) {
    button->installEventFilter(this);
  }

  const auto watch = [this](const char* name, QWidget* control, auto handler) {
    auto* watcher = new TDropWatch(this);
    watcher->setObjectName(name);
    watcher->SetWatchControl(control);
    watcher->SetEnabled(true);
    watcher->OnFilesDropped = [this, handler](TDropWatch& sender, int x, int y,
                                              const QStringList& files) {
      (this->*handler)(sender, x, y, files);
    };
    return watcher;
  };
  EncriptDropWatch = watch("EncriptDropWatch", EncBitBtn, &TMainForm::EncriptDropWatchFilesDropped);
  DecriptDropWatch = watch("DecriptDropWatch", DecBitBtn, &TMainForm::DecriptDropWatchFilesDropped);
  WipeDropWatch = watch("WipeDropWatch", WipeBitBtn, &TMainForm::WipeDropWatchFilesDropped);

  // Off until the start-up loads MAINTOP.
  KTop = new TKTop(this);
  KTop->setObjectName("KTop");
  KTop->SetKTop(false);

  FindFile.Attributes = core::ffReadOnly | core::ffHidden | core::ffArchive | core::ffDirectory;
}

void TMainForm::FormCreate(const std::string& programDir) {
  const auto now = std::chrono::system_clock::now().time_since_epoch().count();
  const auto tick = std::chrono::steady_clock::now().time_since_epoch().count();
  engine::Random::Program().Seed(static_cast<std::uint64_t>(now) ^
                                 (static_cast<std::uint64_t>(tick) << 17));

  // The program's own folder becomes the current directory; paths of the command line were
  // taken against the folder the program was started in before this.
  if (!programDir.empty() && ::chdir(programDir.c_str()) != 0) {
    ShowWarning(nullptr, Q(programDir + " をカレントフォルダにできません"));
  }

  store_.LoadL1(model_);
  // The saved place, brought onto the screens there are now.
  move(PlaceOnScreen(QPoint(model_.X, model_.Y), size()));
  FindFile.Recurse = model_.Recurse;
}

// ---- Start-up ----

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (opener_) {
    opener_->setFocus(Qt::OtherFocusReason);
    opener_ = nullptr;
  }
  // Posted, so that it runs once the window is on the screen.
  if (!event->spontaneous()) {
    QMetaObject::invokeMethod(this, "StartupMessage", Qt::QueuedConnection);
  }
}

void TMainForm::StartupMessage() {
  if (closed_) return;
  if (firstShow_) {
    ShowInformation(this, PreReleaseNotice());
    firstShow_ = false;
    if (model_.FirstExec) ShowInformation(this, FirstRunNotice());
    emit StartupWork();
    if (closed_) return;
  }
  LayoutStep();
}

void TMainForm::LayoutStep() {
  const bool wipeBin = model_.TopWipe;
  WipeBitBtn->setEnabled(wipeBin);
  WipeBitBtn->setVisible(wipeBin);
  setFixedSize(kMainClientWidth,
               wipeBin ? kMainClientHeight : kMainClientHeight - WipeBitBtn->height());

  // Pictures taken away come back only at the next start.
  if (model_.TextQKBtn) {
    EncBitBtn->setIcon(QIcon());
    EncBitBtn->setText(Q(kEncText));
    DecBitBtn->setIcon(QIcon());
    DecBitBtn->setText(Q(kDecText));
    OptionBitBtn->setText(Q(kOptionText));
  }
  emit LayoutApplied(TextButtons());
}

// ---- Files to the confirmation list ----

void TMainForm::SetRunning(bool running) {
  running_ = running;
}

void TMainForm::SetKeepOnTop(bool on) {
  KTop->SetKTop(on);
}

void TMainForm::SetRecurse(bool on) {
  FindFile.Recurse = on;
}

bool TMainForm::TextButtons() const {
  return !EncBitBtn->text().isEmpty();
}

void TMainForm::AddFolder(const std::string& path,
                          const std::function<void(const std::string&)>& addFile) {
  FindFile.Recurse = model_.Recurse;
  core::AddFolder(FindFile, path, addFile);
}

void TMainForm::AddPaths(const QStringList& paths,
                         const std::function<void(const std::string&)>& addFile,
                         const core::AddUnreadableEvent& addUnreadable) {
  FindFile.Recurse = model_.Recurse;
  std::vector<std::string> list;
  for (const QString& path : paths) list.push_back(S(path));
  core::AddPaths(FindFile, list, addFile, addUnreadable);
}

void TMainForm::TakeFiles(engine::OperationMode mode, const QStringList& paths) {
  if (running_) return;
  // The focus comes back to the control that handed the files over once the list closes.
  opener_ = focusWidget();
  hide();
  emit FilesTaken(mode, paths);
}

void TMainForm::ChooseAndTake(engine::OperationMode mode) {
  if (running_) return;
  // Encryption and the wipe take folders as well; decryption takes the containers themselves.
  const bool decrypt = mode == engine::OperationMode::Decrypt;
  const char* caption = mode == engine::OperationMode::Encrypt ? kEncryptChooserCaption
                        : decrypt                              ? kDecryptChooserCaption
                                                               : kWipeChooserCaption;
  const QStringList files =
      ChooseFiles(this, Q(caption), decrypt ? ChooseWhat::Files : ChooseWhat::FilesAndFolders);
  if (files.isEmpty()) return;
  TakeFiles(mode, files);
}

void TMainForm::EncBitBtnClick() {
  ChooseAndTake(engine::OperationMode::Encrypt);
}
void TMainForm::DecBitBtnClick() {
  ChooseAndTake(engine::OperationMode::Decrypt);
}
void TMainForm::WipeBitBtnClick() {
  ChooseAndTake(engine::OperationMode::Wipe);
}

void TMainForm::EncriptDropWatchFilesDropped(TDropWatch&, int, int, const QStringList& files) {
  TakeFiles(engine::OperationMode::Encrypt, files);
}
void TMainForm::DecriptDropWatchFilesDropped(TDropWatch&, int, int, const QStringList& files) {
  TakeFiles(engine::OperationMode::Decrypt, files);
}
void TMainForm::WipeDropWatchFilesDropped(TDropWatch&, int, int, const QStringList& files) {
  TakeFiles(engine::OperationMode::Wipe, files);
}

void TMainForm::OptionBitBtnClick() {
  if (running_) return;
  opener_ = focusWidget();
  hide();
  emit OptionsRequested();
}

// ---- Keys ----

bool TMainForm::FormKeyDown(int key) {
  if (key != Qt::Key_F1) return false;
  OpenManual(this);
  return true;
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  if (FormKeyDown(event->key())) return;
  QWidget::keyPressEvent(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->parent() == this) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (FormKeyDown(key)) return true;
    // Enter presses the focused button, as Space does.
    auto* button = qobject_cast<QPushButton*>(watched);
    if (button && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
      if (button->isEnabled()) button->click();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

// ---- Closing ----

void TMainForm::closeEvent(QCloseEvent* event) {
  // A run started from the command line keeps this window on the screen; it has to end first.
  if (running_) {
    event->ignore();
    return;
  }
  event->accept();
  if (closed_) return;
  closed_ = true;
  FormClose();
  emit ProgramEnded();
}

// Every setting goes to QK.ini. A refused write is reported and the program ends anyway: the
// user has asked to leave, and the file keeps what it held before (the store replaces it whole).
void TMainForm::FormClose() {
  model_.X = x();
  model_.Y = y();
  emit AboutToSave();
  try {
    store_.Save(model_);
  } catch (const settings::SettingsWriteError& error) {
    ShowWarning(this, Q(error.what()));
  }
}

} // namespace qk::windows
