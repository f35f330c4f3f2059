// The order that makes a new file safe to rely on before anything it replaces is touched: its
// data flushed to the disk, its name linked, and the folder holding the name flushed, so that a
// power cut at any moment leaves either the old state or the new file whole under its name.
// Every save of the settings file is named through PublishDurably; the outputs of a run through
// a DurableGroup, which keeps the same order for a batch of outputs with one flush of their folder.
#pragma once

#include "platform/File.h"

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qk::platform {

// Flushes the entries of the folder holding path (names made, moved or removed there) to the
// disk, through the folder's descriptor. A file system that cannot flush folders (EINVAL) counts
// as flushed. Raises IoError.
void SyncFolderOf(const std::string& path);

// Names file, made by File::CreateHidden, path durably: its data flushed, the name given, the
// folder flushed. False (errno set) when the name could not be given; the file stays nameless
// then and the caller may try another name. Raises IoError when a flush fails; file.Published()
// tells whether the name was given before that.
bool PublishDurably(File& file, const std::string& path, Naming naming);

// Flushes files together: the writing of every one of them is started first (File::StartFlush),
// then each is flushed on its own (SyncData with dataOnly, else Sync), so that the file system
// commits them at once and the later flushes find their work done. The flushes wait on several
// threads at once, so that the disk empties its cache once for many of them. The errno of each
// file's flush, 0 where it succeeded; a single file is flushed alone.
std::vector<int> FlushTogether(const std::vector<File*>& files, bool dataOnly);

// Names file, made by File::CreateHidden, path (its data flushed already); when the name is taken
// (a new name only) path := another() and again, a few times. 0, or the errno why not.
int NameOutput(File& file, std::string& path, Naming naming,
               const std::function<std::string()>& another);

// Outputs made durable together, in the order of platform/Durable.h's first lines, and the
// overwrites of what they replace after them. An output is either named at once (Publish: its
// data flushed on its own, the name given, the flush of its folder owed) or held (Hold: nameless
// until the group's flush, which flushes the data of every held output together, then names
// them, then flushes their folder once). The flush is due when the group moves on to another
// folder, when the limit of waiting work is reached, or when Flush is called. Work that may only
// be done once the outputs are durable (the wipe of what they replace) waits in the group and runs
// after that flush, in the order it was handed in; nothing of it runs before. A wipe's overwrite
// handed back during that work (AfterOverwrite) is flushed together with the others of the same
// flush, and only then is the rest of each wipe (the removal of the name) done.
class DurableGroup {
public:
  // What waits for the outputs: called with 0 once they are durable, or with the errno of the
  // flush that failed (they may then not be on the disk, and nothing they stand for may be
  // touched).
  using Work = std::function<void(int error)>;
  // An output held back until the group's flush: its file, written and nameless, the name it is
  // to get, how, and where else it goes when that name is taken meanwhile (none: it fails).
  struct Output {
    File file;
    std::string path;
    Naming naming = Naming::New;
    std::function<std::string()> another;
    // To be read back from the disk once durable: its cached pages are dropped then and its
    // reading begun together with the others' (File::DropCache with readAgain), before the
    // waiting work runs.
    bool readBack = false;
  };
  // What waits for a held output: called with 0 once it is durable under output.path, or with
  // the errno why it is not (its data flush or its name failed: the file is still nameless, and
  // goes with output.file; or the folder flush failed: it has its name, and may not be on the
  // disk).
  using Landed = std::function<void(int error, Output& output)>;

  // limit: the most pieces of holding work (see AfterDurable, Hold) that wait at once. The held
  // outputs of all groups of the process together are held to a quarter of the descriptors it
  // may open.
  explicit DurableGroup(std::size_t limit = kDefaultLimit);
  // Drops waiting work without running it (a run that was broken off): what it would have
  // touched stays as it is, and held outputs go without a name.
  ~DurableGroup();
  DurableGroup(const DurableGroup&) = delete;
  DurableGroup& operator=(const DurableGroup&) = delete;

  static constexpr std::size_t kDefaultLimit = 256;
  // The largest output that is held; a bigger one is named at once after its own flush, which
  // costs little beside the writing of its data.
  static constexpr std::int64_t kHeldBytes = 1 << 20;

  // Names file, made by File::CreateHidden, path: its data flushed, the name given; its folder's
  // flush owed. When path is in another folder than the outputs named or held before, those are
  // made durable first (Flush). False (errno set) when the name could not be given, as
  // PublishDurably. Raises IoError when the data flush fails.
  bool Publish(File& file, const std::string& path, Naming naming);
  // Holds output until the group's flush, then calls landed (in the order of the waiting work).
  // In another folder than the outputs before, those are made durable first. Counts towards the
  // limit.
  void Hold(Output output, Landed landed);
  // Runs work once every output named or held so far is durable: at once when there are none
  // waiting, else after the flush. Holding work (a wipe that waits) counts towards the limit,
  // and reaching it flushes; other work (what only reports a failed flush) does not.
  void AfterDurable(Work work, bool holding);
  // Takes file, overwritten in place by work that runs in a flush: its overwrite is flushed
  // together with the others handed in during that flush, after that work, and done is called
  // then with 0 or the errno of its flush (the overwrite may then not be on the disk), or EBUSY
  // when the file is no longer held alone (File::StillHeldAlone). Outside a flush, the overwrite
  // is flushed at once.
  void AfterOverwrite(File file, Work done);
  // Flushes what is owed, then runs the waiting work, then flushes the overwrites it handed back
  // and runs their work. Work that raises is passed on once the rest has run.
  void Flush();
  // Drops the waiting work and the held outputs without running or naming them, each held output
  // handed to drop (which must not raise) before it goes; the folder is still flushed where it
  // can be.
  void Discard(const std::function<void(Output&)>& drop = {});

private:
  struct Waiting {
    Work work;
    Landed landed;
    std::optional<Output> output; // with landed
    int error = 0;
  };
  struct Overwrite {
    File file;
    Work done;
  };
  // Flushes first when path is in another folder than the outputs waiting.
  void Enter(const std::string& path);
  void Count(bool holding);
  void FlushOverwrites(std::exception_ptr& raised);

  std::size_t limit_;
  bool owed_ = false;    // a folder flush owed for names given
  std::string lastPath_; // the last output named or held
  std::vector<Waiting> waiting_;
  std::size_t holding_ = 0;
  bool flushing_ = false;
  std::vector<Overwrite> overwrites_;
};

} // namespace qk::platform
