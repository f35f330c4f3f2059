// The password dialog: its checks in order with their messages, the verification hash checked
// and registered, what opening the dialog empties, refills and shows, the keys, the hint limit.
#include "windows/PassDlg.h"

#include "engine/PasswordRules.h"
#include "engine/TextCrypt.h"
#include "platform/CodePage.h"
#include "windows/MessageBoxes.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTest>

#include <deque>
#include <memory>

using qk::windows::TPasswordDlg;

namespace {

QString U(const char* text) {
  return QString::fromUtf8(text);
}

const QString kM1 = U(qk::engine::kPasswordMismatch);
const QString kM2 = U(qk::engine::kPasswordEmpty);
const QString kM6 = U("入力されたパスワードが照合用に登録されたパスワードと異なります。確認してく"
                      "ださい。\n（そのままで良い場合は、「照合用にハッシュを登録」または「何も行"
                      "わない」を選択して再度ＯＫを押してください。）");
// Questions are recorded with a leading "?".
const QString kM7 =
    U("?入力されたパスワードのハッシュを照合用に登録します。よろしいですか？\n（この"
      "ハッシュは照合以外に使用できないように特殊な方法で加工されるので、登録して"
      "も安全です。）");

std::string HashOf(const QString& password) {
  qk::engine::TextCrypt text;
  return text.MakeVerificationHash(qk::platform::ToSystemCodePage(password.toStdString()));
}

// A click on the indicator: far right of its text a click would miss the button.
void Choose(QRadioButton* radio) {
  QTest::mouseClick(radio, Qt::LeftButton, {}, QPoint(radio->height() / 2, radio->height() / 2));
}

} // namespace

class PasswordDialogTest : public QObject {
  Q_OBJECT

  qk::settings::SettingsModel model_;
  qk::engine::RunState state_;
  std::unique_ptr<TPasswordDlg> dlg_;
  QStringList boxes_;
  std::deque<bool> answers_;

  TPasswordDlg& Open(bool forDecrypt) {
    if (!dlg_) dlg_ = std::make_unique<TPasswordDlg>(model_, state_);
    dlg_->ForDecrypt = forDecrypt;
    dlg_->show();
    return *dlg_;
  }
  // Types into both fields and presses OK; true when the dialog closed with OK.
  bool Submit(const QString& password, const QString& confirmation) {
    dlg_->PassEdit->setText(password);
    dlg_->PassCEdit->setText(confirmation);
    QTest::mouseClick(dlg_->BitBtn1, Qt::LeftButton);
    return !dlg_->isVisible() && dlg_->result() == QDialog::Accepted;
  }
  bool Submit(const QString& password) { return Submit(password, password); }

private slots:
  void init() {
    model_ = {};
    state_ = {};
    boxes_.clear();
    qk::windows::SetBoxResponder([this](qk::windows::BoxKind kind, const QString& text) {
      const bool question = kind == qk::windows::BoxKind::Confirmation;
      boxes_ << (question ? "?" + text : text);
      if (!question) return true;
      const bool answer = !answers_.empty() && answers_.front();
      if (!answers_.empty()) answers_.pop_front();
      return answer;
    });
  }
  void cleanup() {
    dlg_.reset();
    qk::windows::SetBoxResponder(nullptr);
  }

