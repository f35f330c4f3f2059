#include "windows/ConfDlg.h"

#include "core/BatchSettings.h"
#include "engine/Random.h"
#include "windows/KTop.h"
#include "windows/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

namespace qk::windows {

namespace {

constexpr int kClientWidth = 604;
constexpr int kClientHeight = 334;
constexpr int kLabelHeight = 42;
constexpr int kNameColumnWidth = 450;
constexpr int kSubColumnWidth = 200;

// A cell of the list: one line, whatever the text holds, and the whole of it as the tooltip
// when the column is too narrow.
void SetCell(QTableWidgetItem* item, const std::string& text) {
  const QString shown = ShownText(text);
  item->setText(shown);
  item->setToolTip(shown);
}

QTableWidgetItem* NewCell(const std::string& text) {
  auto* item = new QTableWidgetItem;
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
  SetCell(item, text);
  return item;
}

void SetHeader(QTableWidget* table, int column, const std::string& text) {
  QTableWidgetItem* item = table->horizontalHeaderItem(column);
  const QString caption = Q(text);
  if (!item) {
    table->setHorizontalHeaderItem(column, new QTableWidgetItem(caption));
  } else if (item->text() != caption) {
    item->setText(caption);
  }
}

} // namespace

TConfirmationDlg::TConfirmationDlg(settings::SettingsModel& model, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), model_(model),
      run_(*this, options_, engine::Random::Program()) {
  setObjectName("ConfirmationDlg");
  setModal(false);
  SyncOptions();
  BuildControls();
  TConfirmationDlg::Changed();

  // Centred on the screen once; later shows keep the place the user left it at.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(kClientWidth / 2, kClientHeight / 2));
  }
}

TConfirmationDlg::~TConfirmationDlg() = default;

void TConfirmationDlg::BuildControls() {
  setFixedSize(kClientWidth, kClientHeight);
  // Off until a list is shown.
  KTop = new TKTop(this);
  KTop->setObjectName("KTop");
  KTop->SetKTop(false);

  ListView = new QTableWidget(0, 3, this);
  ListView->setObjectName("ListView");
  ListView->setShowGrid(true);
  ListView->setSelectionBehavior(QAbstractItemView::SelectRows);
  ListView->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListView->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ListView->setTabKeyNavigation(false);
  ListView->setWordWrap(false);
  // Long paths lose their middle, so that the file name stays in view.
  ListView->setTextElideMode(Qt::ElideMiddle);
  ListView->verticalHeader()->hide();
  ListView->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  ListView->verticalHeader()->setDefaultSectionSize(ListView->fontMetrics().height() + 6);
  QHeaderView* header = ListView->horizontalHeader();
  header->setSectionsClickable(false);
  header->setSectionsMovable(false);
  header->setHighlightSections(false);
  header->setStretchLastSection(false);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  SetHeader(ListView, 0, "ファイル名");
  SetHeader(ListView, 1, "");
  SetHeader(ListView, 2, "");
  ListView->setColumnWidth(0, kNameColumnWidth);
  ListView->setColumnWidth(1, kSubColumnWidth);
  ListView->setColumnWidth(2, kSubColumnWidth);
  ListView->installEventFilter(this);
  connect(ListView, &QTableWidget::itemSelectionChanged, this,
          &TConfirmationDlg::ListViewSelectionChanged);

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  Label1->setWordWrap(true);
  Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label1->setFixedHeight(kLabelHeight);

  auto makeButton = [this](const char* name, const char* caption) {
    auto* button = new QPushButton(QString::fromUtf8(caption), this);
    button->setObjectName(name);
    button->setMinimumWidth(88);
    return button;
  };
  OKBitBtn = makeButton("OKBitBtn", "OK");
  OKBitBtn->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  OKBitBtn->setDefault(true);
  CloseBitBtn = makeButton("CloseBitBtn", "キャンセル");
  CloseBitBtn->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  SkipWipeBitBtn = makeButton("SkipWipeBitBtn", "抹消をスキップ");
  ReEncBitBtn = makeButton("ReEncBitBtn", "再暗号化");
  connect(OKBitBtn, &QPushButton::clicked, this, &TConfirmationDlg::OKBitBtnClick);
  connect(CloseBitBtn, &QPushButton::clicked, this, &TConfirmationDlg::CloseBitBtnClick);
  connect(SkipWipeBitBtn, &QPushButton::clicked, this, &TConfirmationDlg::SkipWipeBitBtnClick);
  connect(ReEncBitBtn, &QPushButton::clicked, this, &TConfirmationDlg::ReEncBitBtnClick);

  auto* buttons = new QHBoxLayout;
  buttons->setSpacing(6);
  buttons->addWidget(ReEncBitBtn);
  buttons->addWidget(SkipWipeBitBtn);
  buttons->addStretch(1);
  buttons->addWidget(OKBitBtn);
  buttons->addWidget(CloseBitBtn);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 6);
  layout->setSpacing(4);
  layout->addWidget(ListView, 1);
  layout->addWidget(Label1);
  layout->addLayout(buttons);
}

