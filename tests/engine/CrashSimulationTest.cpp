// What a crash may leave of a run, on a file system that keeps nothing it was not told to flush.
// Every create, open, write, flush, link, rename and removal of a run is recorded through the
// event seam (platform/File.h). At each point of the run, every state a crash there may leave is
// built under the weak model of support/DiskModel.h. In every such state each file of the run must
// be there under some name, as its source or as an output whose every byte was flushed, and no
// source whose wipe began may have lost its name while its overwrite was not flushed (its old
// contents would stay in the blocks it left). Nor may an output get its name before every byte
// of it was flushed, nor a file go without a name with writes unflushed after what it held
// reached the disk (they would not hide it).
#include "engine/BatchRun.h"
#include "engine/EngineFixture.h"
#include "platform/Durable.h"
#include "platform/File.h"
#include "support/DiskModel.h"

#include <filesystem>
#include <iostream>
#include <map>
#include <set>

namespace qk::test {
namespace {

using platform::FileEvent;
using platform::FileOperation;

// Records a run's events, then replays them point by point.
class CrashSimulation {
public:
  // The files of the run: each is one of its sources (existing now) or outputs (named later).
  int AddSource(const std::string& path) {
    const int id = model_.Existing(path);
    sources_.push_back(id);
    owner_[id] = static_cast<int>(sources_.size()) - 1;
    existing_.emplace_back(path, id);
    return id;
  }

  void Record(const std::function<void()>& run) {
    platform::SetEventHook([this](const FileEvent& e) { events_.push_back(e); });
    run();
    platform::SetEventHook(nullptr);
  }

  // Once the run is over: the file last named output in the run stands for the same file as the
  // source at from (as the run began, or as an earlier output named it).
  void OutputOf(const std::string& output, const std::string& from) {
    outputs_.emplace_back(output, from);
  }

  struct Summary {
    std::size_t points = 0;
    std::size_t states = 0;
    std::size_t maxPending = 0;
    std::vector<std::string> losses;
    std::vector<std::string> faults; // the order broken: a name too early, a wipe unflushed
  };

  Summary Replay() const {
    // The end state first, to tell the outputs and the writes each one needs.
    DiskModel end = Fresh();
    for (const FileEvent& e : events_) end.Apply(e);
    std::map<int, int> logical = owner_;
    std::map<std::string, int> at;
    for (const auto& [path, id] : existing_) at[path] = id;
    for (const auto& [output, from] : outputs_) {
      const int source = at.count(from) ? at[from] : end.LastNamed(from);
      const int id = end.LastNamed(output);
      EXPECT_NE(id, 0) << output;
      EXPECT_TRUE(logical.count(source)) << from;
      logical[id] = logical[source];
      at[output] = id;
    }
    Summary summary;
    DiskModel model = Fresh();
    std::set<int> named;
    const auto where = [&](std::size_t point) {
      std::string what = "event " + std::to_string(point) + " of " + std::to_string(events_.size());
      if (point > 0) {
        const FileEvent& e = events_[point - 1];
        what +=
            " (operation " + std::to_string(static_cast<int>(e.operation)) + " on " + e.path + ")";
      }
      return what;
    };
    for (std::size_t point = 0; point <= events_.size(); ++point) {
      if (point > 0) model.Apply(events_[point - 1]);
      ++summary.points;
      // An output gets a name others see only once every byte of it is flushed.
      if (point > 0) {
        const FileEvent& e = events_[point - 1];
        const bool naming =
            e.operation == FileOperation::Link || e.operation == FileOperation::Rename;
        const std::string name = e.operation == FileOperation::Rename ? e.target : e.path;
        const int id = naming ? model.At(name) : 0;
        if (id != 0 && !Hidden(name)) named.insert(id);
        if (id != 0 && !Hidden(name) && logical.count(id) && !owner_.count(id) &&
            model.Files().at(id).flushed != end.Files().at(id).built)
          summary.faults.push_back(name + " named before its data was flushed at " + where(point));
      }
      summary.maxPending = std::max(summary.maxPending, model.Pending());
      model.ForEachCrash([&](const std::map<std::string, int>& names) {
        ++summary.states;
        std::vector<bool> whole(sources_.size(), false);
        // A file whose wipe began and whose name is gone must have its overwrite on the disk.
        for (const auto& [id, file] : model.Files()) {
          if (!model.Wiping(id) || file.overwritesFlushed == file.overwrites) continue;
          bool named = false;
          for (const auto& entry : names) named = named || entry.second == id;
          if (!named)
            summary.faults.push_back("a source removed before its overwrite was flushed at " +
                                     where(point));
        }
        for (const auto& [name, id] : names) {
          const auto owner = logical.find(id);
          if (owner == logical.end()) continue;
          const DiskModel::Inode& now = model.Files().at(id);
          const int needed = end.Files().at(id).built;
          if (!now.destroyed && now.flushed == needed)
            whole[static_cast<std::size_t>(owner->second)] = true;
        }
        for (std::size_t i = 0; i < whole.size(); ++i) {
          if (!whole[i])
            summary.losses.push_back("file " + std::to_string(i) + " lost after " + where(point));
        }
      });
    }
    for (const auto& [id, file] : model.Files()) {
      if (!named.count(id) && !owner_.count(id) && file.flushed > 0 && file.built > file.flushed)
        summary.faults.push_back("file " + std::to_string(id) + " went with writes unflushed");
    }
    return summary;
  }

