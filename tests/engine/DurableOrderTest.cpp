// The order in which a run makes its outputs durable and touches what they replace: no source is
// overwritten before its output's data is flushed, its name linked and its folder flushed after
// that; the outputs of a batch in one folder share one flush of it; a run without wipes flushes
// each folder it wrote in once, before it ends.
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/Durable.h"
#include "platform/File.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

namespace qk::test {
namespace {

using engine::Outcome;
using engine::SourceWipe;
using platform::FileEvent;
using platform::FileOperation;

// The events of a run, as the event seam reports them.
class EventLog {
public:
  EventLog() {
    platform::SetEventHook([this](const FileEvent& e) { events_.push_back(e); });
  }
  ~EventLog() { platform::SetEventHook(nullptr); }
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;
  const std::vector<FileEvent>& Events() const { return events_; }

  std::size_t Count(FileOperation op) const {
    std::size_t n = 0;
    for (const FileEvent& e : events_) n += e.operation == op ? 1 : 0;
    return n;
  }
  // Folder flushes by folder.
  std::map<std::string, int> Flushes() const {
    std::map<std::string, int> flushes;
    for (const FileEvent& e : events_)
      if (e.operation == FileOperation::FolderSync) ++flushes[FolderOf(e.path)];
    return flushes;
  }

  // Every wipe of a source in sourceToOutput (an exclusive open) comes after its output's data
  // was flushed, its name linked and then its folder flushed; and no source is removed before
  // its own wipe began. The failures, in words.
  std::vector<std::string>
  OrderFaults(const std::map<std::string, std::string>& sourceToOutput) const {
    std::vector<std::string> faults;
    std::map<std::string, std::size_t> linked;   // output -> index of its Link
    std::map<std::uint64_t, std::size_t> synced; // inode -> index of its last data flush
    std::map<std::string, std::uint64_t> inodeOf;
    for (std::size_t i = 0; i < events_.size(); ++i) {
      const FileEvent& e = events_[i];
      if (e.operation == FileOperation::Sync) synced[e.inode] = i;
      if (e.operation == FileOperation::Link) {
        linked[e.path] = i;
        inodeOf[e.path] = e.inode;
      }
      const bool touches = (e.operation == FileOperation::Open && e.exclusive) ||
                           e.operation == FileOperation::Delete;
      const auto source = sourceToOutput.find(e.path);
      if (!touches || source == sourceToOutput.end()) continue;
      const std::string& output = source->second;
      const auto link = linked.find(output);
      if (link == linked.end()) {
        faults.push_back(e.path + " touched before " + output + " was linked");
        continue;
      }
      const auto data = synced.find(inodeOf[output]);
      if (data == synced.end() || data->second > link->second)
        faults.push_back(output + " linked before its data was flushed");
      bool flushed = false;
      for (std::size_t j = link->second + 1; j < i; ++j) {
        flushed = flushed || (events_[j].operation == FileOperation::FolderSync &&
                              FolderOf(events_[j].path) == FolderOf(output));
      }
      if (!flushed)
        faults.push_back(e.path + " touched before the folder of " + output + " was flushed");
    }
    return faults;
  }

