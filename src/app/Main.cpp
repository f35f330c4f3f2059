#include "app/Main.h"

#include "app/BatchSettings.h"
#include "app/CommandLine.h"
#include "app/ConfDlg.h"
#include "app/KTop.h"
#include "app/MessageBoxes.h"
#include "app/Pictures.h"
#include "app/drwatch.h"
#include "engine/Random.h"
#include "platform/FileSystem.h"
#include "settings/Hash.h"
#include "settings/IniUnit.h"
#include "settings/OptDlg.h"
#include "settings/PassDlg.h"
#include "settings/SecDlg.h"

#include <QCloseEvent>
#include <QDesktopServices>
#include <QFileDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QShowEvent>
#include <chrono>
#include <unistd.h>

namespace qk::app {

namespace {

constexpr const char* kEncHint = "暗号化（ここに暗号化したいファイルをドラッグできます）";
constexpr const char* kDecHint = "復号（ここに復号したいファイルをドラッグできます）";
constexpr const char* kEncText = "ファイルを暗号化";
constexpr const char* kDecText = "ファイルを復号";
constexpr const char* kOptionText = "オプション(OPTION)";
constexpr const char* kAllFilesFilter = "全てのファイル (*)";

FileChooser& Chooser() {
  static FileChooser chooser;
  return chooser;
}

// A path relative to the executable's folder, or an absolute address as it stands.
QUrl BesideExecutable(const char* address) {
  QUrl url(QString::fromUtf8(address));
  if (!url.isRelative()) return url;
  const QUrl folder = QUrl::fromLocalFile(Q(settings::ExecutableDir()) + "/");
  return folder.resolved(url);
}

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

QUrl ManualUrl() {
  return BesideExecutable(kManualPath);
}
QUrl WebSiteUrl() {
  return BesideExecutable(kWebSiteAddress);
}
void OpenManual() {
  QDesktopServices::openUrl(ManualUrl());
}
void OpenWebSite() {
  QDesktopServices::openUrl(WebSiteUrl());
}

void SetFileChooser(FileChooser chooser) {
  Chooser() = std::move(chooser);
}

QStringList ChooseFiles(QWidget* parent) {
  if (Chooser()) return Chooser()(parent);
  return QFileDialog::getOpenFileNames(parent, QString(), QString(), Q(kAllFilesFilter), nullptr,
                                       QFileDialog::DontResolveSymlinks);
}

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
  setFixedSize(kMainClientWidth, kMainClientHeight);

  EncBitBtn = NewButton(this, "EncBitBtn", QRect(0, 0, 120, 120));
  EncBitBtn->setToolTip(Q(kEncHint));
  EncBitBtn->setIcon(EncPicture());
  EncBitBtn->setIconSize(QSize(kPictureSize, kPictureSize));
  DecBitBtn = NewButton(this, "DecBitBtn", QRect(120, 0, 120, 120));
  DecBitBtn->setToolTip(Q(kDecHint));
  DecBitBtn->setIcon(DecPicture());
  DecBitBtn->setIconSize(QSize(kPictureSize, kPictureSize));
  OptionBitBtn = NewButton(this, "OptionBitBtn", QRect(0, 120, kMainClientWidth, 25));
  OptionBitBtn->setText("OPTION");
  OptionBitBtn->setToolTip(Q("オプション"));
  WipeBitBtn = NewButton(this, "WipeBitBtn", QRect(0, 146, kMainClientWidth, kWipeBitBtnHeight));
  WipeBitBtn->setText(Q("抹消ごみ箱"));
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

  FindFile.Filter = "*.*";
  FindFile.Attributes = ffReadOnly | ffHidden | ffSystem | ffArchive | ffDirectory;
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
  move(model_.X, model_.Y);
  FindFile.Recurse = model_.Recurse;
}

void TMainForm::SetWindows(TConfirmationDlg* confirmation, settings::TOptionDlg* options,
                           settings::TSecSetDlg* secSetDlg) {
  confirmation_ = confirmation;
  options_ = options;
  secSetDlg_ = secSetDlg;
}

void TMainForm::SetCommandLine(std::vector<std::string> args, std::string startDir) {
  args_ = std::move(args);
  startDir_ = std::move(startDir);
}

// ---- Start-up ----

void TMainForm::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
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
    LoadOptionSettings();
    if (!args_.empty() && !ProcessCommandLine()) return;
  }
  LayoutStep();
}

void TMainForm::LoadOptionSettings() {
  settings::SettingsModel loaded = model_;
  store_.LoadL2(loaded);
  if (options_) options_->LoadOptions(loaded);
  model_.Algorithm = loaded.Algorithm;
  if (secSetDlg_) secSetDlg_->LoadFromModel();
}