  std::size_t Events() const { return events_.size(); }
  std::size_t Count(FileOperation operation) const {
    std::size_t n = 0;
    for (const FileEvent& e : events_) n += e.operation == operation ? 1 : 0;
    return n;
  }

private:
  // A name of QK's own that nobody relies on: a file made under it has no other name yet.
  static bool Hidden(const std::string& path) {
    return std::filesystem::path(path).filename().string().rfind(".qk-", 0) == 0;
  }
  DiskModel Fresh() const {
    DiskModel model;
    for (const auto& [path, id] : existing_) model.Existing(path);
    return model;
  }

  DiskModel model_;
  std::vector<int> sources_;
  std::map<int, int> owner_;
  std::vector<std::pair<std::string, int>> existing_;
  std::vector<std::pair<std::string, std::string>> outputs_;
  std::vector<FileEvent> events_;
};

void Report(const char* run, const CrashSimulation& simulation,
            const CrashSimulation::Summary& summary) {
  std::cout << run << ": " << simulation.Events() << " operations, " << summary.points
            << " points, " << summary.states << " crash states (at most " << summary.maxPending
            << " names unflushed at once)\n";
  for (std::size_t i = 0; i < summary.losses.size() && i < 5; ++i)
    ADD_FAILURE() << run << ": " << summary.losses[i];
  for (std::size_t i = 0; i < summary.faults.size() && i < 5; ++i)
    ADD_FAILURE() << run << ": " << summary.faults[i];
  EXPECT_TRUE(summary.losses.empty()) << summary.losses.size() << " crash states lose a file";
  EXPECT_TRUE(summary.faults.empty()) << summary.faults.size() << " breaks of the order";
}

const std::vector<std::pair<std::string, std::string>>& Files() {
  static const std::vector<std::pair<std::string, std::string>> files{
      {"empty.txt", ""}, {"短い.txt", "small"}, {"piece.bin", RandomBytes(300 * 1024 + 7, 11)}};
  return files;
}

engine::BatchOptions WipingOptions() {
  engine::BatchOptions options;
  options.WipeSource = true;
  options.WipeDecSource = true;
  options.ReEnc = true;
  return options;
}

// Containers of Files() in dir, made before the recorded run, without the sources.
void MakeContainers(TempDir& dir) {
  UnattendedRun made(engine::OperationMode::Encrypt, WipingOptions());
  for (const auto& [name, bytes] : Files()) {
    WriteAll(dir / name, bytes);
    made.run.AddFile(dir / name);
  }
  made.run.ShowList();
  ASSERT_EQ(made.run.FailureCount(), 0);
}

// Without nameless files each output is made under a hidden name of its own. An output whose name
// is refused goes, written over once what it held reached the disk, and its source stays.
TEST(CrashSimulation, EncryptionWithSourceWipe) {
  for (const std::string how : {"encrypt", "encrypt, hidden names", "encrypt, a name refused"}) {
    TempDir dir;
    CrashSimulation simulation;
    for (const auto& [name, bytes] : Files()) {
      WriteAll(dir / name, bytes);
      simulation.AddSource(dir / name);
    }
    const std::string refused = how == "encrypt, a name refused" ? dir / "短い.txt.enc" : "";
    platform::SetFaultHook([&](FileOperation op, const std::string& path) {
      if (op == FileOperation::Nameless && how == "encrypt, hidden names") return EOPNOTSUPP;
      return op == FileOperation::Link && path == refused ? EACCES : 0;
    });
    UnattendedRun run(engine::OperationMode::Encrypt, WipingOptions());
    for (const auto& f : Files()) run.run.AddFile(dir / f.first);
    simulation.Record([&] { run.run.ShowList(); });
    platform::SetFaultHook(nullptr);
    ASSERT_EQ(run.run.FailureCount(), refused.empty() ? 0 : 1);
    for (const auto& e : run.run.Entries())
      if (engine::Succeeded(e.Result->outcome)) simulation.OutputOf(e.Result->output, e.Path);
    Report(how.c_str(), simulation, simulation.Replay());
  }
}

TEST(CrashSimulation, DecryptionWithWipeThenReEncryption) {
  TempDir dir;
  MakeContainers(dir);
  CrashSimulation simulation;
  RecordingHost host; // answers the password dialog with "pw" and confirms the re-encryption
  engine::BatchOptions options = WipingOptions();
  engine::Random random(1);
  engine::BatchRun run(host, options, random);
  run.State().Mode = engine::OperationMode::Decrypt;
  for (const auto& f : Files()) {
    simulation.AddSource(dir / (f.first + ".enc"));
    run.AddFile(dir / (f.first + ".enc"));
  }
  run.ShowList();
  simulation.Record([&] {
    run.RunBatch();
    for (const auto& e : run.Entries()) EXPECT_TRUE(engine::Succeeded(e.Result->outcome));
    run.ReEncrypt();
  });
  ASSERT_EQ(run.FailureCount(), 0);
  for (const auto& f : Files()) {
    simulation.OutputOf(dir / f.first, dir / (f.first + ".enc"));
  }
  for (const auto& e : run.Entries()) simulation.OutputOf(e.Result->output, e.Path);
  Report("decrypt and re-encrypt", simulation, simulation.Replay());
}

TEST(CrashSimulation, DecryptionToAGivenOutputReplacingAFile) {
  TempDir dir;
  MakeContainers(dir);
  CrashSimulation simulation;
  const std::string container = dir / "piece.bin.enc";
  const std::string given = dir / "given.bin";
  WriteAll(given, "the old contents of the given output");
  simulation.AddSource(container);
  UnattendedRun run(engine::OperationMode::Decrypt, WipingOptions());
  run.run.State().OutputNameOverride = given;
  run.run.AddFile(container);
  simulation.Record([&] { run.run.ShowList(); });
  ASSERT_EQ(run.run.FailureCount(), 0);
  EXPECT_EQ(ReadAll(given), Files()[2].second);
  simulation.OutputOf(given, container);
  Report("decrypt to a given output", simulation, simulation.Replay());
}

// A batch in one folder: its outputs are made durable together, with one flush of the folder, and
// only then are their sources wiped; then the same batch decrypted with the containers wiped the
// same way. A file too big to wait for the others is flushed on its own before them, its folder
// with theirs; without nameless files each output is made under a hidden name of its own.
TEST(CrashSimulation, GroupedBatchInOneFolderWithWipes) {
  for (const bool nameless : {true, false}) {
    SCOPED_TRACE(nameless ? "nameless" : "hidden names");
    TempDir dir;
    std::vector<std::pair<std::string, std::string>> files = Files();
    files.emplace(files.begin(), "大きい.bin",
                  RandomBytes((1 << 20) + 5, 15));
    files.emplace_back("二.txt", RandomBytes(4000, 12));
    files.emplace_back("three", RandomBytes(17, 13));
    files.emplace_back("four.dat", RandomBytes(70000, 14));
    if (!nameless) {
      platform::SetFaultHook([](FileOperation op, const std::string&) {
        return op == FileOperation::Nameless ? EOPNOTSUPP : 0;
      });
    }
    {
      CrashSimulation simulation;
      for (const auto& [name, bytes] : files) {
        WriteAll(dir / name, bytes);
        simulation.AddSource(dir / name);
      }
      UnattendedRun run(engine::OperationMode::Encrypt, WipingOptions());
      for (const auto& f : files) run.run.AddFile(dir / f.first);
      simulation.Record([&] { run.run.ShowList(); });
      ASSERT_EQ(run.run.FailureCount(), 0);
      for (const auto& e : run.run.Entries()) simulation.OutputOf(e.Result->output, e.Path);
      EXPECT_EQ(simulation.Count(FileOperation::FolderSync), 1u);
      Report("grouped encrypt", simulation, simulation.Replay());
    }
    {
      CrashSimulation simulation;
      UnattendedRun run(engine::OperationMode::Decrypt, WipingOptions());
      for (const auto& f : files) {
        simulation.AddSource(dir / (f.first + ".enc"));
        run.run.AddFile(dir / (f.first + ".enc"));
      }
      simulation.Record([&] { run.run.ShowList(); });
      ASSERT_EQ(run.run.FailureCount(), 0);
      for (const auto& e : run.run.Entries()) simulation.OutputOf(e.Result->output, e.Path);
      EXPECT_EQ(simulation.Count(FileOperation::FolderSync), 1u);
      Report("grouped decrypt", simulation, simulation.Replay());
    }
    platform::SetFaultHook(nullptr);
    for (const auto& [name, bytes] : files) EXPECT_EQ(ReadAll(dir / name), bytes) << name;
  }
}

// The model itself: it finds a wipe that follows a link whose folder was not flushed (a loss), a
// source removed before its overwrite was flushed, and an output named before its data was.
TEST(CrashSimulation, ModelFindsEachBreakOfTheOrder) {
  struct Case {
    const char* what;
    bool folderFlushed;
    bool overwriteFlushed;
    bool dataFlushedFirst;
    bool lost;
    bool broken;
  };
  const Case cases[] = {
      {"in order", true, true, true, false, false},
      {"a wipe before the folder flush", false, true, true, true, false},
      {"a source removed before its overwrite was flushed", true, false, true, false, true},
      {"an output named before its data was flushed", true, true, false, false, true},
  };
  TempDir dir;
  const std::string source = dir / "a.txt";
  const std::string output = dir / "a.txt.enc";
  WriteAll(source, "a");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CrashSimulation simulation;
    simulation.AddSource(source);
    simulation.Record([&] {
      const auto event = [](FileOperation op, const std::string& path, std::uint64_t inode,
                            bool exclusive = false) {
        platform::ReportEvent(FileEvent{op, path, {}, inode, exclusive});
      };
      event(FileOperation::Create, dir.path(), 900001);
      event(FileOperation::Write, dir.path(), 900001);
      if (c.dataFlushedFirst) event(FileOperation::Sync, dir.path(), 900001);
      event(FileOperation::Link, output, 900001);
      if (!c.dataFlushedFirst) event(FileOperation::Sync, output, 900001);
      if (c.folderFlushed) event(FileOperation::FolderSync, output, 0);
      event(FileOperation::Open, source, 0, true);
      event(FileOperation::Write, source, 0);
      if (c.overwriteFlushed) event(FileOperation::Sync, source, 0);
      event(FileOperation::Delete, source, 0);
    });
    simulation.OutputOf(output, source);
    const auto summary = simulation.Replay();
    EXPECT_EQ(!summary.losses.empty(), c.lost);
    EXPECT_EQ(!summary.faults.empty(), c.broken);
  }
}

} // namespace
} // namespace qk::test
