#include "windows/OptDlg.h"

#include "platform/CodePage.h"
#include "settings/IniUnit.h"
#include "windows/FileChooser.h"
#include "windows/KTop.h"
#include "windows/LinkLabel.h"
#include "windows/Main.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"
#include "windows/Pictures.h"
#include "windows/WindowSize.h"
#include "windows/drwatch.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <QValidator>
#include <algorithm>

namespace qk::windows {

namespace {

constexpr const char* kCaption = "オプション";
constexpr const char* kExtensionInvalid =
    "拡張子の設定が不正です。正しく設定しなおして下さい。\n"
    "(不正な拡張子とは\\/:,;*?\"<>|が含まれる、空である、.だけなどです。)";
constexpr const char* kClearQuestion =
    "パスワードの照合のために登録されているハッシュデータとパスワードヒントをクリアしますか？";
constexpr const char* kCleared = "ハッシュデータとパスワードヒントをクリアしました。";
constexpr const char* kNextStart = "この変更は次回起動時に反映されます。";
constexpr const char* kHMACWarning =
    "オプション設定で「暗号化ファイルに改ざん検知情報を付与する」設定がオフの状態で「改ざん検知"
    "情報が無いファイルは復号しない」設定がオンのため、この設定のまま暗号化したファイルを復号す"
    "ることが出来ませんのでご注意ください。";

// Typing stops at the byte limit in the system code page. A longer text that is already there (a
// hand-edited setting) is shown as it is and may be shortened, never lengthened. The line edit
// has taken the new text in already when it asks, so the text before the change is kept here.
class ByteLimitValidator : public QValidator {
public:
  ByteLimitValidator(QLineEdit* edit, std::size_t limit) : QValidator(edit), limit_(limit) {
    connect(edit, &QLineEdit::textChanged, this,
            [this](const QString& text) { previous_ = platform::SystemByteLength(S(text)); });
  }