bool TMainForm::ProcessCommandLine() {
  if (!confirmation_) return true;
  engine::BatchRun& run = confirmation_->Run();
  FindFile.Recurse = model_.Recurse;
  switch (ParseCommandLine(args_, startDir_, run, FindFile)) {
  case StartAction::ProcessSingle: {
    engine::BatchOptions options;
    SyncBatchOptions(model_, options);
    ProcessSingle(run, options);
    close();
    return false;
  }
  case StartAction::Close:
    close();
    return false;
  case StartAction::EncryptDialog:
    EncBitBtnClick();
    break;
  case StartAction::DecryptDialog:
    DecBitBtnClick();
    break;
  case StartAction::OptionsDialog:
    OptionBitBtnClick();
    break;
  case StartAction::ShowList:
    // This window stays on the screen while the list is open.
    confirmation_->SetReturnForm(this);
    confirmation_->show();
    run.ShowList();
    break;
  }
  return !closed_;
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
}

// ---- Files to the confirmation list ----

bool TMainForm::RunInProgress() const {
  if (!confirmation_) return false;
  const engine::DialogState& d = confirmation_->Run().Dialog();
  return !(d.DialogEnabled && d.CloseEnabled);
}

bool TMainForm::TextButtons() const {
  return !EncBitBtn->text().isEmpty();
}

void TMainForm::AddFolder(const std::string& path) {
  if (!confirmation_) return;
  FindFile.Recurse = model_.Recurse;
  engine::BatchRun& run = confirmation_->Run();
  qk::app::AddFolder(FindFile, path, [&run](const std::string& file) { run.AddFile(file); });
}

void TMainForm::FillList(engine::OperationMode mode, const QStringList& paths) {
  if (!confirmation_) return;
  engine::BatchRun& run = confirmation_->Run();
  run.State().Mode = mode;
  run.ClearList();
  for (const QString& name : paths) {
    const std::string path = S(name);
    // A path that is not there counts as a folder without files.
    if (platform::IsDirectory(path) || !platform::FileExists(path)) {
      AddFolder(path);
    } else {
      run.AddFile(path);
    }
  }
}

void TMainForm::TakeFiles(engine::OperationMode mode, const QStringList& paths) {
  if (!confirmation_ || RunInProgress()) return;
  FillList(mode, paths);
  hide();
  confirmation_->SetReturnForm(this);
  confirmation_->show();
  confirmation_->Run().ShowList();
}

void TMainForm::ChooseAndTake(engine::OperationMode mode) {
  if (RunInProgress()) return;
  const QStringList files = ChooseFiles(this);
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
  if (!options_ || RunInProgress()) return;
  hide();
  options_->show();
  options_->raise();
  options_->activateWindow();
}

// ---- Keys ----

bool TMainForm::FormKeyDown(int key) {
  if (key != Qt::Key_F1) return false;
  OpenManual();
  return true;
}

void TMainForm::keyPressEvent(QKeyEvent* event) {
  if (FormKeyDown(event->key())) return;
  QWidget::keyPressEvent(event);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && watched->parent() == this &&
      FormKeyDown(static_cast<QKeyEvent*>(event)->key())) {
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

// ---- Closing ----

void TMainForm::closeEvent(QCloseEvent* event) {
  // A run started from the command line keeps this window on the screen; it has to end first.
  if (RunInProgress()) {
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
  if (confirmation_) model_.PasswordHint = confirmation_->Run().State().PasswordHint;
  try {
    store_.Save(model_);
  } catch (const settings::SettingsWriteError& error) {
    ShowWarning(this, Q(error.what()));
  }
}

// ---- TQKProgram ----

TQKProgram::TQKProgram(Setup setup) : Store(std::move(setup.IniPath)) {
  MainForm = std::make_unique<TMainForm>(Model, Store, setup.ProgramDir);
  ConfirmationDlg = std::make_unique<TConfirmationDlg>(Model);
  OptionDlg = std::make_unique<settings::TOptionDlg>(Model, Store);
  PasswordDlg = std::make_unique<settings::TPasswordDlg>(Model, ConfirmationDlg->Run().State());
  SecSetDlg = std::make_unique<settings::TSecSetDlg>(Model);
  HashForm = std::make_unique<settings::THashForm>();

  MainForm->SetWindows(ConfirmationDlg.get(), OptionDlg.get(), SecSetDlg.get());
  MainForm->SetCommandLine(std::move(setup.Args), std::move(setup.StartDir));
  OptionDlg->SetWindows(MainForm.get(), ConfirmationDlg.get(), SecSetDlg.get(), HashForm.get());

  settings::TPasswordDlg* password = PasswordDlg.get();
  ConfirmationDlg->SetPasswordDialog(
      [password](bool forDecrypt) -> std::optional<engine::BatchHost::PasswordAnswer> {
        password->ForDecrypt = forDecrypt;
        if (password->exec() != QDialog::Accepted) return std::nullopt;
        return engine::BatchHost::PasswordAnswer{S(password->Password()), S(password->Hint())};
      },
      [password](bool passwordFields, bool hint) { password->ClearFields(passwordFields, hint); });
  TMainForm* mainForm = MainForm.get();
  ConfirmationDlg->OnEndProgram = [mainForm] { mainForm->close(); };
}

TQKProgram::~TQKProgram() {
  ConfirmationDlg->OnEndProgram = nullptr;
  ConfirmationDlg->SetPasswordDialog(nullptr, nullptr);
}

} // namespace qk::app