  void checks_data() {
    QTest::addColumn<bool>("decrypt");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("confirmation");
    QTest::addColumn<QString>("message"); // empty: accepted
    QTest::addColumn<QString>("hint");
    const auto row = [](const char* name, bool decrypt, int level, const QString& password,
                        const QString& confirmation, const QString& message,
                        const QString& hint = {}) {
      QTest::newRow(name) << decrypt << level << password << confirmation << message << hint;
    };
    const QString kHint = U(qk::engine::kHintHoldsPassword);
    const auto refusal = [](int n) { return U(qk::engine::SecurityLevelMessage(n).c_str()); };
    const QString wide9 = U("パ").repeated(9), wide10 = wide9 + U("パ");
    row("enc 1: one wide", false, 1, U("鍵"), U("鍵"), {});
    row("enc 2: five bytes", false, 2, "abcde", "abcde", refusal(2));
    row("enc 2: three wide", false, 2, U("あいう"), U("あいう"), {});
    row("enc 3: four wide and one", false, 3, U("漢字漢字x"), U("漢字漢字x"), refusal(3));
    row("enc 4: nine wide", false, 4, wide9, wide9, refusal(4));
    row("enc 4: ten wide", false, 4, wide10, wide10, {});
    row("enc 7: one byte", false, 7, "a", "a", {});
    row("enc: empty is M2, not M1", false, 2, {}, {}, kM2);
    row("enc: mismatch before length", false, 4, "Ab", "ab", kM1);
    row("dec 1: one wide", true, 1, U("鍵"), "hidden", {});
    row("dec 2: one wide", true, 2, U("鍵"), "hidden", {});
    row("dec 3: one wide", true, 3, U("鍵"), "hidden", {});
    row("dec 4: one wide", true, 4, U("鍵"), "hidden", {});
    row("dec: empty", true, 4, {}, {}, kM2);
    row("enc: hint is the password", false, 1, "Secret", "Secret", kHint, "Secret");
    row("enc: hint holds the password", false, 1, U("鍵"), U("鍵"), kHint, U("金の鍵です"));
    row("enc: hint near the password", false, 1, "Secret", "Secret", {}, "secret Secre");
    row("dec: no hint asked", true, 1, "Secret", "hidden", {}, "Secret");
  }
  void checks() {
    QFETCH(bool, decrypt);
    QFETCH(int, level);
    QFETCH(QString, password);
    QFETCH(QString, confirmation);
    QFETCH(QString, message);
    QFETCH(QString, hint);
    model_.SecLevel = level;
    // A registered hash plays no part in decryption.
    if (decrypt) model_.PassHash = HashOf("other");
    TPasswordDlg& dlg = Open(decrypt);
    QCOMPARE(dlg.PassCEdit->isVisible(), !decrypt);
    QCOMPARE(dlg.Panel1->isVisible(), !decrypt);
    dlg.HintEdit->setText(hint);
    QCOMPARE(Submit(password, confirmation), message.isEmpty());
    if (message == U(qk::engine::kHintHoldsPassword)) QCOMPARE(dlg.focusWidget(), dlg.HintEdit);
    QCOMPARE(boxes_, message.isEmpty() ? QStringList() : QStringList{message});
    // Two texts that differ are both typed again; any other refusal keeps what was typed.
    const qk::platform::SecretText typed = dlg.TypedPassword();
    QCOMPARE(QByteArray(typed.Data(), static_cast<qsizetype>(typed.Size())),
             message == kM1 ? QByteArray() : password.toUtf8());
  }

  void registeredHashReplacesRetyping() {
    model_.PassHash = " \t";
    TPasswordDlg& dlg = Open(false);
    QVERIFY(!dlg.RadioButton1->isEnabled());
    QVERIFY(dlg.RadioButton3->isChecked());
    QVERIFY(dlg.PassCEdit->isVisible() && dlg.Label2->isVisible());
    dlg.reject();

    const QString password = U("正しいパスワード");
    model_.PassHash = HashOf(password);
    Open(false);
    QVERIFY(dlg.RadioButton1->isEnabled() && dlg.RadioButton1->isChecked());
    QVERIFY(!dlg.PassCEdit->isVisible() && !dlg.Label2->isVisible());
    QVERIFY(!Submit(U("違うパスワード"), QString()));
    QCOMPARE(boxes_, QStringList{kM6});
    QVERIFY(Submit(password, QString()));
    Open(false);
    Choose(dlg.RadioButton3);
    QVERIFY(dlg.PassCEdit->isVisible());
    Choose(dlg.RadioButton1);
    QVERIFY(!dlg.PassCEdit->isVisible());

    // A damaged value never matches; registering anew replaces it.
    model_.PassHash = QString::fromStdString(HashOf(password)).toLower().toStdString();
    boxes_.clear();
    QVERIFY(!Submit(password, QString()));
    Choose(dlg.RadioButton2);
    answers_ = {true};
    QVERIFY(Submit(password));
    QCOMPARE(boxes_, (QStringList{kM6, kM7}));
    QCOMPARE(model_.PassHash, HashOf(password));
  }

