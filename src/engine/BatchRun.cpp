#include "engine/BatchRun.h"

#include "engine/Jobs.h"
#include "platform/FileSystem.h"
#include "platform/Listed.h"
#include "platform/PathText.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

namespace qk::engine {

namespace {

// Consecutive entries of one folder, up to most of them: a chunk, whose outputs are made durable
// together (one flush of their folder before their sources go).
std::vector<std::pair<std::size_t, std::size_t>> Chunks(const std::vector<ListEntry>& entries,
                                                        std::size_t most) {
  std::vector<std::pair<std::size_t, std::size_t>> chunks;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (chunks.empty() || chunks.back().second - chunks.back().first >= most ||
        platform::ExtractFilePath(entries[chunks.back().first].Path) !=
            platform::ExtractFilePath(entries[i].Path)) {
      chunks.emplace_back(i, i);
    }
    chunks.back().second = i + 1;
  }
  return chunks;
}

// A seed for a job's random names, drawn from the run's generator so that no two jobs draw the
// same names.
std::uint64_t NextSeed(Random& random) {
  std::uint64_t seed = 0;
  for (int i = 0; i < 4; ++i)
    seed = (seed << 16) ^ static_cast<std::uint64_t>(random.Below(1 << 16));
  return seed;
}

} // namespace

std::string FinishedText(int failures) {
  return failures != 0 ? "終了しました。　失敗数 : " + std::to_string(failures) + "個"
                       : std::string(kAllDone);
}

std::string StoppedText(int failures, std::size_t notReached) {
  return "中断しました。　失敗数 : " + std::to_string(failures) +
         "個　未処理 : " + std::to_string(notReached) + "個";
}

BatchRun::BatchRun(BatchHost& host, BatchOptions& options, Random& random)
    : host_(host), options_(options), random_(random),
      engine_(pump_, state_, options.Engine, random) {}

void BatchRun::Pump::ProcessMessages() {
  run_.host_.ProcessMessages();
  // A wipe under way is cut short, its source deleted: its output is proved already.
  if (run_.state_.Stopping()) run_.state_.SkipWipe = true;
}

void BatchRun::Touch(std::size_t index) {
  if (touched_.first == touched_.last) {
    touched_.first = index;
    touched_.last = index + 1;
  } else {
    touched_.first = std::min(touched_.first, index);
    touched_.last = std::max(touched_.last, index + 1);
  }
}

void BatchRun::ClearList() {
  entries_.clear();
  touched_.reshaped = true;
  // A new list gets its own question, count and captions when it is shown.
  state_.ListShown = false;
  stop_.store(false);
  // What earlier walks listed no longer stands for anything in the list.
  platform::ForgetListed();
  host_.Changed();
}

void BatchRun::AddFile(const std::string& path, bool fromFolder) {
  ListEntry entry;
  entry.Caption = path;
  entry.Path = path;
  entry.FromFolder = fromFolder;
  if (state_.Mode == OperationMode::Decrypt && host_.ShowsList())
    entry.Sub1 = engine_.ReadStoredHint(path).Text();
  entries_.push_back(std::move(entry));
  Touch(entries_.size() - 1);
  host_.Changed();
}

void BatchRun::AddUnreadableFolder(const std::string& path, int error) {
  ListEntry entry;
  entry.Caption = path;
  entry.Path = path;
  entry.FolderError = error;
  entries_.push_back(std::move(entry));
  Touch(entries_.size() - 1);
  host_.Changed();
}

void BatchRun::ShowList() {
  if (state_.ListShown) return;
  state_.ListEditable = true;
  dialog_.CloseCaption = "キャンセル";
  dialog_.OKVisible = true;
  // An empty list has nothing to run: OK stays off rather than ask for a password in vain.
  dialog_.OKEnabled = !entries_.empty();
  dialog_.ReEncVisible = false;
  dialog_.ReEncEnabled = false;
  const std::string n = std::to_string(entries_.size());
  switch (state_.Mode) {
  case OperationMode::Encrypt:
    dialog_.Caption = "ファイルの暗号化";
    dialog_.Label1 =
        "以上" + n +
        "個のファイルを暗号化します。暗号化されたファイルは復号するまで他のアプリケーシ"
        "ョンからはアクセスできなくなります。よろしいですか？";
    dialog_.Column1Caption.clear();
    dialog_.Column2Caption.clear();
    break;
  case OperationMode::Decrypt:
    dialog_.Caption = "ファイルの復号";
    dialog_.Label1 =
        "以上" + n +
        "個のファイルを復号します。これらのファイルが正しいパスワードで暗号化されたもの"
        "であることを確認してください。よろしいですか？";
    dialog_.Column1Caption = "パスワードヒント";
    dialog_.Column2Caption = "復号後ファイル名";
    break;
  case OperationMode::Wipe:
    dialog_.Caption = "ファイルの抹消";
    dialog_.Label1 =
        "以上" + n +
        "個のファイルをディスクから完全に抹消(wipe)します。抹消されたファイルは復元が不"
        "可能となります。よろしいですか？";
    dialog_.Column1Caption.clear();
    dialog_.Column2Caption.clear();
    break;
  }
  state_.ListShown = true;
  host_.ShowProgress(dialog_.Label1);
  if (state_.AutoRun) {
    host_.Changed();
    RunBatch();
    return;
  }
  dialog_.KeepOnTop = true;
  host_.Changed();
}