  // Flushes issued between names rather than before them: an output's data flush after another
  // output of its folder was named, or an overwrite's flush after a source of its folder was
  // removed, with no flush of the folder in between.
  std::size_t Ungrouped() const {
    std::size_t n = 0;
    std::set<std::uint64_t> wiping;
    std::map<std::string, bool> named;
    std::map<std::string, bool> removed;
    for (const FileEvent& e : events_) {
      // A nameless file's events carry its folder.
      const std::string folder = std::filesystem::is_directory(e.path)
                                     ? std::filesystem::path(e.path).lexically_normal().string()
                                     : FolderOf(e.path);
      const std::string at = folder.back() == '/' ? folder.substr(0, folder.size() - 1) : folder;
      if (e.operation == FileOperation::Open && e.exclusive) wiping.insert(e.inode);
      if (e.operation == FileOperation::FolderSync) named[at] = removed[at] = false;
      if (e.operation == FileOperation::Link) named[at] = true;
      if (e.operation == FileOperation::Delete) removed[at] = true;
      if (e.operation == FileOperation::Sync) n += (wiping.count(e.inode) ? removed : named)[at];
    }
    return n;
  }

private:
  std::vector<FileEvent> events_;
};

struct Layout {
  const char* what;
  std::vector<std::string> folders; // below the temporary folder ("" is itself)
  int filesPerFolder;
};

const std::vector<Layout>& Layouts() {
  static const std::vector<Layout> layouts{
      {"one folder", {""}, 5},
      {"two folders", {"", "下/フォルダ"}, 3},
      {"three folders, one file each", {"a", "b", "c"}, 1},
  };
  return layouts;
}

// Files of layout under dir, in list order; their contents by path in bytes.
std::vector<std::string> MakeFiles(const TempDir& dir, const Layout& layout,
                                   std::map<std::string, std::string>& bytes) {
  std::vector<std::string> paths;
  int seed = 1;
  for (const std::string& folder : layout.folders) {
    const std::string at = folder.empty() ? dir.path() : dir / folder;
    std::filesystem::create_directories(at);
    for (int i = 0; i < layout.filesPerFolder; ++i) {
      const std::string path = at + "/書類" + std::to_string(i) + ".txt";
      bytes[path] = RandomBytes(static_cast<std::size_t>(seed * 97 % 3000), seed);
      ++seed;
      WriteAll(path, bytes[path]);
      paths.push_back(path);
    }
  }
  return paths;
}

engine::BatchOptions Wiping(bool wipe) {
  engine::BatchOptions options;
  options.WipeSource = wipe;
  options.WipeDecSource = wipe;
  return options;
}

TEST(DurableOrder, SourcesAreTouchedOnlyAfterTheirOutputsFolderFlush) {
  for (const Layout& layout : Layouts()) {
    SCOPED_TRACE(layout.what);
    TempDir dir;
    std::map<std::string, std::string> bytes;
    const std::vector<std::string> sources = MakeFiles(dir, layout, bytes);

    // Encryption with source wipe.
    std::map<std::string, std::string> toContainer;
    {
      UnattendedRun run(engine::OperationMode::Encrypt, Wiping(true));
      for (const auto& path : sources) run.run.AddFile(path);
      EventLog log;
      run.run.ShowList();
      ASSERT_EQ(run.run.FailureCount(), 0);
      for (const auto& e : run.run.Entries()) {
        EXPECT_EQ(e.Result->sourceWipe, SourceWipe::Wiped);
        toContainer[e.Path] = e.Result->output;
      }
      EXPECT_EQ(log.OrderFaults(toContainer), std::vector<std::string>{});
      // One flush per folder: the batch of its outputs, then the wipes of their sources, each
      // kind flushed together.
      for (const auto& [folder, n] : log.Flushes()) EXPECT_EQ(n, 1) << folder;
      EXPECT_EQ(log.Ungrouped(), 0u);
      EXPECT_EQ(log.Flushes().size(), layout.folders.size());
    }
    for (const auto& path : sources) EXPECT_FALSE(std::filesystem::exists(path)) << path;

    // Decryption with wipe of the containers.
    std::map<std::string, std::string> toPlain;
    {
      UnattendedRun run(engine::OperationMode::Decrypt, Wiping(true));
      for (const auto& path : sources) run.run.AddFile(toContainer[path]);
      EventLog log;
      run.run.ShowList();
      ASSERT_EQ(run.run.FailureCount(), 0);
      for (const auto& e : run.run.Entries()) {
        EXPECT_EQ(e.Result->sourceWipe, SourceWipe::Wiped);
        toPlain[e.Path] = e.Result->output;
      }
      EXPECT_EQ(log.OrderFaults(toPlain), std::vector<std::string>{});
      EXPECT_EQ(log.Flushes().size(), layout.folders.size());
      EXPECT_EQ(log.Ungrouped(), 0u);
    }
    for (const auto& path : sources) EXPECT_EQ(ReadAll(path), bytes[path]) << path;
  }
}

TEST(DurableOrder, RunsWithoutWipeFlushEachFolderOnceBeforeTheyEnd) {
  for (const Layout& layout : Layouts()) {
    for (const auto mode : {engine::OperationMode::Encrypt, engine::OperationMode::Decrypt}) {
      SCOPED_TRACE(layout.what);
      TempDir dir;
      std::map<std::string, std::string> bytes;
      std::vector<std::string> files = MakeFiles(dir, layout, bytes);
      if (mode == engine::OperationMode::Decrypt) {
        UnattendedRun made(engine::OperationMode::Encrypt, Wiping(true));
        for (const auto& path : files) made.run.AddFile(path);
        made.run.ShowList();
        ASSERT_EQ(made.run.FailureCount(), 0);
        for (auto& path : files) path += ".enc";
      }
      UnattendedRun run(mode, Wiping(false));
      for (const auto& path : files) run.run.AddFile(path);
      EventLog log;
      run.run.ShowList();
      ASSERT_EQ(run.run.FailureCount(), 0);
      const std::vector<FileEvent>& events = log.Events();
      // Each folder flushed once, after the last output named in it.
      std::map<std::string, std::size_t> lastLink;
      for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].operation == FileOperation::Link) lastLink[FolderOf(events[i].path)] = i;
      }
      EXPECT_EQ(lastLink.size(), layout.folders.size());
      for (const auto& [folder, n] : log.Flushes()) EXPECT_EQ(n, 1) << folder;
      for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].operation != FileOperation::FolderSync) continue;
        const std::string folder = FolderOf(events[i].path);
        ASSERT_TRUE(lastLink.count(folder)) << folder;
        EXPECT_GT(i, lastLink[folder]) << folder;
      }
      EXPECT_EQ(log.Flushes().size(), layout.folders.size());
      EXPECT_EQ(log.Count(FileOperation::Delete), 0u);
    }
  }
}