  void registeringAsksFirst() {
    model_.SaveHint = true;
    state_.PasswordHint = "remembered";
    model_.PassHash = HashOf("old");
    TPasswordDlg& dlg = Open(false);
    Choose(dlg.RadioButton2);
    dlg.HintEdit->setText("typed");
    answers_ = {false};
    QVERIFY(!Submit("new password"));
    QVERIFY(dlg.RadioButton3->isChecked());
    QCOMPARE(dlg.PassCEdit->text(), QString("new password"));
    QCOMPARE(dlg.HintEdit->text(), QString("typed"));
    QCOMPARE(model_.PassHash, HashOf("old"));
    QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    QVERIFY(!dlg.isVisible());
    QCOMPARE(boxes_, QStringList{kM7});

    Open(false);
    Choose(dlg.RadioButton2);
    answers_ = {true};
    QVERIFY(Submit(U("ぱすわーど")));
    QCOMPARE(model_.PassHash, HashOf(U("ぱすわーど")));
    // The hash already registered: nothing to ask.
    Open(false);
    Choose(dlg.RadioButton2);
    QVERIFY(Submit(U("ぱすわーど")));
    QCOMPARE(boxes_, (QStringList{kM7, kM7}));
  }

  void openingEmptiesAndRefills() {
    state_.PasswordHint = "remembered";
    model_.SaveHint = false;
    TPasswordDlg& dlg = Open(true);
    dlg.PassEdit->setText("p");
    dlg.HintEdit->setText("h");
    dlg.reject();
    Open(false);
    QVERIFY(dlg.PassEdit->text().isEmpty() && dlg.HintEdit->text().isEmpty());
    QVERIFY(dlg.Panel1->isVisible() && dlg.PassCEdit->isVisible());

    model_.DontClearPassBox = true;
    model_.SaveHint = true;
    QVERIFY(Submit("kept-pass"));
    Open(false);
    QCOMPARE(dlg.PassCEdit->text(), QString("kept-pass"));
    QCOMPARE(dlg.HintEdit->text(), QString("remembered"));
    // Later repaints leave what is being typed alone.
    dlg.HintEdit->setText("typing");
    dlg.repaint();
    QCOMPARE(dlg.Hint(), QString("typing"));
  }

  // The remembered hint fills the box when an encryption dialog opens; choosing a verification
  // option afterwards, or answering No to the registration, keeps what the user typed.
  void typedHintSurvivesTheVerificationChoices() {
    state_.PasswordHint = "remembered";
    model_.SaveHint = true;
    model_.PassHash = HashOf("other");
    TPasswordDlg& dlg = Open(false);
    QCOMPARE(dlg.HintEdit->text(), QString("remembered"));
    dlg.HintEdit->setText("typed");
    for (QRadioButton* radio : {dlg.RadioButton3, dlg.RadioButton2, dlg.RadioButton1}) {
      Choose(radio);
      QVERIFY(radio->isChecked());
      QCOMPARE(dlg.HintEdit->text(), QString("typed"));
    }
    Choose(dlg.RadioButton2);
    answers_ = {false};
    QVERIFY(!Submit("secret"));
    QVERIFY(dlg.RadioButton3->isChecked());
    QCOMPARE(dlg.HintEdit->text(), QString("typed"));
    QVERIFY(Submit("secret"));
    QCOMPARE(dlg.Hint(), QString("typed"));
  }

