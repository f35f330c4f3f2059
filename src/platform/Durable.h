// The order that makes a new file safe to rely on before anything it replaces is touched: its
// data flushed to the disk, its name linked, and the folder holding the name flushed, so that a
// power cut at any moment leaves either the old state or the new file whole under its name.
// Every save of the settings file is named through PublishDurably; the outputs of a run through
// a DurableGroup, which keeps the same order for a batch of outputs with one flush of their folder.
#pragma once

#include "platform/File.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace qk::platform {

// Flushes the entries of the folder holding path (names made, moved or removed there) to the
// disk, through the folder's descriptor. A file system that cannot flush folders (EINVAL) counts
// as flushed. Raises IoError.
void SyncFolderOf(const std::string& path);

enum class Naming {
  New,       // never over anything that exists (File::Publish)
  Replacing, // over a regular file of the user's own (File::PublishReplacing)
};

// Names file, made by File::CreateHidden, path durably: its data flushed, the name given, the
// folder flushed. False (errno set) when the name could not be given; the file stays nameless
// then and the caller may try another name. Raises IoError when a flush fails; file.Published()
// tells whether the name was given before that.
bool PublishDurably(File& file, const std::string& path, Naming naming);

// Outputs named one after another, made durable together: each one's data is flushed and its
// name given at once, and the flush of their folder is owed until the group moves on to another
// folder, too much work waits for it, or Flush is called. Work that may only be done once the
// outputs named so far are durable (the wipe of what they replace) is handed in with AfterDurable
// and runs after that flush, in the order it was handed in; nothing of it runs before.
class DurableGroup {
public:
  // What waits for the outputs: called with 0 once they are durable, or with the errno of the
  // folder flush that failed (they may then not be on the disk, and nothing they stand for may be
  // touched).
  using Work = std::function<void(int error)>;
  // limit: the most pieces of holding work (see AfterDurable) that wait at once.
  explicit DurableGroup(std::size_t limit = kDefaultLimit);
  // Drops waiting work without running it (a run that was broken off): what it would have
  // touched stays as it is.
  ~DurableGroup();
  DurableGroup(const DurableGroup&) = delete;
  DurableGroup& operator=(const DurableGroup&) = delete;

  static constexpr std::size_t kDefaultLimit = 48;

  // Names file, made by File::CreateHidden, path: its data flushed, the name given; its folder's
  // flush owed. When path is in another folder than the outputs named before, those are made
  // durable first (Flush). False (errno set) when the name could not be given, as PublishDurably.
  // Raises IoError when the data flush fails.
  bool Publish(File& file, const std::string& path, Naming naming);
  // Runs work once every output named so far is durable: at once when it is already, else after
  // the owed flush. Holding work (a wipe that waits) counts towards the limit, and reaching it
  // flushes; other work (what only reports a failed flush) does not.
  void AfterDurable(Work work, bool holding);
  // Flushes the folder owed, then runs the waiting work. Work that raises is passed on once the
  // rest has run.
  void Flush();
  // Drops the waiting work without running it; the folder is still flushed where it can be.
  void Discard();

private:
  std::size_t limit_;
  bool owed_ = false;
  std::string lastPath_; // the last output whose folder's flush is owed
  std::vector<Work> waiting_;
  std::size_t holding_ = 0;
};

} // namespace qk::platform