void BatchRun::SetCaption(std::size_t index, const char* suffix) {
  std::string caption = "[";
  caption += std::to_string(place_[index] + 1);
  caption += '/';
  caption += std::to_string(taken_);
  caption += "Files]";
  caption += entries_[index].Path;
  caption += suffix;
  dialog_.Caption = std::move(caption);
  host_.Changed();
}

void BatchRun::Began(std::size_t index, const char* suffix) {
  SetCaption(index, suffix);
  pump_.ProcessMessages();
}

// During the wipe the skip button comes alive beside the close button, while the list and OK stay
// off until the run has ended.
void BatchRun::Wiping(bool on) {
  dialog_.ListEnabled = false;
  dialog_.OKEnabled = false;
  dialog_.SkipWipeVisible = on;
  dialog_.SkipWipeEnabled = on;
  host_.Changed();
}

void BatchRun::SkipWipe() {
  state_.SkipWipe = true;
  ++skips_;
}

void BatchRun::RunBatch() {
  if (entries_.empty() && !state_.AutoRun && !state_.ReEncrypting) return;
  if (state_.Mode == OperationMode::Wipe && !state_.AutoRun) {
    if (!host_.Confirm("これは抹消モードです！本当によろしいですか？")) return;
  }
  if (state_.Mode != OperationMode::Wipe && !state_.AutoRun && !state_.ReEncrypting) {
    auto answer = host_.AskPassword(state_.Mode == OperationMode::Decrypt);
    if (!answer) return;
    state_.Password = std::move(answer->password);
    // Only an encryption takes a hint: the dialog of a decryption has none to give, and the
    // remembered hint stays as it was.
    if (state_.Mode == OperationMode::Encrypt) state_.PasswordHint = answer->hint;
    host_.ClearPasswordFields(!options_.DontClearPassBox, !options_.SaveHint);
  }

  // While the run goes only the close button, which stops it, and the skip button during a
  // source's wipe take input.
  dialog_.DialogEnabled = true;
  dialog_.ListEnabled = false;
  dialog_.OKEnabled = false;
  dialog_.CloseEnabled = true;
  failures_ = 0;
  running_ = true;
  stopped_ = false;
  notReached_ = 0;
  // The entries the run takes: a re-encryption takes only what its decryption wrote.
  place_.assign(entries_.size(), 0);
  taken_ = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (state_.ReEncrypting && entries_[i].Sub2.empty()) continue;
    place_[i] = taken_++;
  }
  host_.Changed();

  decided_.assign(entries_.size(), false);
  const unsigned jobs = std::max(1U, options_.Jobs);
  // Chunks small enough that the jobs stay busy to the end.
  const std::size_t most =
      jobs == 1 ? kChunkLimit
                : std::clamp<std::size_t>(entries_.size() / (jobs * 4), 1, kChunkLimit);
  const auto chunks = Chunks(entries_, most);
  state_.Stop = &stop_;
  // Outputs wait nameless in their chunk only while the run goes: between runs, the engine that
  // Engine() gives out names what it writes before it returns.
  engine_.HoldOutputs(true);
  try {
    if (jobs > 1 && chunks.size() > 1) {
      RunInJobs(chunks, jobs);
    } else {
      RunChunks(chunks);
    }
  } catch (...) {
    engine_.HoldOutputs(false);
    state_.Stop = nullptr;
    throw;
  }
  engine_.HoldOutputs(false);
  state_.Stop = nullptr;
  stopped_ = stop_.load();
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (!decided_[i] && (!state_.ReEncrypting || !entries_[i].Sub2.empty())) ++notReached_;

  // Re-encryption is offered only for what the decryption wrote.
  if (state_.Mode == OperationMode::Decrypt && options_.ReEnc) {
    const bool wrote = std::any_of(entries_.begin(), entries_.end(),
                                   [](const ListEntry& e) { return !e.Sub2.empty(); });
    dialog_.ReEncVisible = wrote;
    dialog_.ReEncEnabled = wrote;
  }
  Finish();
  if (state_.ExitAfterRun || state_.AutoRun) {
    Close();
    host_.EndProgram();
  }
}