  void passwordsShowAsterisks() {
    TPasswordDlg& dlg = Open(false);
    for (QLineEdit* edit : {dlg.PassEdit, dlg.PassCEdit}) {
      QCOMPARE(edit->echoMode(), QLineEdit::Password);
      QCOMPARE(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit),
               int('*'));
    }
    QCOMPARE(dlg.HintEdit->echoMode(), QLineEdit::Normal);
  }

  void keysActAsButtons() {
    TPasswordDlg& dlg = Open(false);
    QTest::keyClick(dlg.PassEdit, Qt::Key_Enter);
    QCOMPARE(boxes_, QStringList{kM2});
    dlg.PassEdit->setText("abcdef");
    dlg.PassCEdit->setText("abcdef");
    QTest::keyClick(dlg.HintEdit, Qt::Key_Return);
    QVERIFY(!dlg.isVisible() && dlg.result() == QDialog::Accepted);
    for (QLineEdit* field : {dlg.PassEdit, dlg.PassCEdit, dlg.HintEdit}) {
      Open(false);
      QTest::keyClick(field, Qt::Key_Escape);
      QVERIFY(!dlg.isVisible() && dlg.result() == QDialog::Rejected);
    }
  }

  void hintIsLimitedTo255Bytes() {
    QLineEdit* hint = Open(false).HintEdit;
    const auto type = [hint](const QString& text) {
      QTest::sendKeyEvent(QTest::Click, hint, Qt::Key_unknown, text, Qt::NoModifier);
    };
    type(U("漢").repeated(127));
    type(U("漢")); // two bytes, one left
    QCOMPARE(hint->text().size(), 127);
    type("x");
    type("y");
    QCOMPARE(hint->text(), U("漢").repeated(127) + "x");
  }

  void longerHintIsCutAtACharacterAndSaidSo_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after");
    const QString wide = U("漢");
    QTest::newRow("fits") << "abc" << 3 << "def"
                          << "abcdef";
    QTest::newRow("wide then narrow, 300 bytes")
        << QString() << 0 << wide.repeated(100) + QString("a").repeated(100)
        << wide.repeated(100) + QString("a").repeated(55);
    QTest::newRow("a wide character does not split")
        << QString() << 0 << "a" + wide.repeated(200) << "a" + wide.repeated(127);
    QTest::newRow("into the middle, the rest stays")
        << "abc" << 1 << wide.repeated(200) << "a" + wide.repeated(126) + "bc";
    QTest::newRow("nothing of it fits") << wide.repeated(127) << 0 << wide << wide.repeated(127);
  }
  void longerHintIsCutAtACharacterAndSaidSo() {
    QFETCH(QString, before);
    QFETCH(int, cursor);
    QFETCH(QString, pasted);
    QFETCH(QString, after);
    TPasswordDlg& dlg = Open(false);
    QVERIFY(dlg.HintNoteLabel->isHidden());
    dlg.HintEdit->setText(before);
    dlg.HintEdit->setCursorPosition(cursor);
    QTest::sendKeyEvent(QTest::Click, dlg.HintEdit, Qt::Key_unknown, pasted, Qt::NoModifier);
    QCOMPARE(dlg.HintEdit->text(), after);
    QVERIFY(qk::platform::SystemByteLength(after.toStdString()) <= 255);
    const bool cut = after != before.left(cursor) + pasted + before.mid(cursor);
    QCOMPARE(!dlg.HintNoteLabel->isHidden(), cut);
    if (cut) QVERIFY(dlg.HintNoteLabel->text().contains("255"));
    // The note goes with the next opening.
    dlg.hide();
    QVERIFY(Open(false).HintNoteLabel->isHidden());
  }

  void mismatchEmptiesBothFieldsForAFreshStart() {
    TPasswordDlg& dlg = Open(false);
    QVERIFY(!Submit("secret1", "secret2"));
    QCOMPARE(boxes_, QStringList{kM1});
    QVERIFY(dlg.PassEdit->text().isEmpty());
    QVERIFY(dlg.PassCEdit->text().isEmpty());
    QCOMPARE(dlg.focusWidget(), dlg.PassEdit);
    // Typing starts afresh rather than after the wrong text.
    QTest::keyClicks(dlg.PassEdit, "new");
    QCOMPARE(dlg.PassEdit->text(), QString("new"));
    // A refusal of another kind keeps what was typed.
    model_.SecLevel = 4;
    QVERIFY(!Submit("short"));
    QCOMPARE(dlg.PassEdit->text(), QString("short"));
  }
};

QTEST_MAIN(PasswordDialogTest)
#include "tst_password_dialog.moc"
