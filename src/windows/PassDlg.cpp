#include "windows/PassDlg.h"

#include "crypto/CryptoBase.h"
#include "engine/PasswordRules.h"
#include "platform/CodePage.h"
#include "platform/Hardening.h"
#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"

#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProxyStyle>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>
#include <QVBoxLayout>
#include <QValidator>

#include <algorithm>
#include <functional>

namespace qk::windows {

namespace {

constexpr const char* kVerifyMismatch =
    "入力されたパスワードが照合用に登録されたパスワードと異なります。確認してください。\n"
    "（そのままで良い場合は、「照合用にハッシュを登録」または「何も行わない」を選択して再度ＯＫ"
    "を押してください。）";
constexpr const char* kRegisterQuestion =
    "入力されたパスワードのハッシュを照合用に登録します。よろしいですか？\n"
    "（このハッシュは照合以外に使用できないように特殊な方法で加工されるので、登録しても安全です"
    "。）";

constexpr const char* kLayoutCaption = "パスワードを入力してください";
constexpr const char* kLayoutAdvice =
    "＊セキュリティ向上のため、パスワードは８文字以上で、なおかつ、推測されにくいものをおすすめ"
    "します。（ただし忘れたりしないよう十分ご注意下さい。）";
constexpr const char* kEncryptCaption = "暗号化に使用するパスワードを入力してください。";
constexpr const char* kEncryptAdvice =
    "＊パスワードは絶対に忘れないようにしてください。また、出来る限り長く、推測されにくいパスワ"
    "ードにしてください。";
constexpr const char* kDecryptCaption = "復号に使用するパスワードを入力してください。";
constexpr const char* kDecryptAdvice = "＊パスワードは大文字と小文字を区別されます。";

constexpr std::size_t kHintMaxBytes = 255;
constexpr const char* kHintCutNote =
    "ヒントは255バイト（全角127文字）までです。入りきらない分は切り捨てました。";

std::size_t HintBytes(const QString& text) {
  return platform::SystemByteLength(S(text));
}

// Keeps the hint within its limit in system-code-page bytes: of what an edit inserts (typed or
// pasted), as much as fits is taken, cut at a character boundary, and the rest of the hint stays
// as it was; cut() is called whenever something had to be left out.
class HintValidator : public QValidator {
public:
  HintValidator(QLineEdit* edit, std::function<void()> cut)
      : QValidator(edit), cut_(std::move(cut)) {}
  State validate(QString& input, int& pos) const override {
    if (HintBytes(input) <= kHintMaxBytes) {
      last_ = input;
      return Acceptable;
    }
    // The box holds the edited text already; what it held before is the last text let through.
    const QString old = last_;
    // The edit replaced old's [head, old.size() - tail.size()) by input's [head, pos).
    pos = std::clamp(pos, 0, static_cast<int>(input.size()));
    const QString tail = input.mid(pos);
    qsizetype head = 0;
    if (old.endsWith(tail)) {
      const qsizetype limit = std::min(static_cast<qsizetype>(pos), old.size() - tail.size());
      while (head < limit && old[head] == input[head]) ++head;
    } else {
      head = pos; // not an insertion as far as can be told: the end goes
    }
    const QString before = input.left(head);
    const QString inserted = input.mid(head, pos - head);
    const QString after = old.endsWith(tail) ? tail : QString();
    // The longest run of whole characters of the insertion that fits.
    qsizetype keep = 0;
    for (qsizetype i = 0; i < inserted.size();) {
      const qsizetype next = i + (inserted[i].isHighSurrogate() && i + 1 < inserted.size() ? 2 : 1);
      if (HintBytes(before + inserted.left(next) + after) > kHintMaxBytes) break;
      keep = i = next;
    }
    input = before + inserted.left(keep) + after;
    // Nothing kept of an edit that was all tail: cut the hint itself at its limit.
    while (HintBytes(input) > kHintMaxBytes) input.chop(input.back().isLowSurrogate() ? 2 : 1);
    pos = static_cast<int>(std::min(before.size() + keep, input.size()));
    last_ = input;
    if (cut_) cut_();
    return Acceptable;
  }

private:
  mutable QString last_;
  std::function<void()> cut_;
};

// Password boxes show "*" for every character, whatever the style's own choice.
class AsteriskStyle : public QProxyStyle {
public:
  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_LineEdit_PasswordCharacter) return '*';
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }
};

// The text of a password field; the UTF-8 copy made on the way is cleared. (The field's own
// text is the toolkit's, out of reach.)
platform::SecretText Typed(const QLineEdit* edit) {
  QByteArray utf8 = edit->text().toUtf8();
  platform::SecretText text(
      std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
  utf8.fill('\0');
  return text;
}

template <typename T> T* Named(T* object, const char* name) {
  object->setObjectName(QString::fromLatin1(name));
  return object;
}

} // namespace