  State validate(QString& input, int&) const override {
    const std::size_t bytes = platform::SystemByteLength(S(input));
    return bytes <= limit_ || bytes <= previous_ ? Acceptable : Invalid;
  }

private:
  std::size_t limit_;
  std::size_t previous_ = 0;
};

QCheckBox* NewCheckBox(QWidget* parent, const char* name, const char* caption, bool checked) {
  auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
  box->setObjectName(name);
  box->setChecked(checked);
  return box;
}

TLinkLabel* NewLinkLabel(QWidget* parent, const char* name, const QString& text) {
  auto* label = new TLinkLabel(text, parent);
  label->setObjectName(name);
  return label;
}

} // namespace

bool CheckAdaptForFileName(const QString& text) {
  return settings::CheckAdaptForFileName(std::string_view(S(text)));
}

bool IsValidOwnExtension(const QString& text) {
  return settings::IsValidOwnExtension(std::string_view(S(text)));
}

TOptionDlg::TOptionDlg(settings::SettingsModel& model, const settings::SettingsStore& store,
                       QWidget* parent)
    : QDialog(parent), model_(model), store_(store) {
  setObjectName("OptionDlg");
  AddManualKey(this, [] { return QStringLiteral("options"); });
  setWindowTitle(Q(kCaption));
  setModal(false);
  BuildControls();
  // The subfolder box shows the value the main window loaded at its creation.
  IncSubFolderCheckBox->setChecked(model_.Recurse);
  UpdateNameMode();
  KTop1 = new TKTop(this);
  KTop1->setObjectName("KTop1");

  layout()->activate();
  setFixedSize(sizeHint());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
}

TOptionDlg::~TOptionDlg() = default;

void TOptionDlg::BuildControls() {
  // Created in the order Tab visits them.
  BuildSettings();
  BuildNameGroup();
  BuildWipeBin();
  BuildToolsAndAbout();
  LayOutColumns();
  ConnectReactions();
}

void TOptionDlg::BuildSettings() {
  // Settings, in the order the start-up loads them.
  IncSubFolderCheckBox =
      NewCheckBox(this, "IncSubFolderCheckBox", "ファイル選択の時にサブフォルダも含める", true);
  WipeSourceCheckBox =
      NewCheckBox(this, "WipeSourceCheckBox", "暗号化後に元ファイルを抹消する", true);
  WipeDecSourceCheckBox =
      NewCheckBox(this, "WipeDecSourceCheckBox", "復号後に元ファイルを抹消する", true);
  DoTopCheckBox = NewCheckBox(this, "DoTopCheckBox", "メイン画面を常に前面に表示する", false);
  DontClearPassCheckBox = NewCheckBox(this, "DontClearPassCheckBox",
                                      "使用中は前回のパスワードをメモリから消去しない", false);
  SaveHintCheckBox =
      NewCheckBox(this, "SaveHintCheckBox", "前回入力したパスワードのヒントを記憶する", true);
  UseReEncCheckBox =
      NewCheckBox(this, "UseReEncCheckBox", "再暗号化機能を使用する（実行中パスワード保持）", true);
  // Checked in the layout although TOPWIPE defaults to off: the start-up sets it.
  TopWipeCheckBox = NewCheckBox(this, "TopWipeCheckBox", "抹消ゴミ箱をメイン画面にも出す", true);
  TextQKCheckBox =
      NewCheckBox(this, "TextQKCheckBox", "暗号化・復号ボタンをテキストで表示する", false);
  AddHMACCheckBox =
      NewCheckBox(this, "AddHMACCheckBox", "暗号化ファイルに改ざん検知情報を付与する", true);
  SkipNonHMACCheckBox =
      NewCheckBox(this, "SkipNonHMACCheckBox", "改ざん検知情報が無いファイルは復号しない", false);
}

// The naming of containers: three radio buttons and the own extension.
void TOptionDlg::BuildNameGroup() {
  NameGroupBox = new QGroupBox(Q("暗号化したファイルの設定"), this);
  NameGroupBox->setObjectName("NameGroupBox");
  RadioButton1 = new QRadioButton(Q("元の名前＋標準拡張子（.enc）"), NameGroupBox);
  RadioButton1->setObjectName("RadioButton1");
  RadioButton1->setChecked(true);
  RadioButton2 = new QRadioButton(Q("元の名前　　　＋"), NameGroupBox);
  RadioButton2->setObjectName("RadioButton2");
  // Read out without the blanks that line the caption up.
  RadioButton2->setAccessibleName(Q("元の名前＋独自の拡張子"));
  RadioButton3 = new QRadioButton(Q("ランダム名　　＋"), NameGroupBox);
  RadioButton3->setObjectName("RadioButton3");
  RadioButton3->setAccessibleName(Q("ランダム名＋独自の拡張子"));
  ExtChgEdit = new QLineEdit(Q(kStandardOwnExt), NameGroupBox);
  ExtChgEdit->setObjectName("ExtChgEdit");
  ExtChgEdit->setAccessibleName(Q("独自の拡張子"));
  ExtChgEdit->setValidator(new ByteLimitValidator(ExtChgEdit, kOwnExtMaxBytes));
  ExtChgEdit->setFixedWidth(ExtChgEdit->fontMetrics().horizontalAdvance(QString(12, 'W')));
  ExtChgEdit->setEnabled(false);
  auto* nameLayout = new QGridLayout(NameGroupBox);
  nameLayout->addWidget(RadioButton1, 0, 0, 1, 3);
  nameLayout->addWidget(RadioButton2, 1, 0);
  nameLayout->addWidget(RadioButton3, 2, 0);
  nameLayout->addWidget(ExtChgEdit, 1, 1, 2, 1, Qt::AlignVCenter);
  nameLayout->setColumnStretch(2, 1);
}

// The wipe bin: the chooser's button and the drop area, watched for drops.
void TOptionDlg::BuildWipeBin() {
  WipeGroupBox = new QGroupBox(Q("抹消ゴミ箱（完全に消去したいファイルをドロップ）"), this);
  WipeGroupBox->setObjectName("WipeGroupBox");
  WipeSpeedButton = new QToolButton(WipeGroupBox);
  WipeSpeedButton->setObjectName("WipeSpeedButton");
  WipeSpeedButton->setIcon(FolderIcon());
  WipeSpeedButton->setIconSize(QSize(kFolderIconSize, kFolderIconSize));
  WipeSpeedButton->setFixedSize(40, 40);
  WipeSpeedButton->setAutoRaise(true);
  WipeSpeedButton->setToolTip(Q("抹消するファイルやフォルダを選択します。"));
  WipeSpeedButton->setAccessibleName(Q(kWipeChooserCaption));
  Panel1 = new QFrame(WipeGroupBox);
  Panel1->setObjectName("Panel1");
  Panel1->setFrameShape(QFrame::Panel);
  Panel1->setFrameShadow(QFrame::Sunken);
  // Filled like a field that takes input, in the colours of the theme in use.
  Panel1->setBackgroundRole(QPalette::Base);
  Panel1->setAutoFillBackground(true);
  Panel1->setMinimumHeight(56);
  auto* wipeLayout = new QHBoxLayout(WipeGroupBox);
  wipeLayout->addWidget(WipeSpeedButton, 0, Qt::AlignVCenter);
  wipeLayout->addWidget(Panel1, 1);

  WipeDropWatch = new TDropWatch(this);
  WipeDropWatch->setObjectName("WipeDropWatch");
  WipeDropWatch->SetWatchControl(Panel1);
  WipeDropWatch->SetEnabled(true);
  WipeDropWatch->OnFilesDropped = [this](TDropWatch& sender, int x, int y,
                                         const QStringList& files) {
    WipeDropWatchFilesDropped(sender, x, y, files);
  };
}

// The tool buttons, the manual's link and the about area.
void TOptionDlg::BuildToolsAndAbout() {
  SecSetBitBtn = new QPushButton(Q("セキュリティレベル・アルゴリズムの変更.."), this);
  SecSetBitBtn->setObjectName("SecSetBitBtn");
  ClrHashBitBtn = new QPushButton(Q("登録されている照合用ハッシュとヒントをクリア"), this);
  ClrHashBitBtn->setObjectName("ClrHashBitBtn");
  ClrHashBitBtn->setToolTip(
      Q("INIファイルに登録されているパスワード照合用ハッシュとヒントのデータを消去します。"));
  Sha1BitBtn = new QPushButton(Q("SHA-1ハッシュ計算"), this);
  Sha1BitBtn->setObjectName("Sha1BitBtn");
  Sha1BitBtn->setToolTip(Q("任意のファイルデータのSHA-1ハッシュを計算します。"));
  ManualLabel = NewLinkLabel(this, "ManualLabel", Q("ブラウザでマニュアルを開く"));

  // About area.
  IconImage = new QLabel(this);
  IconImage->setObjectName("IconImage");
  IconImage->setAccessibleName(Q("QK のアイコン"));
  IconImage->setPixmap(ProgramIcon().pixmap(QSize(32, 32), devicePixelRatioF()));
  Label1 = new QLabel(Q("ファイル暗号化ソフト"), this);
  Label1->setObjectName("Label1");
  NameLabel = new QLabel(Q(kMainCaption), this);
  NameLabel->setObjectName("NameLabel");
  QFont bold = NameLabel->font();
  bold.setBold(true);
  NameLabel->setFont(bold);
  CreditLabel = new QLabel(Q("制作：QK開発チーム"), this);
  CreditLabel->setObjectName("CreditLabel");
  Label2 = NewLinkLabel(this, "Label2",
                        Q("新しいバージョンやその他のソフトはサポートページでお知らせします。"));
  Label4 = NewLinkLabel(
      this, "Label4",
      Q("ご質問・ご意見・ご要望・不具合報告は、サポートページに記載の連絡先へお寄せ下さい。"));
  Label5 = NewLinkLabel(this, "Label5", Q("サポートページを開く"));

  CloseBitBtn = new QPushButton(Q("閉じる"), this);
  CloseBitBtn->setObjectName("CloseBitBtn");
  CloseBitBtn->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));
  CloseBitBtn->setDefault(true);
}

