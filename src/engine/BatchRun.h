// The confirmation list and its run: entries with their captions and sub-columns, the question
// for the mode, the run over every entry with its result texts, source wiping, removal of
// entries before a run, and re-encryption after a decryption run. The window only mirrors the
// state held here and answers the questions asked through the host.
#pragma once

#include "engine/ChunkRun.h"
#include "engine/FileEngine.h"
#include "engine/Host.h"
#include "engine/Random.h"
#include "engine/RunState.h"

#include <atomic>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qk::engine {

inline constexpr const char* kAllDone = "全てのファイル/フォルダを正常に処理しました。";
// The closing text of a run in which failures entries failed.
std::string FinishedText(int failures);
// The closing text of a run that was stopped with notReached entries not processed.
std::string StoppedText(int failures, std::size_t notReached);

// What the run asks of its window beyond the engine's needs.
class BatchHost : public EngineHost {
public:
  struct PasswordAnswer {
    platform::SecretText password;
    std::string hint;
  };
  // Confirmation with Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // The password dialog, modal; none when it was not left with OK.
  virtual std::optional<PasswordAnswer> AskPassword(bool forDecrypt) = 0;
  // Empties the password dialog's password fields and/or its hint field.
  virtual void ClearPasswordFields(bool password, bool hint) = 0;
  // The list or the state of the controls changed; the window redraws from the run.
  virtual void Changed() = 0;
  // The window closes; the window that filled the list shows again.
  virtual void ShowReturnForm() = 0;
  // The run ends the program (switches "-F" and "-I").
  virtual void EndProgram() = 0;
  // Whether the list is shown: a host that never shows it has no stored hints read for it.
  virtual bool ShowsList() const { return true; }
};

// Shows nothing, asks nothing (every question is answered No, the password dialog cancelled).
class NullBatchHost : public BatchHost {
public:
  void ShowProgress(const std::string&) override {}
  void ProcessMessages() override {}
  bool Confirm(const std::string&) override { return false; }
  std::optional<PasswordAnswer> AskPassword(bool) override { return std::nullopt; }
  void ClearPasswordFields(bool, bool) override {}
  void Changed() override {}
  void ShowReturnForm() override {}
  void EndProgram() override {}
};

// Options read at the moment the run acts on them.
struct BatchOptions {
  EngineSettings Engine;
  bool WipeSource = true;
  bool WipeDecSource = true;
  bool ReEnc = true;
  bool SaveHint = true;
  bool DontClearPassBox = false;
  bool AddHMAC = true;
  std::int32_t Algorithm = 0;
  std::int32_t NameMode = 0;
  std::string OwnExtStr = ".bmp";
  // How many chunks of the list go at once, each on a thread of its own beside the caller's,
  // which keeps the host's calls; 1 runs every chunk on the caller's thread.
  unsigned Jobs = 1;
  // Files found in a folder whose work an earlier run did are not done again (a run broken off
  // and started again): a container is not encrypted again, a file whose output beside it holds
  // exactly what it would write is not written again, and only its source's wipe is done.
  bool Resume = false;
};

struct ListEntry {
  std::string Caption; // the path, or after processing the result text followed by the path
  std::string Path;    // the file the entry stands for
  std::string Sub1;    // decrypt mode: the stored hint
  std::string Sub2;    // after a decryption: the decrypted file
  bool Selected = false;
  std::optional<FileResult> Result; // after processing: what happened
  // Non-zero: the entry stands for a folder that could not be read (the errno why); its run
  // only reports it as failed.
  int FolderError = 0;
  // Found by expanding a folder, not named on its own.
  bool FromFolder = false;
};

// Enabled and visible states of the dialog's controls, and its texts.
struct DialogState {
  std::string Caption;
  std::string Label1;
  std::string Column1Caption;
  std::string Column2Caption;
  std::string CloseCaption = "キャンセル";
  bool DialogEnabled = true;
  bool ListEnabled = true;
  bool OKVisible = true;
  bool OKEnabled = true;
  bool CloseEnabled = true;
  bool CloseFocused = false;
  bool SkipWipeVisible = false;
  bool SkipWipeEnabled = false;
  bool ReEncVisible = false;
  bool ReEncEnabled = false;
  bool KeepOnTop = false;
};