void BatchRun::RunChunks(const std::vector<std::pair<std::size_t, std::size_t>>& chunks) {
  ChunkRun chunk(engine_, state_, options_, random_, *this);
  for (const auto& [first, last] : chunks) {
    for (std::size_t at = first; at < last && !state_.Stopping();) {
      std::vector<Finished> done;
      at = chunk.Run(entries_, at, last, done);
      for (Finished& f : done) Record(std::move(f));
    }
  }
}

// The jobs beside the caller's thread: each with an engine, a generator and a state of its own,
// taking the next chunk whenever it is free. Their results and progress come back to the caller's
// thread, which alone calls the host.
struct BatchRun::Jobs {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<Finished> done;
  std::string progress;
  std::optional<std::pair<std::size_t, const char*>> began;
  int wiping = 0;
  bool wipingChanged = false;
  std::size_t ended = 0;
  std::exception_ptr error;
};

namespace {

// One job's host: its progress and its captions go to the run's thread.
template <class Jobs> class JobHost : public EngineHost, public ChunkHost {
public:
  JobHost(Jobs& jobs, RunState& state, const std::atomic<unsigned>& skips)
      : jobs_(jobs), state_(state), skips_(skips), seen_(skips.load()) {}
  void ShowProgress(const std::string& text) override {
    const std::lock_guard guard(jobs_.lock);
    jobs_.progress = text;
  }
  void ProcessMessages() override {
    // A skip pressed since the last look cuts this job's wipe under way short; so does a stop.
    const unsigned skips = skips_.load();
    if (skips != seen_ || state_.Stopping()) state_.SkipWipe = true;
    seen_ = skips;
  }
  void Began(std::size_t index, const char* suffix) override {
    {
      const std::lock_guard guard(jobs_.lock);
      jobs_.began.emplace(index, suffix);
    }
    ProcessMessages();
  }
  void Wiping(bool on) override {
    const std::lock_guard guard(jobs_.lock);
    jobs_.wiping += on ? 1 : -1;
    jobs_.wipingChanged = true;
  }

private:
  Jobs& jobs_;
  RunState& state_;
  const std::atomic<unsigned>& skips_;
  unsigned seen_;
};

} // namespace

void BatchRun::RunInJobs(const std::vector<std::pair<std::size_t, std::size_t>>& chunks,
                         unsigned jobs) {
  Jobs shared;
  std::atomic<std::size_t> next{0};
  const auto work = [&](std::uint64_t seed) {
    try {
      RunState state;
      state.Password = state_.Password.Copy();
      state.PasswordHint = state_.PasswordHint;
      state.Mode = state_.Mode;
      state.OutputNameOverride = state_.OutputNameOverride;
      state.KeepSources = state_.KeepSources;
      state.ReEncrypting = state_.ReEncrypting;
      state.Stop = &stop_;
      Random random(seed);
      JobHost<Jobs> host(shared, state, skips_);
      FileEngine engine(host, state, options_.Engine, random);
      engine.HoldOutputs(true);
      ChunkRun chunk(engine, state, options_, random, host);
      for (std::size_t c; !state.Stopping() && (c = next.fetch_add(1)) < chunks.size();) {
        for (std::size_t at = chunks[c].first; at < chunks[c].second && !state.Stopping();) {
          std::vector<Finished> done;
          at = chunk.Run(entries_, at, chunks[c].second, done);
          const std::lock_guard guard(shared.lock);
          for (Finished& f : done) shared.done.push_back(std::move(f));
        }
      }
      state.Password.Clear();
    } catch (...) {
      stop_.store(true);
      const std::lock_guard guard(shared.lock);
      if (!shared.error) shared.error = std::current_exception();
    }
    {
      const std::lock_guard guard(shared.lock);
      ++shared.ended;
    }
    shared.changed.notify_all();
  };
  const std::size_t count = std::min<std::size_t>(jobs, chunks.size());
  std::vector<std::thread> threads;
  for (std::size_t j = 0; j < count; ++j) {
    try {
      threads.emplace_back(work, NextSeed(random_));
    } catch (const std::system_error&) {
      if (threads.empty()) throw;
      break;
    }
  }
  // The run's thread shows what the jobs did and lets the window's events run, until they end.
  std::exception_ptr raised;
  for (bool more = true; more;) {
    std::vector<Finished> done;
    std::string progress;
    std::optional<std::pair<std::size_t, const char*>> began;
    std::optional<bool> wiping;
    {
      std::unique_lock guard(shared.lock);
      shared.changed.wait_for(guard, std::chrono::milliseconds(50),
                              [&] { return shared.ended == threads.size(); });
      more = shared.ended != threads.size();
      done = std::exchange(shared.done, {});
      progress = std::exchange(shared.progress, {});
      began = std::exchange(shared.began, std::nullopt);
      if (std::exchange(shared.wipingChanged, false)) wiping = shared.wiping > 0;
    }
    for (Finished& f : done) Record(std::move(f));
    if (raised) continue;
    try {
      if (began) SetCaption(began->first, began->second);
      if (wiping) Wiping(*wiping);
      if (!progress.empty()) host_.ShowProgress(progress);
      host_.ProcessMessages();
    } catch (...) {
      // The jobs end their chunks as a stopped run does; what the host raised goes on after.
      raised = std::current_exception();
      stop_.store(true);
    }
  }
  for (std::thread& t : threads) t.join();
  if (shared.wiping > 0) Wiping(false);
  if (shared.error) std::rethrow_exception(shared.error);
  if (raised) std::rethrow_exception(raised);
}