void TOptionDlg::LayOutColumns() {
  // Left: the settings. Right: wipe bin, tools, about.
  auto* left = new QVBoxLayout;
  for (QCheckBox* box : {IncSubFolderCheckBox, WipeSourceCheckBox, WipeDecSourceCheckBox,
                         DoTopCheckBox, DontClearPassCheckBox, SaveHintCheckBox, UseReEncCheckBox,
                         TopWipeCheckBox, TextQKCheckBox, AddHMACCheckBox, SkipNonHMACCheckBox}) {
    left->addWidget(box);
  }
  left->addWidget(NameGroupBox);
  left->addStretch(1);

  auto* about = new QGridLayout;
  about->addWidget(IconImage, 0, 0, 2, 1, Qt::AlignTop);
  about->addWidget(Label1, 0, 1);
  about->addWidget(NameLabel, 1, 1);
  about->addWidget(CreditLabel, 2, 1);
  about->addWidget(Label2, 3, 0, 1, 2);
  about->addWidget(Label4, 4, 0, 1, 2);
  about->addWidget(Label5, 5, 0, 1, 2);
  about->setColumnStretch(1, 1);

  auto* right = new QVBoxLayout;
  right->addWidget(WipeGroupBox);
  right->addWidget(SecSetBitBtn);
  right->addWidget(ClrHashBitBtn);
  right->addWidget(Sha1BitBtn);
  right->addWidget(ManualLabel);
  right->addSpacing(6);
  right->addLayout(about);
  right->addStretch(1);
  auto* closeRow = new QHBoxLayout;
  closeRow->addStretch(1);
  closeRow->addWidget(CloseBitBtn);

  // The settings scroll when the screen is lower than the dialog (a small or magnified screen);
  // the close button stays below them, always in reach.
  auto* content = new QWidget;
  content->setObjectName("ContentWidget");
  auto* columns = new QHBoxLayout(content);
  columns->setContentsMargins(0, 0, 0, 0);
  columns->addLayout(left, 0);
  columns->addSpacing(8);
  columns->addLayout(right, 1);
  ContentScrollArea = new QScrollArea(this);
  ContentScrollArea->setObjectName("ContentScrollArea");
  ContentScrollArea->setAccessibleName(Q("オプションの設定"));
  ContentScrollArea->setFrameShape(QFrame::NoFrame);
  // Not a stop of its own for Tab (it would show no mark); it scrolls to the control that has
  // the focus.
  ContentScrollArea->setFocusPolicy(Qt::NoFocus);
  ContentScrollArea->setWidgetResizable(true);
  ContentScrollArea->setWidget(content);
  // Sideways only on a screen too narrow for the two columns at their least.
  ContentScrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(ContentScrollArea, 1);
  outer->addLayout(closeRow);
  // The right column wraps its long labels to the width of the settings column.
  for (QLabel* label : {Label2, Label4}) label->setMaximumWidth(330);
  WipeGroupBox->setMaximumWidth(360);
}