// However many outputs a folder takes, no more sources wait for its flush than the group's
// limit; every one of them is wiped after the flush that covers its output.
TEST(DurableOrder, ALongBatchInOneFolderIsFlushedEveryLimitOutputs) {
  constexpr std::size_t limit = engine::kChunkLimit;
  TempDir dir;
  const std::size_t count = limit * 2 + 3;
  std::vector<std::string> sources;
  for (std::size_t i = 0; i < count; ++i) {
    sources.push_back(dir / ("f" + std::to_string(i)));
    WriteAll(sources.back(), std::to_string(i));
  }
  UnattendedRun run(engine::OperationMode::Encrypt, Wiping(true));
  for (const auto& path : sources) run.run.AddFile(path);
  EventLog log;
  run.run.ShowList();
  ASSERT_EQ(run.run.FailureCount(), 0);
  std::map<std::string, std::string> toContainer;
  for (const auto& e : run.run.Entries()) toContainer[e.Path] = e.Result->output;
  EXPECT_EQ(log.OrderFaults(toContainer), std::vector<std::string>{});
  EXPECT_EQ(log.Count(FileOperation::FolderSync), (count + limit - 1) / limit);
  std::size_t waiting = 0;
  for (const FileEvent& e : log.Events()) {
    if (e.operation == FileOperation::Link) ++waiting;
    if (e.operation == FileOperation::FolderSync) waiting = 0;
    EXPECT_LE(waiting, limit);
  }
}

// Every file a run keeps open for later (held outputs, overwrites waiting for their flush, files
// made ahead) counts against the process's share until it is closed, whatever the thread that
// makes files ahead does meanwhile: beyond those, only the files being worked on are open.
TEST(DurableOrder, FilesKeptOpenAreCountedUntilTheyAreClosed) {
  TempDir dir;
  UnattendedRun run(engine::OperationMode::Encrypt, Wiping(true));
  for (int i = 0; i < 40; ++i) {
    WriteAll(dir / ("f" + std::to_string(i)), "x");
    run.run.AddFile(dir / ("f" + std::to_string(i)));
  }
  const auto open = [] {
    return static_cast<std::size_t>(
        std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}));
  };
  const std::size_t before = open();
  std::size_t uncounted = 0;
  platform::SetFaultHook([&](FileOperation, const std::string&) {
    uncounted = std::max(uncounted, open() - std::min(open(), before + platform::KeptFiles()));
    return 0;
  });
  run.run.ShowList();
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(run.run.FailureCount(), 0);
  // A source, its output, an overwrite about to be handed in, and the folders on the way.
  EXPECT_LE(uncounted, 10u);
}

