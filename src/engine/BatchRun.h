// The confirmation list and its run: entries with their captions and sub-columns, the question
// for the mode, the run over every entry with its result texts, source wiping, removal of
// entries before a run, and re-encryption after a decryption run. The window only mirrors the
// state held here and answers the questions asked through the host.
#pragma once

#include "engine/FileEngine.h"
#include "engine/Host.h"
#include "engine/Random.h"
#include "engine/RunState.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qk::engine {

inline constexpr const char* kAllDone = "全てのファイル/フォルダを正常に処理しました。";
// The closing text of a run in which failures entries failed.
std::string FinishedText(int failures);

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

class BatchRun {
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
  // could not be read).
  void AddFile(const std::string& path);
  // Appends an entry for a folder whose files could not be listed (error: the errno why); the
  // run counts it as a failure.
  void AddUnreadableFolder(const std::string& path, int error);
  // Captions and question for the list and mode; starts the run at once with AutoRun.
  void ShowList();
  // The OK button: the run over every entry.
  void RunBatch();
  // The Delete key: removes the selected entries while the list is editable.
  void DeleteSelected();
  void SkipWipe() { state_.SkipWipe = true; }
  // The re-encrypt button after a decryption run.
  void ReEncrypt();
  // The dialog closes.
  void Close();

private:
  // What is left of an entry once its output is durable: the wipe of its source, only while it
  // is still the file stamp describes, and after a decryption the output's move to the
  // container's name once the container is gone.
  struct Settling {
    bool wipe = false;
    platform::FileStamp stamp;
    bool renameAfter = false;
    // An output held nameless by the group is proved only once it is durable and named: the
    // digest of the plaintext it must hold, and after a decryption whether the name it got
    // stands for its container's.
    FileEngine::PlainDigest digest{};
    std::shared_ptr<bool> renameAfterOfHeld;
  };
  void SetCaption(std::size_t index, const char* suffix);
  void Touch(std::size_t index);
  // The entry's result, its caption and the count of failures.
  void Record(std::size_t index, FileResult result);
  FileResult EncryptEntry(ListEntry& entry, Settling& settling,
                          std::optional<FileEngine::Held>& held);
  FileResult DecryptEntry(ListEntry& entry, Settling& settling,
                          std::optional<FileEngine::Held>& held);
  FileResult WipeEntry(ListEntry& entry);
  // Hands what is left of a successful entry to the durable group: it is done once the entry's
  // output is durable, and its result completed then.
  void Settle(std::size_t index, const Settling& settling);
  // Hands a successful entry's nameless output to the durable group: its data is flushed with
  // the others', then it is named, and Landed completes the entry.
  void Hold(std::size_t index, const Settling& settling, FileEngine::Held held);
  void Landed(std::size_t index, Settling settling, int error,
              platform::DurableGroup::Output& output);
  void Settled(std::size_t index, const Settling& settling, int flushError);
  void RemoveOutput(const std::string& output);
  // Wipes a source after a successful operation, while it is still the file stamp describes:
  // overwrites it, and hands the overwrite to the group, whose flush makes it durable with the
  // others before the name goes (SourceOverwritten); what became of it goes into the entry's
  // result.
  void WipeSource(std::size_t index, const Settling& settling);
  void SourceOverwritten(std::size_t index, const Settling& settling, int flushError);
  // The rest of a successful entry once its source is dealt with: the decrypted file takes the
  // container's name once the container is gone.
  void Completed(std::size_t index, const Settling& settling, FileResult result);
  // Whether the run's sources go once their outputs are durable: the option of the mode, unless
  // the run keeps them.
  bool WipesSources() const;
  void Finish();

  BatchHost& host_;
  BatchOptions& options_;
  Random& random_;
  RunState state_;
  // The outputs of the run are named through it: a batch of them in one folder is made durable
  // by one flush of the folder, and only then are their sources wiped.
  platform::DurableGroup durable_;
  FileEngine engine_;
  DialogState dialog_;
  std::vector<ListEntry> entries_;
  int failures_ = 0;
  bool running_ = false;
  Touched touched_;
};

} // namespace qk::engine