void TOptionDlg::ConnectReactions() {
  // Reactions. Every change of a mirrored control first writes the model; mirroring the model
  // into the controls runs none of them.
  const auto onToggle = [this](QAbstractButton* button, auto reaction) {
    connect(button, &QAbstractButton::toggled, this, [this, reaction](bool checked) {
      if (mirroring_) return;
      ControlsToModel();
      reaction(checked);
    });
  };
  for (QCheckBox* box : {IncSubFolderCheckBox, WipeSourceCheckBox, WipeDecSourceCheckBox}) {
    onToggle(box, [this](bool) { IncSubFolderCheckBoxClick(); });
  }
  for (QCheckBox* box : {DoTopCheckBox, DontClearPassCheckBox, SaveHintCheckBox, UseReEncCheckBox,
                         TopWipeCheckBox}) {
    onToggle(box, [this](bool) { DoTopCheckBoxClick(); });
  }
  onToggle(TextQKCheckBox, [this](bool checked) { TextQKCheckBoxClick(checked); });
  for (QCheckBox* box : {AddHMACCheckBox, SkipNonHMACCheckBox}) {
    onToggle(box, [this](bool) { HMACCheckBoxClick(); });
  }
  for (QRadioButton* radio : {RadioButton1, RadioButton2, RadioButton3}) {
    onToggle(radio, [this](bool checked) {
      if (checked) UpdateNameMode();
    });
  }
  connect(ExtChgEdit, &QLineEdit::textChanged, this, [this] { ControlsToModel(); });

  connect(WipeSpeedButton, &QToolButton::clicked, this, &TOptionDlg::WipeSpeedButtonClick);
  connect(SecSetBitBtn, &QPushButton::clicked, this, &TOptionDlg::SecSetBitBtnClick);
  connect(ClrHashBitBtn, &QPushButton::clicked, this, &TOptionDlg::ClrHashBitBtnClick);
  connect(Sha1BitBtn, &QPushButton::clicked, this, &TOptionDlg::Sha1BitBtnClick);
  connect(CloseBitBtn, &QPushButton::clicked, this, &TOptionDlg::CloseBitBtnClick);
  connect(ManualLabel, &TLinkLabel::clicked, this, &TOptionDlg::ManualLabelClick);
  for (TLinkLabel* label : {Label2, Label4, Label5})
    connect(label, &TLinkLabel::clicked, this, &TOptionDlg::WebLabelClick);
}

