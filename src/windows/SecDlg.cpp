#include "windows/SecDlg.h"

#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"

#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSlider>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>

namespace qk::windows {

namespace {

constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 4;

constexpr const char* kLevelTexts[] = {
    "セキュリティレベル１は、日記のファイルやちょっとしたメモなどの、家族内での秘密や日常的な情報"
    "の暗号化に適しています。このレベルで暗号化する場合、パスワードは１文字以上にしなければなりま"
    "せん。",
    "セキュリティレベル２は、会社のコンピュータ上にある個人の秘密情報や、インターネットで送る個人"
    "的な情報の暗号化に適しています。このレベルで暗号化する場合、パスワードは６文字以上にしなければ"
    "なりません。",
    "セキュリティレベル３は、企業秘密級です。機密度の高い情報の暗号化に適しています。このレベルで"
    "暗号化する場合、パスワードは10文字以上にしなければなりません。",
    "セキュリティレベル４は、最高機密級です。このソフトウェアで最も高いレベルの暗号化を行いたい場"
    "合に適しています。このレベルで暗号化する場合、パスワードは20文字以上にしなければなりません。",
};

constexpr const char* kAlgorithmNames[] = {"Twofish", "Rijndael", "GOST 28147-89"};

constexpr const char* kAlgorithmTexts[] = {
    "Twofishは、ブルース・シュナイアー氏を中心とするチームによって開発された暗号アルゴリズムで、"
    "米国商務省標準技術局（NIST）による政府標準暗号（AES）の選定において、最終候補として残った"
    "４つのアルゴリズムの一つです。強度・速度ともに、選定されたRijndaelに何ら劣るものではなく、"
    "前身のBlowFishとともに、フリーウェアの標準的な暗号としての地位を占めています。"
    "（本ソフトでの仕様：最大鍵長256ビット、実質鍵長160ビット、ブロックサイズ128ビット、CBCモ"
    "ード）",
    "1997年、米国商務省標準技術局（NIST）は、強度が問題視されるようになったDESに代わる新しい暗"
    "号（AES）を広く公募しました。Twofishをはじめとする数多くの応募の中から、ベルギーの暗号学者"
    "ヨアン・ダーメン氏とフィンセント・ライメン氏によるRijndael（ラインダール）アルゴリズムが、"
    "その洗練された設計を認められて選ばれ、2000年10月、アメリカ合衆国政府の承認する暗号となり"
    "ました。（本ソフトでの仕様：最大鍵長256ビット、実質鍵長160ビット、ブロックサイズ128ビット"
    "、CBCモード）",
    "GOST 28147-89は、旧ソビエト連邦の政府標準暗号です。I.A.ザボーチン、G.P.グラズコフ、V.B."
    "イサエヴァの３氏によって開発され、1989年に制定されました。かつては鉄のカーテンの向こうで"
    "最高機密とされていましたが、ソビエト連邦の崩壊後は、その仕様を容易に入手できるようになりま"
    "した。暗号解読に対してはTwofishやRijndaelより弱いと考えられていますが、通常の用途では問題"
    "ないと考えられています。（本ソフトでの仕様：最大鍵長256ビット、実質鍵長160ビット、ブロック"
    "サイズ64ビット、CBCモード）",
};

template <typename T> T* Named(T* object, const char* name) {
  object->setObjectName(QString::fromLatin1(name));
  return object;
}

QPlainTextEdit* Memo(QWidget* parent, const char* name) {
  auto* memo = Named(new QPlainTextEdit(parent), name);
  memo->setReadOnly(true);
  memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  memo->setFixedHeight(96);
  return memo;
}

} // namespace

QString TSecSetDlg::LevelDescription(int level) {
  if (level < kMinLevel || level > kMaxLevel) return {};
  return Q(kLevelTexts[level - kMinLevel]);
}

QString TSecSetDlg::AlgorithmDescription(int index) {
  if (index < 0 || index >= static_cast<int>(std::size(kAlgorithmTexts))) return {};
  return Q(kAlgorithmTexts[index]);
}

TSecSetDlg::TSecSetDlg(settings::SettingsModel& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  setObjectName(QStringLiteral("SecSetDlg"));
  AddManualKey(this, [] { return QStringLiteral("security-level"); });
  setWindowTitle(Q("セキュリティレベル・アルゴリズムの変更"));

  GroupBox1 = Named(new QGroupBox(Q("セキュリティレベル"), this), "GroupBox1");
  SecTrackBar = Named(new QSlider(Qt::Horizontal, GroupBox1), "SecTrackBar");
  SecTrackBar->setRange(kMinLevel, kMaxLevel);
  SecTrackBar->setAccessibleName(Q("セキュリティレベル"));
  SecTrackBar->setSingleStep(1);
  SecTrackBar->setPageStep(1);
  SecTrackBar->setTickInterval(1);
  SecTrackBar->setTickPosition(QSlider::TicksBelow);
  SecTrackBar->setValue(kMinLevel);
  Label1 = Named(new QLabel(Q("説明"), GroupBox1), "Label1");
  SecMemo = Memo(GroupBox1, "SecMemo");
  SecMemo->setAccessibleName(Q("セキュリティレベルの説明"));

  // The digits over the four stops: the stops lie half a handle in from the groove's ends and
  // evenly apart, which equal stretches between the digits reproduce.
  auto* stops = new QHBoxLayout;
  const int inset = SecTrackBar->style()->pixelMetric(QStyle::PM_SliderLength) / 2;
  stops->setContentsMargins(0, 0, 0, 0);
  stops->setSpacing(0);
  const char* digits[] = {"１", "２", "３", "４"};
  for (int i = 0; i < kMaxLevel; ++i) {
    auto* digit = new QLabel(Q(digits[i]), GroupBox1);
    digit->setObjectName(QStringLiteral("LevelLabel%1").arg(i + 1));
    digit->setAlignment(Qt::AlignCenter);
    const int w = 2 * inset;
    digit->setFixedWidth(std::max(w, digit->sizeHint().width()));
    stops->addWidget(digit);
    if (i + 1 < kMaxLevel) stops->addStretch(1);
  }

  auto* level = new QVBoxLayout(GroupBox1);
  level->addLayout(stops);
  level->addWidget(SecTrackBar);
  level->addWidget(Label1);
  level->addWidget(SecMemo);

  GroupBox2 = Named(new QGroupBox(Q("アルゴリズム"), this), "GroupBox2");
  AlgoComboBox = Named(new QComboBox(GroupBox2), "AlgoComboBox");
  AlgoComboBox->setEditable(false);
  // Named for what it chooses, not by the choice it shows.
  AlgoComboBox->setAccessibleName(Q("アルゴリズム"));
  for (const char* name : kAlgorithmNames) AlgoComboBox->addItem(QString::fromLatin1(name));
  Label2 = Named(new QLabel(Q("説明"), GroupBox2), "Label2");
  AlgoMemo = Memo(GroupBox2, "AlgoMemo");
  AlgoMemo->setAccessibleName(Q("アルゴリズムの説明"));

  auto* algorithm = new QVBoxLayout(GroupBox2);
  algorithm->addWidget(AlgoComboBox);
  algorithm->addWidget(Label2);
  algorithm->addWidget(AlgoMemo);

  BitBtn1 = Named(new QPushButton(Q("閉じる"), this), "BitBtn1");
  BitBtn1->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(BitBtn1);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(GroupBox1);
  layout->addWidget(GroupBox2);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  GroupBox1->setFixedWidth(400);
  GroupBox2->setFixedWidth(400);

  connect(SecTrackBar, &QSlider::valueChanged, this, &TSecSetDlg::SecTrackBarChange);
  connect(AlgoComboBox, &QComboBox::currentIndexChanged, this, &TSecSetDlg::AlgoComboBoxChange);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);