void BatchRun::Record(Finished finished) {
  ListEntry& entry = entries_[finished.index];
  FileResult& result = finished.result;
  if (Failed(result)) ++failures_;
  if (state_.Mode == OperationMode::Decrypt)
    entry.Sub2 = Succeeded(result.outcome) || DoneBefore(result.outcome) ? result.output : "";
  entry.Caption = ResultText(result) + entry.Path;
  entry.Result = std::move(result);
  decided_[finished.index] = true;
  Touch(finished.index);
  host_.Changed();
}

void BatchRun::Finish() {
  if (!options_.ReEnc) state_.Password.Clear();
  if (!options_.SaveHint) state_.PasswordHint.clear();
  state_.ListEditable = false;
  dialog_.Caption = stopped_ ? StoppedText(failures_, notReached_) : FinishedText(failures_);
  // The hint column keeps its caption: its cells still hold the hints.
  dialog_.Label1 = dialog_.Caption;
  host_.ShowProgress(dialog_.Label1);
  dialog_.CloseCaption = "閉じる";
  dialog_.DialogEnabled = true;
  dialog_.ListEnabled = true;
  dialog_.OKEnabled = true;
  dialog_.OKVisible = false;
  dialog_.CloseEnabled = true;
  dialog_.CloseFocused = true;
  dialog_.SkipWipeVisible = false;
  dialog_.SkipWipeEnabled = false;
  state_.ReEncrypting = false;
  running_ = false;
  host_.Changed();
}

void BatchRun::DeleteSelected() {
  if (!state_.ListEditable) return;
  bool any = false;
  for (const auto& e : entries_) any = any || e.Selected;
  if (!any) return;
  std::erase_if(entries_, [](const ListEntry& e) { return e.Selected; });
  touched_.reshaped = true;
  state_.ListShown = false;
  ShowList();
}

void BatchRun::ReEncrypt() {
  if (!options_.ReEnc) return;
  if (!host_.Confirm(
          "これらの復号済みのファイルを復号時のパスワードとヒントで再暗号化します。よろしい"
          "ですか？\r\n（※注意！：再暗号化の際は当該ファイルが使用中であったり、削除、"
          "移動、置き換え等されていないかご確認下さい。）")) {
    return;
  }
  for (auto& entry : entries_) {
    if (entry.Sub2.empty()) continue;
    entry.Caption = entry.Sub2;
    entry.Path = entry.Sub2;
  }
  touched_.reshaped = true;
  state_.ReEncrypting = true;
  state_.Mode = OperationMode::Encrypt;
  dialog_.ReEncVisible = false;
  dialog_.ReEncEnabled = false;
  host_.Changed();
  RunBatch();
}

void BatchRun::Close() {
  state_.ListShown = false;
  state_.ListEditable = false;
  dialog_.KeepOnTop = false;
  host_.Changed();
  host_.ShowReturnForm();
}

} // namespace qk::engine
