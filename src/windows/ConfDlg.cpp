#include "windows/ConfDlg.h"

#include "core/BatchSettings.h"
#include "engine/Random.h"
#include "windows/KTop.h"
#include "windows/Manual.h"
#include "windows/MessageBoxes.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelection>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTableWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace qk::windows {

namespace {

constexpr int kClientWidth = 604;
constexpr int kClientHeight = 334;
constexpr int kLabelHeight = 42;
constexpr const char* kReasonLabel = "理由：";
// The caption of the output column after an encryption, as the decryption list has its own.
constexpr const char* kEncryptedNameCaption = "暗号化後ファイル名";
constexpr const char* kCollectingText = "ファイルを集めています…　";
constexpr qint64 kCollectPaintMs = 100;
constexpr qint64 kRunPumpMs = 30;
constexpr const char* kEncryptWipeNote =
    "※暗号化に成功すると、元のファイルは抹消されます（オプション「暗号化後に元ファイルを抹消する」"
    "がオン）。";
constexpr const char* kDecryptWipeNote =
    "※復号に成功すると、暗号化ファイルは抹消されます（オプション「復号後に元ファイルを抹消する」"
    "がオン）。";

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

// What screen readers call a column whose caption is empty in this mode.
const char* const kSpokenColumns[] = {"ファイル名", "パスワードヒント（復号のとき）",
                                      "復号後ファイル名（復号のとき）"};

void SetHeader(QTableWidget* table, int column, const std::string& text) {
  QTableWidgetItem* item = table->horizontalHeaderItem(column);
  const QString caption = Q(text);
  if (!item) {
    item = new QTableWidgetItem(caption);
    table->setHorizontalHeaderItem(column, item);
  } else if (item->text() != caption) {
    item->setText(caption);
  }
  item->setData(Qt::AccessibleTextRole, caption.isEmpty() ? Q(kSpokenColumns[column]) : caption);
}

// The width column needs to show its caption and the cells near the ones in view whole.
int NeededWidth(const QTableWidget* list, int column) {
  const QAbstractItemView* view = list; // where the hint is public
  return std::max({view->sizeHintForColumn(column),
                   list->horizontalHeader()->sectionSizeHint(column),
                   list->horizontalHeader()->minimumSectionSize()});
}

} // namespace