void TConfirmationDlg::SetPasswordDialog(PasswordAsker ask, PasswordClearer clear) {
  askPassword_ = std::move(ask);
  clearPassword_ = std::move(clear);
}

void TConfirmationDlg::SetReturnForm(QWidget* form) {
  returnForm_ = form;
}

void TConfirmationDlg::SyncOptions() {
  core::SyncBatchOptions(model_, options_);
}

// ---- What the run asks of its window ----

void TConfirmationDlg::ShowProgress(const std::string& text) {
  Label1->setText(Q(text));
}

void TConfirmationDlg::ProcessMessages() {
  QCoreApplication::processEvents();
  // The events may have changed a setting; the run reads the value of the moment.
  SyncOptions();
}

bool TConfirmationDlg::Confirm(const std::string& text) {
  return AskYesNo(this, Q(text));
}

std::optional<engine::BatchHost::PasswordAnswer> TConfirmationDlg::AskPassword(bool forDecrypt) {
  if (!askPassword_) return std::nullopt;
  return askPassword_(forDecrypt);
}

void TConfirmationDlg::ClearPasswordFields(bool password, bool hint) {
  if (clearPassword_) clearPassword_(password, hint);
}

void TConfirmationDlg::Changed() {
  SyncOptions();
  const engine::DialogState& d = run_.Dialog();

  const QString caption = Q(d.Caption);
  if (windowTitle() != caption) setWindowTitle(caption);
  SetHeader(ListView, 1, d.Column1Caption);
  SetHeader(ListView, 2, d.Column2Caption);
  MirrorRows();
  MirrorSelection();
  // The label otherwise shows what the run reports through ShowProgress; only a new question or
  // closing text replaces it here.
  if (d.Label1 != mirroredLabel1_) {
    mirroredLabel1_ = d.Label1;
    Label1->setText(Q(d.Label1));
  }

  // While the run goes the window takes no input; during a source wipe the skip button alone
  // comes alive. The dialog itself stays enabled so that this one child can be.
  const bool live = d.DialogEnabled;
  ListView->setEnabled(live && d.ListEnabled);
  OKBitBtn->setVisible(d.OKVisible);
  OKBitBtn->setEnabled(live && d.OKEnabled);
  // Whenever OK is shown, Enter presses it, also after the close button had the focus.
  if (d.OKVisible && !OKBitBtn->isDefault()) {
    CloseBitBtn->setDefault(false);
    OKBitBtn->setDefault(true);
  }
  CloseBitBtn->setText(Q(d.CloseCaption));
  CloseBitBtn->setEnabled(live && d.CloseEnabled);
  SkipWipeBitBtn->setVisible(d.SkipWipeVisible);
  SkipWipeBitBtn->setEnabled(live && d.SkipWipeEnabled);
  ReEncBitBtn->setVisible(d.ReEncVisible);
  ReEncBitBtn->setEnabled(live && d.ReEncEnabled);

  // The focus goes to the close button when it comes alive at the end of a run.
  const bool closeLive = live && d.CloseEnabled;
  if (d.CloseFocused && closeLive && !closeWasLive_) CloseBitBtn->setFocus(Qt::OtherFocusReason);
  closeWasLive_ = closeLive;

  SetKeepOnTop(d.KeepOnTop);

  const bool running = !Idle();
  if (running != running_) {
    running_ = running;
    emit RunningChanged(running);
  }
}

void TConfirmationDlg::ShowReturnForm() {
  // Inside closeEvent the window is being hidden by Qt already.
  if (!closing_) hide();
  if (returnForm_) returnForm_->show();
}

void TConfirmationDlg::EndProgram() {
  emit EndProgramRequested();
}

// ---- Mirroring ----