void TOptionDlg::ControlsToModel() {
  if (mirroring_) return;
  model_.Recurse = IncSubFolderCheckBox->isChecked();
  model_.WipeSource = WipeSourceCheckBox->isChecked();
  model_.WipeDecSource = WipeDecSourceCheckBox->isChecked();
  model_.MainTop = DoTopCheckBox->isChecked();
  model_.DontClearPassBox = DontClearPassCheckBox->isChecked();
  model_.SaveHint = SaveHintCheckBox->isChecked();
  model_.ReEnc = UseReEncCheckBox->isChecked();
  model_.TopWipe = TopWipeCheckBox->isChecked();
  model_.TextQKBtn = TextQKCheckBox->isChecked();
  model_.AddHMAC = AddHMACCheckBox->isChecked();
  model_.SkipNonHMAC = SkipNonHMACCheckBox->isChecked();
  model_.DefaultExt = RadioButton1->isChecked();
  model_.OwnExt = RadioButton2->isChecked();
  model_.RandomExt = RadioButton3->isChecked();
  model_.OwnExtStr = S(ExtChgEdit->text());
}

void TOptionDlg::MirrorModel() {
  mirroring_ = true;
  const auto set = [](QAbstractButton* button, bool on) {
    if (button->isChecked() != on) button->setChecked(on);
  };
  set(IncSubFolderCheckBox, model_.Recurse);
  set(WipeSourceCheckBox, model_.WipeSource);
  set(WipeDecSourceCheckBox, model_.WipeDecSource);
  set(DoTopCheckBox, model_.MainTop);
  set(DontClearPassCheckBox, model_.DontClearPassBox);
  set(SaveHintCheckBox, model_.SaveHint);
  set(UseReEncCheckBox, model_.ReEnc);
  set(TopWipeCheckBox, model_.TopWipe);
  set(TextQKCheckBox, model_.TextQKBtn);
  set(AddHMACCheckBox, model_.AddHMAC);
  set(SkipNonHMACCheckBox, model_.SkipNonHMAC);
  // The naming choice the model stands for (the first of the three flags that is set).
  const std::int32_t mode = model_.NameMode();
  QRadioButton* chosen = mode == settings::kNameOwnExt   ? RadioButton2
                         : mode == settings::kNameRandom ? RadioButton3
                                                         : RadioButton1;
  set(chosen, true);
  ExtChgEdit->setEnabled(chosen != RadioButton1);
  const QString ext = Q(model_.OwnExtStr);
  if (ExtChgEdit->text() != ext) ExtChgEdit->setText(ext);
  mirroring_ = false;
}