class BatchRun : private ChunkHost {
public:
  BatchRun(BatchHost& host, BatchOptions& options, Random& random);

  RunState& State() { return state_; }
  const DialogState& Dialog() const { return dialog_; }
  // Direct access may change any entry: the window looks at every row at its next change.
  std::vector<ListEntry>& Entries() {
    touched_.reshaped = true;
    return entries_;
  }
  const std::vector<ListEntry>& Entries() const { return entries_; }

  // The entries changed since the window last asked: those in [first, last), and with reshaped
  // any of them (the list was cleared, entries were removed or all of them renamed). A window
  // mirrors only these, so that a change costs the same in a list of any length.
  struct Touched {
    std::size_t first = 0;
    std::size_t last = 0;
    bool reshaped = false;
  };
  Touched TakeTouched() { return std::exchange(touched_, Touched{}); }
  FileEngine& Engine() { return engine_; }
  int FailureCount() const { return failures_; }
  // A run is going: from the start of the work over the entries to the closing text.
  bool Running() const { return running_; }

  void ClearList();
  // Appends an entry; in decrypt mode reads the hint stored in the file (or the text of why it
  // could not be read). fromFolder: found by expanding a folder.
  void AddFile(const std::string& path, bool fromFolder = false);
  // Appends an entry for a folder whose files could not be listed (error: the errno why); the
  // run counts it as a failure.
  void AddUnreadableFolder(const std::string& path, int error);
  // Captions and question for the list and mode; starts the run at once with AutoRun.
  void ShowList();
  // The OK button: the run over every entry.
  void RunBatch();
  // The Delete key: removes the selected entries while the list is editable.
  void DeleteSelected();
  void SkipWipe();
  // Asks the run under way to stop: no entry is begun after it, the one under way ends at its
  // next block, and no source whose wipe has not begun is touched. Safe from a signal handler
  // (StopFlag) and from any thread.
  void Stop() { stop_.store(true); }
  std::atomic<bool>& StopFlag() { return stop_; }
  // The last run stopped before its end; the entries it did not process.
  bool Stopped() const { return stopped_; }
  std::size_t NotReached() const { return notReached_; }
  // The re-encrypt button after a decryption run.
  void ReEncrypt();
  // The dialog closes.
  void Close();

private:
  // The operations' host: the window's, and a run that is to stop cuts a wipe under way short.
  class Pump : public EngineHost {
  public:
    explicit Pump(BatchRun& run) : run_(run) {}
    void ShowProgress(const std::string& text) override { run_.host_.ShowProgress(text); }
    void ProcessMessages() override;

  private:
    BatchRun& run_;
  };
  struct Jobs;

  // ChunkHost.
  void Began(std::size_t index, const char* suffix) override;
  void Wiping(bool on) override;

  void SetCaption(std::size_t index, const char* suffix);
  void Touch(std::size_t index);
  // The entry's decided result, its caption and the count of failures.
  void Record(Finished finished);
  // The chunks of the list on this thread, or in jobs beside it.
  void RunChunks(const std::vector<std::pair<std::size_t, std::size_t>>& chunks);
  void RunInJobs(const std::vector<std::pair<std::size_t, std::size_t>>& chunks, unsigned jobs);
  void Finish();

  BatchHost& host_;
  BatchOptions& options_;
  Random& random_;
  RunState state_;
  Pump pump_{*this};
  FileEngine engine_;
  DialogState dialog_;
  std::vector<ListEntry> entries_;
  int failures_ = 0;
  bool running_ = false;
  std::atomic<bool> stop_{false};
  // Skip presses, counted: each job's wipe under way sees a new one.
  std::atomic<unsigned> skips_{0};
  bool stopped_ = false;
  std::size_t notReached_ = 0;
  // The place of each entry the run takes among them, and their count, for the caption.
  std::vector<std::size_t> place_;
  std::size_t taken_ = 0;
  // The entries whose result this run decided.
  std::vector<bool> decided_;
  Touched touched_;
};

} // namespace qk::engine