void TConfirmationDlg::MirrorRows() {
  const std::vector<engine::ListEntry>& entries = run_.Entries();
  const int count = static_cast<int>(entries.size());
  const int old = ListView->rowCount();
  if (old != count) {
    ListView->setRowCount(count);
    rows_.resize(entries.size());
  }
  for (int row = 0; row < count; ++row) {
    const engine::ListEntry& entry = entries[static_cast<std::size_t>(row)];
    MirroredRow& shown = rows_[static_cast<std::size_t>(row)];
    if (row >= old) {
      ListView->setItem(row, 0, NewCell(entry.Caption));
      ListView->setItem(row, 1, NewCell(entry.Sub1));
      ListView->setItem(row, 2, NewCell(entry.Sub2));
      shown = {entry.Caption, entry.Sub1, entry.Sub2};
      continue;
    }
    if (shown.Caption != entry.Caption) {
      shown.Caption = entry.Caption;
      SetCell(ListView->item(row, 0), entry.Caption);
    }
    if (shown.Sub1 != entry.Sub1) {
      shown.Sub1 = entry.Sub1;
      SetCell(ListView->item(row, 1), entry.Sub1);
    }
    if (shown.Sub2 != entry.Sub2) {
      shown.Sub2 = entry.Sub2;
      SetCell(ListView->item(row, 2), entry.Sub2);
    }
  }
}

void TConfirmationDlg::MirrorSelection() {
  const std::vector<engine::ListEntry>& entries = run_.Entries();
  QItemSelectionModel* selection = ListView->selectionModel();
  bool same = true;
  for (std::size_t i = 0; i < entries.size() && same; ++i) {
    same = entries[i].Selected == selection->isRowSelected(static_cast<int>(i), QModelIndex());
  }
  if (same) return;
  QItemSelection wanted;
  const int lastColumn = ListView->columnCount() - 1;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (!entries[i].Selected) continue;
    const int row = static_cast<int>(i);
    wanted.select(ListView->model()->index(row, 0), ListView->model()->index(row, lastColumn));
  }
  mirroringSelection_ = true;
  selection->select(wanted, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  mirroringSelection_ = false;
}

void TConfirmationDlg::ListViewSelectionChanged() {
  if (mirroringSelection_) return;
  std::vector<engine::ListEntry>& entries = run_.Entries();
  if (static_cast<int>(entries.size()) != ListView->rowCount()) return;
  const QItemSelectionModel* selection = ListView->selectionModel();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i].Selected = selection->isRowSelected(static_cast<int>(i), QModelIndex());
  }
}

void TConfirmationDlg::SetKeepOnTop(bool on) {
  if (on == keepOnTop_) return;
  keepOnTop_ = on;
  KTop->SetKTop(on);
  if (on) {
    // A list has just been shown: the window comes to the front with the list focused.
    raise();
    activateWindow();
    ListView->setFocus(Qt::OtherFocusReason);
  }
}

bool TConfirmationDlg::Idle() const {
  return !run_.Running();
}

// ---- Handlers ----

void TConfirmationDlg::OKBitBtnClick() {
  const engine::DialogState& d = run_.Dialog();
  if (!d.DialogEnabled || !d.OKVisible || !d.OKEnabled) return;
  SyncOptions();
  run_.RunBatch();
}

void TConfirmationDlg::CloseBitBtnClick() {
  close();
}

void TConfirmationDlg::SkipWipeBitBtnClick() {
  const engine::DialogState& d = run_.Dialog();
  if (!d.DialogEnabled || !d.SkipWipeEnabled) return;
  run_.SkipWipe();
}

void TConfirmationDlg::ReEncBitBtnClick() {
  const engine::DialogState& d = run_.Dialog();
  if (!d.DialogEnabled || !d.ReEncVisible || !d.ReEncEnabled) return;
  SyncOptions();
  run_.ReEncrypt();
}

bool TConfirmationDlg::ListViewKeyDown(QKeyEvent* event) {
  if (event->key() != Qt::Key_Delete) return false;
  if (!run_.State().ListEditable || !ListView->isEnabled()) return false;
  ListViewSelectionChanged();
  run_.DeleteSelected();
  return true;
}

void TConfirmationDlg::FormClose() {
  run_.Close();
}

bool TConfirmationDlg::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ListView && event->type() == QEvent::KeyPress) {
    if (ListViewKeyDown(static_cast<QKeyEvent*>(event))) return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TConfirmationDlg::closeEvent(QCloseEvent* event) {
  // No way out while a run goes: it has no cancel, and the window has to see it to its end.
  if (!Idle()) {
    event->ignore();
    return;
  }
  closing_ = true;
  FormClose();
  closing_ = false;
  event->accept();
}

void TConfirmationDlg::reject() {
  // Escape and the window manager's close request take the same road as the close button.
  if (Idle()) close();
}

} // namespace qk::windows