// A folder flush that fails proves nothing: no source of its batch is touched, and each of its
// entries has failed with the flush's error.
TEST(DurableOrder, AFailedFolderFlushKeepsEverySourceOfItsBatch) {
  for (const bool wipe : {true, false}) {
    SCOPED_TRACE(wipe ? "with wipe" : "without wipe");
    TempDir dir;
    std::map<std::string, std::string> bytes;
    const std::vector<std::string> sources = MakeFiles(dir, Layouts()[0], bytes);
    platform::SetFaultHook([](FileOperation op, const std::string&) {
      return op == FileOperation::FolderSync ? EIO : 0;
    });
    UnattendedRun run(engine::OperationMode::Encrypt, Wiping(wipe));
    for (const auto& path : sources) run.run.AddFile(path);
    run.run.ShowList();
    platform::SetFaultHook(nullptr);
    EXPECT_EQ(run.run.FailureCount(), static_cast<int>(sources.size()));
    for (const auto& e : run.run.Entries()) {
      EXPECT_TRUE(engine::Failed(*e.Result)) << e.Path;
      EXPECT_EQ(e.Result->error, EIO);
      EXPECT_EQ(e.Result->sourceWipe, wipe ? SourceWipe::Failed : SourceWipe::NotAsked);
      EXPECT_EQ(e.Result->outcome, wipe ? Outcome::Encrypted : Outcome::EncryptFailed);
      EXPECT_EQ(e.Caption, engine::ResultText(*e.Result) + e.Path);
      EXPECT_EQ(ReadAll(e.Path), bytes[e.Path]);
      // A failed encryption leaves no container; one whose source stays unwiped keeps it.
      EXPECT_EQ(std::filesystem::exists(e.Path + ".enc"), wipe) << e.Path;
    }
  }
}

// A wipe that waited for its batch's flush and then failed fails its own entry alone, with the
// count, the caption and the result saying so.
TEST(DurableOrder, AWaitingWipeThatFailsFailsItsEntryAlone) {
  TempDir dir;
  std::map<std::string, std::string> bytes;
  const std::vector<std::string> sources = MakeFiles(dir, Layouts()[0], bytes);
  const std::string& kept = sources[2];
  int opens = 0;
  // The encryption opens the source once; the wipe's opens come after.
  platform::SetFaultHook([&](FileOperation op, const std::string& path) {
    return op == FileOperation::Open && path == kept && ++opens > 1 ? EACCES : 0;
  });
  UnattendedRun run(engine::OperationMode::Encrypt, Wiping(true));
  for (const auto& path : sources) run.run.AddFile(path);
  run.run.ShowList();
  platform::SetFaultHook(nullptr);
  EXPECT_EQ(run.run.FailureCount(), 1);
  EXPECT_EQ(run.run.Dialog().Label1, engine::FinishedText(1));
  for (const auto& e : run.run.Entries()) {
    EXPECT_EQ(e.Result->outcome, Outcome::Encrypted);
    EXPECT_EQ(e.Result->sourceWipe, e.Path == kept ? SourceWipe::Failed : SourceWipe::Wiped);
    EXPECT_EQ(e.Caption, engine::ResultText(*e.Result) + e.Path);
    EXPECT_TRUE(std::filesystem::exists(e.Result->output));
  }
  EXPECT_EQ(ReadAll(kept), bytes[kept]);
}

// A run broken off by an exception at any call of its host, while outputs wait nameless in the
// group: each container stays whole or its plaintext is under its name, and no plaintext stays in
// a file that goes without a name (each output is opened once more as it is made, to read it).
TEST(DurableOrder, ARunBrokenOffLeavesNoPlaintextAndEveryContainer) {
  TempDir made;
  std::map<std::string, std::string> bytes;
  const std::vector<std::string> plain = MakeFiles(made, {"two folders", {"", "下"}, 2}, bytes);
  UnattendedRun sealing(engine::OperationMode::Encrypt, Wiping(true));
  for (const auto& path : plain) sealing.run.AddFile(path);
  sealing.run.ShowList();
  // Until a run ends before the call that would break it.
  for (int breakAt = 1, calls = 0; calls == breakAt - 1; ++breakAt) {
    TempDir dir;
    std::filesystem::copy(made.path(), dir.path(), std::filesystem::copy_options::recursive);
    const auto at = [&](const std::string& path) { return dir / path.substr(made.path().size()); };
    RecordingHost host;
    engine::BatchOptions options = Wiping(true);
    engine::Random random(1);
    engine::BatchRun run(host, options, random);
    run.State().Mode = engine::OperationMode::Decrypt;
    for (const auto& path : plain) run.AddFile(at(path) + ".enc");
    calls = 0;
    host.onPump = host.onChange = [&] {
      if (++calls == breakAt) throw std::runtime_error("broken off");
    };
    std::vector<int> outputs;
    platform::SetEventHook([&](const FileEvent& e) {
      for (const auto& fd : std::filesystem::directory_iterator("/proc/self/fd")) {
        struct stat st {};
        if (e.operation == FileOperation::Create && ::stat(fd.path().c_str(), &st) == 0 &&
            st.st_ino == e.inode)
          outputs.push_back(::open(fd.path().c_str(), O_RDONLY | O_CLOEXEC));
      }
    });
    try {
      run.RunBatch();
    } catch (const std::runtime_error&) {
    }
    platform::SetEventHook(nullptr);
    for (const auto& path : plain) {
      if (!Exists(at(path) + ".enc") || ReadAll(at(path) + ".enc") != ReadAll(path + ".enc")) {
        EXPECT_EQ(ReadAll(at(path)), bytes[path]) << breakAt;
      }
    }
    for (const int fd : outputs) {
      struct stat st {};
      const std::string held = ReadAll("/proc/self/fd/" + std::to_string(fd));
      if (::fstat(fd, &st) == 0 && st.st_nlink == 0) {
        EXPECT_EQ(held.find_first_not_of('N'), std::string::npos) << breakAt;
      }
      ::close(fd);
    }
  }
}