  KTop1 = Named(new TKTop(this), "KTop1");
}

TSecSetDlg::~TSecSetDlg() = default;

void TSecSetDlg::reject() {
  accept();
}

void TSecSetDlg::LoadFromModel() {
  const int index = model_.Algorithm >= 0 && model_.Algorithm < AlgoComboBox->count()
                        ? static_cast<int>(model_.Algorithm)
                        : -1;
  model_.Algorithm = index;
  {
    const QSignalBlocker blocker(AlgoComboBox);
    AlgoComboBox->setCurrentIndex(index);
  }
  FormPaint();
}

void TSecSetDlg::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) {
    LoadFromModel();
    BitBtn1->setFocus();
    layout()->activate();
    if (const QScreen* screen = this->screen()) {
      const QRect area = screen->availableGeometry();
      move(area.center() - QPoint(width() / 2, height() / 2));
    }
  }
  QDialog::showEvent(event);
}

// The level follows the slider at every movement.
void TSecSetDlg::SecTrackBarChange(int position) {
  model_.SecLevel = position;
  FormPaint();
}

void TSecSetDlg::AlgoComboBoxChange(int index) {
  model_.Algorithm = index;
  FormPaint();
}

// The slider shows the model's level kept within its range; a level outside is corrected in
// the model too. An empty selection leaves the algorithm's description as it was.
void TSecSetDlg::FormPaint() {
  const int level = std::clamp(static_cast<int>(model_.SecLevel), kMinLevel, kMaxLevel);
  model_.SecLevel = level;
  if (SecTrackBar->value() != level) {
    const QSignalBlocker blocker(SecTrackBar);
    SecTrackBar->setValue(level);
  }
  SecMemo->setPlainText(LevelDescription(level));
  const QString algorithm = AlgorithmDescription(AlgoComboBox->currentIndex());
  if (!algorithm.isEmpty()) AlgoMemo->setPlainText(algorithm);
}

} // namespace qk::windows