void TOptionDlg::LoadOptions(const settings::SettingsModel& loaded) {
  WipeSourceCheckBox->setChecked(loaded.WipeSource);
  WipeDecSourceCheckBox->setChecked(loaded.WipeDecSource);
  DoTopCheckBox->setChecked(loaded.MainTop);
  DoTopCheckBoxClick();

  DontClearPassCheckBox->setChecked(loaded.DontClearPassBox);
  SaveHintCheckBox->setChecked(loaded.SaveHint);
  UseReEncCheckBox->setChecked(loaded.ReEnc);
  TopWipeCheckBox->setChecked(loaded.TopWipe);
  TextQKCheckBox->setChecked(loaded.TextQKBtn);
  AddHMACCheckBox->setChecked(loaded.AddHMAC);
  SkipNonHMACCheckBox->setChecked(loaded.SkipNonHMAC);

  model_.PasswordHint = SaveHintCheckBox->isChecked() ? loaded.PasswordHint : std::string();

  // In a group of choices a selected button cannot be unselected on its own; selecting another
  // one does it, so a stored choice always ends up selected.
  RadioButton1->setChecked(loaded.DefaultExt);
  RadioButton2->setChecked(loaded.OwnExt);
  RadioButton3->setChecked(loaded.RandomExt);
  ExtChgEdit->setText(Q(loaded.OwnExtStr));
  UpdateNameMode();
  ControlsToModel();
}

void TOptionDlg::UpdateNameMode() {
  if (RadioButton1->isChecked()) {
    ExtChgEdit->setEnabled(false);
  } else if (RadioButton2->isChecked() || RadioButton3->isChecked()) {
    ExtChgEdit->setEnabled(true);
  }
  ControlsToModel();
}

void TOptionDlg::IncSubFolderCheckBoxClick() {
  model_.Recurse = IncSubFolderCheckBox->isChecked();
  emit RecurseChanged(model_.Recurse);
}

void TOptionDlg::DoTopCheckBoxClick() {
  emit MainTopChanged(DoTopCheckBox->isChecked());
}

void TOptionDlg::SetTextButtons(bool on) {
  textButtons_ = on;
}

void TOptionDlg::SetProgramName(const QString& name) {
  programName_ = name;
  if (NameLabel->text() != name) NameLabel->setText(name);
}

void TOptionDlg::TextQKCheckBoxClick(bool checked) {
  if (!checked && textButtons_) ShowNote(this, Q(kNextStart));
}

void TOptionDlg::HMACCheckBoxClick() {
  if (!AddHMACCheckBox->isChecked() && SkipNonHMACCheckBox->isChecked()) {
    ShowNote(this, Q(kHMACWarning));
  }
}

void TOptionDlg::CloseBitBtnClick() {
  close();
}

bool TOptionDlg::FormCloseQuery() {
  // The own extension is checked whenever a naming choice uses it: the random-name choice
  // builds names from it just as the own-extension choice does.
  if (RadioButton1->isChecked() || IsValidOwnExtension(ExtChgEdit->text())) return true;
  ShowWarning(this, Q(kExtensionInvalid));
  ExtChgEdit->setText(Q(kStandardOwnExt));
  ExtChgEdit->setFocus(Qt::OtherFocusReason);
  return false;
}