TPasswordDlg::TPasswordDlg(settings::SettingsModel& model, engine::RunState& state, QWidget* parent)
    : QDialog(parent), model_(model), state_(state) {
  setObjectName(QStringLiteral("PasswordDlg"));
  AddManualKey(this, [] { return QStringLiteral("password"); });
  setWindowTitle(Q(kLayoutCaption));

  Label1 = Named(new QLabel(Q("入力"), this), "Label1");
  PassEdit = Named(new QLineEdit(this), "PassEdit");
  PassEdit->setEchoMode(QLineEdit::Password);
  Label1->setBuddy(PassEdit);
  Label2 = Named(new QLabel(Q("確認のため再入力"), this), "Label2");
  PassCEdit = Named(new QLineEdit(this), "PassCEdit");
  PassCEdit->setEchoMode(QLineEdit::Password);
  auto* asterisks = new AsteriskStyle;
  asterisks->setParent(this);
  PassEdit->setStyle(asterisks);
  PassCEdit->setStyle(asterisks);
  Label2->setBuddy(PassCEdit);

  Label3 = Named(new QLabel(Q(kLayoutAdvice), this), "Label3");
  Label3->setWordWrap(true);

  Panel1 = Named(new QFrame(this), "Panel1");
  Panel1->setFrameShape(QFrame::StyledPanel);
  Label4 = Named(new QLabel(Q("ヒントの付加（必要なら）"), Panel1), "Label4");
  HintEdit = Named(new QLineEdit(Panel1), "HintEdit");
  HintNoteLabel = Named(new QLabel(Q(kHintCutNote), Panel1), "HintNoteLabel");
  HintNoteLabel->setWordWrap(true);
  HintNoteLabel->hide();
  HintEdit->setValidator(new HintValidator(HintEdit, [this] { HintNoteLabel->show(); }));
  Label4->setBuddy(HintEdit);
  GroupBox1 = Named(new QGroupBox(Q("パスワードの照合"), Panel1), "GroupBox1");
  RadioButton1 = Named(new QRadioButton(Q("照合用ハッシュと照合する"), GroupBox1), "RadioButton1");
  RadioButton2 = Named(new QRadioButton(Q("照合用にハッシュを登録"), GroupBox1), "RadioButton2");
  RadioButton3 = Named(new QRadioButton(Q("何も行わない"), GroupBox1), "RadioButton3");
  RadioButton3->setChecked(true);

  BitBtn1 = Named(new QPushButton(QStringLiteral("OK"), this), "BitBtn1");
  BitBtn1->setDefault(true);
  BitBtn2 = Named(new QPushButton(Q("キャンセル"), this), "BitBtn2");
  BitBtn2->setAutoDefault(false);

  auto* fields = new QGridLayout;
  fields->addWidget(Label1, 0, 0);
  fields->addWidget(PassEdit, 0, 1);
  fields->addWidget(Label2, 1, 0);
  fields->addWidget(PassCEdit, 1, 1);

  auto* radios = new QVBoxLayout(GroupBox1);
  radios->addWidget(RadioButton1);
  radios->addWidget(RadioButton2);
  radios->addWidget(RadioButton3);

  auto* panel = new QVBoxLayout(Panel1);
  panel->addWidget(Label4);
  panel->addWidget(HintEdit);
  panel->addWidget(HintNoteLabel);
  panel->addWidget(GroupBox1);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);
  buttons->addWidget(BitBtn2);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(fields);
  layout->addWidget(Label3);
  layout->addWidget(Panel1);
  layout->addLayout(buttons);
  // The dialog follows its content: hiding the hint area or the confirmation field shrinks it.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  Label3->setFixedWidth(420);

  connect(BitBtn1, &QPushButton::clicked, this, &TPasswordDlg::BitBtn1Click);
  connect(BitBtn2, &QPushButton::clicked, this, &TPasswordDlg::BitBtn2Click);
  for (QRadioButton* radio : {RadioButton1, RadioButton2, RadioButton3}) {
    connect(radio, &QRadioButton::clicked, this, &TPasswordDlg::UpdateVerifyControls);
  }
  for (QLineEdit* edit : {PassEdit, PassCEdit, HintEdit}) edit->installEventFilter(this);

  KTop1 = Named(new TKTop(this), "KTop1");
}

TPasswordDlg::~TPasswordDlg() = default;

platform::SecretText TPasswordDlg::TypedPassword() const {
  return Typed(PassEdit);
}