TConfirmationDlg::TConfirmationDlg(settings::SettingsModel& model, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), model_(model),
      run_(*this, options_, engine::Random::Program()) {
  setObjectName("ConfirmationDlg");
  AddManualKey(this, [this] {
    switch (run_.State().Mode) {
    case engine::OperationMode::Decrypt:
      return QStringLiteral("decrypt");
    case engine::OperationMode::Wipe:
      return QStringLiteral("wipe");
    default:
      return QStringLiteral("encrypt");
    }
  });
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
  // Starts at its classic size; the user may make it larger (long paths, the decrypted names)
  // and it keeps that size for the next list.
  resize(kClientWidth, kClientHeight);
  setMinimumSize(kClientWidth * 2 / 3, kClientHeight * 2 / 3);
  setSizeGripEnabled(true);
  // Off until a list is shown.
  KTop = new TKTop(this);
  KTop->setObjectName("KTop");
  KTop->SetKTop(false);

  ListView = new QTableWidget(0, 3, this);
  ListView->setObjectName("ListView");
  ListView->setAccessibleName(Q("ファイルの一覧"));
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
  ListView->installEventFilter(this);
  // The columns follow the width of the list.
  ListView->viewport()->installEventFilter(this);
  connect(ListView, &QTableWidget::itemSelectionChanged, this,
          &TConfirmationDlg::ListViewSelectionChanged);
  // The row moved to is current only once its selection has been told.
  connect(ListView, &QTableWidget::currentCellChanged, this, [this] {
    if (!mirroringSelection_) ShowSelectedReason();
  });

  // Says before a run when the sources are wiped after it, on a line of its own.
  WipeNoteLabel = new QLabel(this);
  WipeNoteLabel->setObjectName("WipeNoteLabel");
  WipeNoteLabel->setWordWrap(true);
  WipeNoteLabel->hide();

  Label1 = new QLabel(this);
  Label1->setObjectName("Label1");
  // It shows paths and reasons from outside as they are.
  Label1->setTextFormat(Qt::PlainText);
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
  layout->addWidget(WipeNoteLabel);
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

void TConfirmationDlg::BeginCollecting() {
  collecting_ = true;
  pumpClock_.start();
  QGuiApplication::setOverrideCursor(Qt::WaitCursor);
  setEnabled(false);
  Label1->setText(Q(kCollectingText) + "0");
  show();
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TConfirmationDlg::Collected(std::size_t count) {
  // A few times a second: the count and whatever the window has to paint.
  if (pumpClock_.elapsed() < kCollectPaintMs) return;
  pumpClock_.restart();
  Label1->setText(Q(kCollectingText) + QString::number(count));
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TConfirmationDlg::EndCollecting() {
  collecting_ = false;
  setEnabled(true);
  QGuiApplication::restoreOverrideCursor();
  Changed();
}

void TConfirmationDlg::SyncOptions() {
  core::SyncBatchOptions(model_, options_);
}

// ---- What the run asks of its window ----

void TConfirmationDlg::ShowProgress(const std::string& text) {
  Label1->setText(Q(text));
}

void TConfirmationDlg::ProcessMessages() {
  // Painting the window for every small file would cost more than the file, so messages run at
  // most every few dozen milliseconds; a click still gets its answer within a frame or two. An
  // interval of 0 or 1 asks for every chance to be taken.
  if (model_.ProcessMsgInterval > 1 && pumpClock_.isValid() && pumpClock_.elapsed() < kRunPumpMs)
    return;
  pumpClock_.start();
  ApplyPendingChanges();
  QCoreApplication::processEvents();
  // The events may have changed a setting; the run reads the value of the moment.
  SyncOptions();
}

bool TConfirmationDlg::Confirm(const std::string& text) {
  ApplyPendingChanges();
  return AskYesNo(this, Q(text));
}

std::optional<engine::BatchHost::PasswordAnswer> TConfirmationDlg::AskPassword(bool forDecrypt) {
  ApplyPendingChanges();
  if (!askPassword_) return std::nullopt;
  return askPassword_(forDecrypt);
}

void TConfirmationDlg::ClearPasswordFields(bool password, bool hint) {
  if (clearPassword_) clearPassword_(password, hint);
}

void TConfirmationDlg::Changed() {
  // While files are collected the rows wait for the end of it.
  if (collecting_) return;
  // While a run goes, its many small changes (a caption, a row, the skip button shown and hidden
  // for every file) are shown together when the window next paints.
  if (running_ && !Idle()) {
    changesPending_ = true;
    return;
  }
  ApplyChanges();
}

void TConfirmationDlg::ApplyPendingChanges() {
  if (changesPending_) ApplyChanges();
}

void TConfirmationDlg::ApplyChanges() {
  changesPending_ = false;
  SyncOptions();
  const engine::DialogState& d = run_.Dialog();

  const QString caption = Q(d.Caption);
  if (windowTitle() != caption) setWindowTitle(caption);
  MirrorRows();
  ShowColumns();
  // The label otherwise shows what the run reports through ShowProgress; only a new question or
  // closing text replaces it here.
  if (d.Label1 != mirroredLabel1_) {
    mirroredLabel1_ = d.Label1;
    reasonShown_ = false;
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

  ShowWipeNote();

  const bool running = !Idle();
  if (running != running_) {
    running_ = running;
    // After a run the columns share the width anew, for results and output names.
    if (!running) FitColumns();
    emit RunningChanged(running);
  }
  // A new list, a new mode: once the changes of the moment are all in.
  if (!running) QueueFitColumns();
}

// A column shows only when it has something to say: the hints and the decrypted names of a
// decryption, the containers written by an encryption once there are any.
void TConfirmationDlg::ShowColumns() {
  const engine::DialogState& d = run_.Dialog();
  const bool encrypting = run_.State().Mode == engine::OperationMode::Encrypt;
  SetHeader(ListView, 1, d.Column1Caption);
  SetHeader(ListView, 2,
            d.Column2Caption.empty() && encrypting ? kEncryptedNameCaption : d.Column2Caption);
  const bool hints = !d.Column1Caption.empty();
  const bool outputs = !d.Column2Caption.empty() || (encrypting && outputRows_ > 0);
  if (ListView->isColumnHidden(1) == hints || ListView->isColumnHidden(2) == outputs) {
    ListView->setColumnHidden(1, !hints);
    ListView->setColumnHidden(2, !outputs);
    QueueFitColumns();
  }
}

std::string TConfirmationDlg::OutputName(const engine::ListEntry& entry) {
  if (!entry.Sub2.empty()) return entry.Sub2;
  // An encryption's container, by the name it got.
  if (run_.State().Mode == engine::OperationMode::Encrypt && entry.Result &&
      engine::Succeeded(entry.Result->outcome))
    return entry.Result->output;
  return std::string();
}

void TConfirmationDlg::ShowWipeNote() {
  const engine::RunState& state = run_.State();
  QString note;
  if (state.ListEditable && Idle()) {
    if (state.Mode == engine::OperationMode::Encrypt && options_.WipeSource)
      note = Q(kEncryptWipeNote);
    else if (state.Mode == engine::OperationMode::Decrypt && options_.WipeDecSource)
      note = Q(kDecryptWipeNote);
  }
  if (WipeNoteLabel->text() != note) WipeNoteLabel->setText(note);
  WipeNoteLabel->setVisible(!note.isEmpty());
}

void TConfirmationDlg::QueueFitColumns() {
  if (fitQueued_) return;
  fitQueued_ = true;
  QMetaObject::invokeMethod(
      this,
      [this] {
        fitQueued_ = false;
        FitColumns();
      },
      Qt::QueuedConnection);
}

void TConfirmationDlg::FitColumns() {
  const int least = ListView->horizontalHeader()->minimumSectionSize();
  int room = ListView->viewport()->width();
  // The hints take what they need, up to a quarter of the list.
  const int hint = ListView->isColumnHidden(1)
                       ? 0
                       : std::clamp(NeededWidth(ListView, 1), least, std::max(least, room / 4));
  room = std::max(room - hint, 2 * least);
  if (ListView->isColumnHidden(2)) {
    ListView->setColumnWidth(0, room);
    if (hint != 0) ListView->setColumnWidth(1, hint);
    return;
  }
  // The file names and the output names share the rest. What both need fits: each grows by its
  // part of what is left over. Otherwise one that needs less than half keeps its width, and the
  // other takes the rest; two long ones take half each, and lose their middles.
  const int name = NeededWidth(ListView, 0);
  const int output = NeededWidth(ListView, 2);
  int nameWidth = room / 2;
  if (name + output <= room)
    nameWidth = static_cast<int>(static_cast<long long>(room) * name / (name + output));
  else if (name <= room / 2)
    nameWidth = name;
  else if (output <= room / 2)
    nameWidth = room - output;
  nameWidth = std::clamp(nameWidth, least, room - least);
  ListView->setColumnWidth(0, nameWidth);
  if (hint != 0) ListView->setColumnWidth(1, hint);
  ListView->setColumnWidth(2, room - nameWidth);
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
  const engine::BatchRun& run = run_;
  const std::vector<engine::ListEntry>& entries = run.Entries();
  const engine::BatchRun::Touched touched = run_.TakeTouched();
  const int count = static_cast<int>(entries.size());
  const int old = ListView->rowCount();
  // Only rows that changed are looked at: a run over a long list stays as fast as a short one.
  std::size_t first = touched.first;
  std::size_t last = std::min(touched.last, static_cast<std::size_t>(old));
  if (touched.reshaped || count < old) {
    first = 0;
    last = static_cast<std::size_t>(std::min(old, count));
  }
  // Many new rows at once (a collected folder) are put in without a repaint for each.
  const bool many = count - old > 64;
  if (many) ListView->setUpdatesEnabled(false);
  if (old != count) {
    for (std::size_t i = entries.size(); i < rows_.size(); ++i)
      if (!rows_[i].Sub2.empty()) --outputRows_;
    ListView->setRowCount(count);
    rows_.resize(entries.size());
  }
  for (int row = old; row < count; ++row) {
    const engine::ListEntry& entry = entries[static_cast<std::size_t>(row)];
    const std::string output = OutputName(entry);
    ListView->setItem(row, 0, NewCell(entry.Caption));
    ListView->setItem(row, 1, NewCell(entry.Sub1));
    ListView->setItem(row, 2, NewCell(output));
    if (!output.empty()) ++outputRows_;
    rows_[static_cast<std::size_t>(row)] = {entry.Caption, entry.Sub1, output};
    ShowReason(row, entry);
  }
  if (many) ListView->setUpdatesEnabled(true);
  for (std::size_t i = first; i < last; ++i) {
    const engine::ListEntry& entry = entries[i];
    MirroredRow& shown = rows_[i];
    const int row = static_cast<int>(i);
    if (shown.Caption != entry.Caption) {
      shown.Caption = entry.Caption;
      SetCell(ListView->item(row, 0), entry.Caption);
      ShowReason(row, entry);
    }
    if (shown.Sub1 != entry.Sub1) {
      shown.Sub1 = entry.Sub1;
      SetCell(ListView->item(row, 1), entry.Sub1);
    }
    std::string output = OutputName(entry);
    if (shown.Sub2 != output) {
      outputRows_ += static_cast<int>(!output.empty()) - static_cast<int>(!shown.Sub2.empty());
      shown.Sub2 = std::move(output);
      SetCell(ListView->item(row, 2), shown.Sub2);
    }
  }
  // Selections change with the list's shape only (new rows come unselected).
  if (touched.reshaped) MirrorSelection();
}

// A failed entry tells why: in its tooltip, below its caption, and to screen readers as the
// row's description; the reason the system gave.
void TConfirmationDlg::ShowReason(int row, const engine::ListEntry& entry) {
  const std::string reason = entry.Result ? engine::FailureReason(*entry.Result) : std::string();
  const QString why = reason.empty() ? QString() : Q(kReasonLabel) + Q(reason);
  if (!why.isEmpty()) ListView->item(row, 0)->setToolTip(ShownText(entry.Caption) + "\n" + why);
  for (int column = 0; column < ListView->columnCount(); ++column) {
    QTableWidgetItem* item = ListView->item(row, column);
    if (!why.isEmpty() || item->data(Qt::AccessibleDescriptionRole).isValid())
      item->setData(Qt::AccessibleDescriptionRole, why);
  }
}

// The reason of the row chosen with the keyboard or the mouse, in the line under the list; the
// run's text comes back when a row without one is chosen.
void TConfirmationDlg::ShowSelectedReason() {
  const int row = ListView->currentRow();
  QString why;
  if (row >= 0 && ListView->selectionModel()->isRowSelected(row, QModelIndex()))
    why = ListView->item(row, 0)->data(Qt::AccessibleDescriptionRole).toString();
  if (!why.isEmpty() && Idle()) {
    Label1->setText(why);
    reasonShown_ = true;
  } else if (reasonShown_) {
    reasonShown_ = false;
    Label1->setText(Q(run_.Dialog().Label1));
  }
}

void TConfirmationDlg::MirrorSelection() {
  const std::vector<engine::ListEntry>& entries = std::as_const(run_).Entries();
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
  ShowSelectedReason();
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
    // The row with the focus mark is the one chosen, so that Delete takes it out.
    if (ListView->rowCount() > 0 && !ListView->selectionModel()->hasSelection())
      ListView->selectRow(0);
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
  // During a run the button stops it: the entry under way ends at its next block, and the list
  // then shows what was done.
  if (!Idle()) {
    run_.Stop();
    return;
  }
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
  if (watched == ListView->viewport() && event->type() == QEvent::Resize) FitColumns();
  if (watched == ListView->viewport() && event->type() == QEvent::ToolTip) {
    // A cell's whole text, as it is and within the screen however long it is.
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = ListView->indexAt(help->pos());
    const QString tip = index.isValid() ? index.data(Qt::ToolTipRole).toString() : QString();
    ShowPlainToolTip(help->globalPos(), tip, ListView->viewport(), ListView->visualRect(index));
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TConfirmationDlg::closeEvent(QCloseEvent* event) {
  // A close request during a run stops it; the window stays to show what was done.
  if (!Idle()) {
    run_.Stop();
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
  CloseBitBtnClick();
}

} // namespace qk::windows