void TOptionDlg::closeEvent(QCloseEvent* event) {
  if (!FormCloseQuery()) {
    event->ignore();
    return;
  }
  event->accept();
  emit Closed();
}

void TOptionDlg::reject() {
  // Escape takes the road of the close button, with the extension check.
  close();
}

void TOptionDlg::WipeSpeedButtonClick() {
  const QStringList files = ChooseFiles(this, Q(kWipeChooserCaption), ChooseWhat::FilesAndFolders);
  if (files.isEmpty()) return;
  opener_ = WipeSpeedButton;
  emit WipeRequested(files);
}

void TOptionDlg::WipeDropWatchFilesDropped(TDropWatch&, int, int, const QStringList& files) {
  emit WipeRequested(files);
}

void TOptionDlg::SecSetBitBtnClick() {
  emit SecurityDialogRequested();
}

void TOptionDlg::Sha1BitBtnClick() {
  emit HashWindowRequested();
}

void TOptionDlg::ClrHashBitBtnClick() {
  if (!AskYesNo(this, Q(kClearQuestion))) return;
  model_.PassHash.clear();
  model_.PasswordHint.clear();
  emit HintCleared();
  try {
    store_.Clear();
  } catch (const settings::SettingsWriteError& error) {
    ShowWarning(this, Q(error.what()));
    return;
  }
  ShowInformation(this, Q(kCleared));
}

void TOptionDlg::ManualLabelClick() {
  OpenManual(this);
}

void TOptionDlg::WebLabelClick() {
  OpenWebSite(this);
}

void TOptionDlg::FormPaint() {
  if (IncSubFolderCheckBox->isChecked() != model_.Recurse) {
    IncSubFolderCheckBox->setChecked(model_.Recurse);
  }
  if (!programName_.isEmpty() && NameLabel->text() != programName_) {
    NameLabel->setText(programName_);
  }
}

void TOptionDlg::showEvent(QShowEvent* event) {
  MirrorModel();
  FormPaint();
  // Once per showing by the program; the window system's own shows (a window mapped again, or
  // restored from an icon), and a show of the dialog while it is shown (which some Qt versions
  // announce again), leave size and focus as they are.
  if (!event->spontaneous() && !onScreen_) {
    onScreen_ = true;
    FitOnScreen();
    // Back from a list of the wipe bin, the control that handed it over has the focus again.
    QWidget* focus = opener_ ? opener_.data() : CloseBitBtn;
    opener_ = nullptr;
    focus->setFocus(Qt::OtherFocusReason);
  }
  QDialog::showEvent(event);
}

// The whole of the settings where the screen has room for them, else as much as fits, with a
// scroll bar; in the middle of the screen.
void TOptionDlg::FitOnScreen() {
  const QScreen* shown = screen();
  if (!shown) return;
  const QRect area = shown->availableGeometry();
  const QSize want = ContentScrollArea->widget()->sizeHint();
  const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
  const int spare = CloseBitBtn->sizeHint().height() + 40;
  const QSize room = area.size() - kFrameAllowance;
  const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
  const int height = std::min(want.height(), room.height() - spare);
  const int width =
      std::min(want.width() + (height < want.height() ? bar : 0), room.width() - margins);
  // The dialog keeps a fixed size, so that size is made anew for this screen.
  ContentScrollArea->setFixedSize(width, std::max(height, 80));
  layout()->activate();
  setFixedSize(sizeHint());
  move(area.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
}

void TOptionDlg::hideEvent(QHideEvent* event) {
  if (!event->spontaneous()) onScreen_ = false;
  QDialog::hideEvent(event);
}

void TOptionDlg::paintEvent(QPaintEvent* event) {
  FormPaint();
  QDialog::paintEvent(event);
}

} // namespace qk::windows