QString TPasswordDlg::Hint() const {
  return HintEdit->text();
}

void TPasswordDlg::ClearFields(bool password, bool hint) {
  if (password) {
    PassEdit->clear();
    PassCEdit->clear();
  }
  if (hint) HintEdit->clear();
}

bool TPasswordDlg::HashRegistered() const {
  return !Q(model_.PassHash).trimmed().isEmpty();
}

std::string TPasswordDlg::VerificationHash() {
  const platform::SecretText password = Typed(PassEdit);
  std::string bytes = platform::ToSystemCodePage(password.View());
  std::string hash = textCrypt_.MakeVerificationHash(bytes);
  platform::SecureClear(bytes);
  return hash;
}

void TPasswordDlg::BitBtn1Click() {
  {
    const platform::SecretText password = Typed(PassEdit);
    const platform::SecretText confirmation = Typed(PassCEdit);
    // The confirmation counts only while its field is part of the dialog.
    const bool confirm = PassCEdit->isVisibleTo(this);
    const std::optional<std::string> refusal = engine::CheckPassword(
        password.View(),
        confirm ? std::optional<std::string_view>(confirmation.View()) : std::nullopt, ForDecrypt,
        model_.SecLevel, S(HintEdit->text()));
    if (refusal) {
      ShowWarning(this, Q(*refusal));
      // The hint is the one to change.
      if (*refusal == engine::kHintHoldsPassword) {
        HintEdit->setFocus(Qt::OtherFocusReason);
        HintEdit->selectAll();
      }
      // Two texts that differ are typed again from the start, both of them.
      if (*refusal == engine::kPasswordMismatch) {
        PassEdit->clear();
        PassCEdit->clear();
        PassEdit->setFocus(Qt::OtherFocusReason);
      }
      return;
    }
  }
  if (RadioButton1->isChecked()) {
    // Compared as stored: a damaged value never matches.
    if (VerificationHash() != model_.PassHash) {
      ShowWarning(this, Q(kVerifyMismatch));
      return;
    }
  } else if (RadioButton2->isChecked()) {
    const std::string hash = VerificationHash();
    if (hash != model_.PassHash) {
      if (!AskYesNo(this, Q(kRegisterQuestion))) {
        RadioButton3->setChecked(true);
        UpdateVerifyControls();
        return;
      }
      model_.PassHash = hash;
    }
  }
  accept();
}

void TPasswordDlg::BitBtn2Click() {
  reject();
}

void TPasswordDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    FormShow();
    FormPaint();
    // Centred on the screen, at the size the visible controls give it.
    layout()->activate();
    if (const QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QDialog::showEvent(event);
}

bool TPasswordDlg::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress &&
      (watched == PassEdit || watched == PassCEdit || watched == HintEdit)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    const int code = key->key();
    if (code == Qt::Key_Return || code == Qt::Key_Enter) {
      BitBtn1Click();
      return true;
    }
    if (code == Qt::Key_Escape) {
      BitBtn2Click();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// Each time the dialog is shown: the fields the options do not keep are emptied, and the
// verification choice starts from the registered hash.
void TPasswordDlg::FormShow() {
  if (!model_.DontClearPassBox) {
    PassEdit->clear();
    PassCEdit->clear();
  }
  if (!model_.SaveHint) HintEdit->clear();
  HintNoteLabel->hide();
  if (!ForDecrypt && HashRegistered()) {
    RadioButton1->setChecked(true);
  } else {
    RadioButton3->setChecked(true);
  }
}

// The texts and visible controls of the run's direction. Runs when the dialog is shown, not on
// every repaint, so that it never overwrites what the user is typing.
void TPasswordDlg::FormPaint() {
  PassEdit->setFocus();
  RadioButton1->setEnabled(HashRegistered());
  if (!ForDecrypt) {
    setWindowTitle(Q(kEncryptCaption));
    Label3->setText(Q(kEncryptAdvice));
    Panel1->show();
    UpdateVerifyControls();
    // The remembered hint, once when the dialog opens; the choices below leave what is typed.
    if (model_.SaveHint) HintEdit->setText(Q(state_.PasswordHint));
  } else {
    setWindowTitle(Q(kDecryptCaption));
    Label3->setText(Q(kDecryptAdvice));
    Panel1->hide();
    PassCEdit->hide();
    Label2->hide();
    RadioButton3->setChecked(true);
  }
}

// Checking against a registered hash replaces typing the password twice.
void TPasswordDlg::UpdateVerifyControls() {
  const bool confirm = !RadioButton1->isChecked();
  PassCEdit->setVisible(confirm);
  Label2->setVisible(confirm);
}

} // namespace qk::windows