// A run asked to stop at any file operation of its own (as a signal would), in either direction,
// loses nothing, and the same run started again finishes the job: the folder ends as after one
// run that was never stopped, with no file done twice.
TEST(DurableOrder, ARunStoppedAnywhereIsFinishedByTheSameRunAgain) {
  for (const auto mode : {engine::OperationMode::Encrypt, engine::OperationMode::Decrypt}) {
    TempDir made;
    std::map<std::string, std::string> bytes;
    const std::vector<std::string> plain = MakeFiles(made, {"two folders", {"", "下"}, 3}, bytes);
    if (mode == engine::OperationMode::Decrypt) {
      UnattendedRun sealing(engine::OperationMode::Encrypt, Wiping(true));
      for (const auto& path : plain) sealing.run.AddFile(path);
      sealing.run.ShowList();
    }
    // Until a run ends before the operation it was to stop at.
    for (int stopAt = 1, reached = 1; reached != 0; ++stopAt) {
      SCOPED_TRACE(testing::Message()
                   << "mode " << static_cast<int>(mode) << " stop at " << stopAt);
      TempDir dir;
      std::filesystem::copy(made.path(), dir.path(), std::filesystem::copy_options::recursive);
      const auto at = [&](const std::string& path) {
        return dir / path.substr(made.path().size());
      };
      engine::BatchOptions options = Wiping(true);
      options.Resume = true;
      for (int pass = 0; pass < 2; ++pass) {
        UnattendedRun run(mode, options);
        // As a walk of the folders finds them.
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
          if (e.is_regular_file()) found.push_back(e.path().string());
        std::sort(found.begin(), found.end());
        for (const auto& path : found) run.run.AddFile(path, true);
        int ops = 0;
        if (pass == 0)
          platform::SetFaultHook([&](FileOperation, const std::string&) {
            if (++ops == stopAt) run.run.Stop();
            return 0;
          });
        run.run.ShowList();
        platform::SetFaultHook(nullptr);
        if (pass == 0) reached = ops >= stopAt ? 1 : 0;
        EXPECT_EQ(run.run.FailureCount(), 0);
        EXPECT_EQ(run.run.Stopped(), pass == 0 && ops >= stopAt);
        // Nothing lost at any moment: each file is there as itself or as a whole container.
        for (const auto& path : plain) {
          if (Exists(at(path))) {
            EXPECT_EQ(ReadAll(at(path)), bytes[path]);
          } else {
            EXPECT_TRUE(Exists(at(path) + ".enc"));
          }
        }
      }
      // Finished: one container per file after an encryption, every file back after a decryption,
      // and nothing else in the folders.
      std::size_t files = 0;
      for (const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
        files += e.is_regular_file() ? 1 : 0;
      EXPECT_EQ(files, plain.size());
      for (const auto& path : plain) {
        EXPECT_EQ(Exists(at(path)), mode == engine::OperationMode::Decrypt);
      }
      // Each container holds its file.
      if (mode == engine::OperationMode::Encrypt) {
        UnattendedRun opening(engine::OperationMode::Decrypt, Wiping(true));
        for (const auto& path : plain) opening.run.AddFile(at(path) + ".enc");
        opening.run.ShowList();
      }
      for (const auto& path : plain) EXPECT_EQ(ReadAll(at(path)), bytes[path]);
    }
  }
}

} // namespace
} // namespace qk::test
