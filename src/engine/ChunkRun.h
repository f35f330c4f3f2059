// One chunk of a run: consecutive entries of one folder, taken together through the phases that
// keep the durable order. Each phase moves every entry still on its way one step:
//
//   write     the output made nameless and filled                 Planned    -> Written
//   flush     the outputs' data flushed together                  (Written)
//   name      each output linked under its name                   Written    -> Named
//   folder    the folder of the names flushed                     Named      -> Durable
//   prove     each output read back from the disk and checked     Durable    -> Proved
//   overwrite each source overwritten in place                    Proved     -> Overwritten
//   flush     the overwrites flushed together                     (Overwritten)
//   remove    each overwritten source's name removed              Overwritten-> Removed
//
// An entry whose source stays (no wipe asked for) ends at Durable; an entry that fails, or whose
// wipe cannot go on, ends where it is, its result saying why. Nothing of an entry is touched
// before the step that allows it: a move out of order stops the program.
#pragma once

#include "engine/FileEngine.h"
#include "engine/Random.h"
#include "engine/Result.h"
#include "engine/RunState.h"
#include "platform/File.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qk::engine {

struct BatchOptions;
struct ListEntry;

// The most entries of one folder that a chunk takes: the most sources that wait for one flush of
// their folder.
inline constexpr std::size_t kChunkLimit = 256;

// What the chunk tells the run around it while it works.
class ChunkHost {
public:
  virtual ~ChunkHost() = default;
  // The operation of the entry at index begins (suffix: "を暗号化中", ...).
  virtual void Began(std::size_t index, const char* suffix) = 0;
  // A source's overwrite begins (on) or has ended (off): the skip button's time.
  virtual void Wiping(bool on) = 0;
};

// The decided result of one entry of the list.
struct Finished {
  std::size_t index = 0;
  FileResult result;
};

class ChunkRun {
public:
  enum class Step : std::uint8_t {
    Planned,
    Written,
    Named,
    Durable,
    Proved,
    Overwritten,
    Removed,
    Ended, // goes no further; its result says why
  };

  ChunkRun(FileEngine& engine, RunState& state, const BatchOptions& options, Random& random,
           ChunkHost& host);

  // Runs the entries [first, last) of list through every phase and appends their results to
  // done. An entry not begun (the run was asked to stop, or the descriptors kept for later ran
  // out) gets none. Returns the index of the first entry not begun. Raises what a host call
  // raised, once every output still nameless has gone.
  std::size_t Run(const std::vector<ListEntry>& list, std::size_t first, std::size_t last,
                  std::vector<Finished>& done);

private:
  struct Item {
    std::size_t index = 0;
    const ListEntry* entry = nullptr;
    Step step = Step::Planned;
    FileResult result;
    // Written and nameless until the name phase; the name it is to get is in result.output.
    std::optional<FileEngine::Held> held;
    platform::KeptFile kept;
    // Its source goes once its output is proved: the plaintext the output must hold, and the
    // source as it was read.
    bool wipe = false;
    FileEngine::PlainDigest digest{};
    platform::FileStamp stamp;
    // Its output's cached pages were dropped and its reading from the disk begun when it was named.
    bool readBackBegun = false;
    platform::File overwritten;
  };

  std::size_t Write(const std::vector<ListEntry>& list, std::size_t first, std::size_t last);
  void FlushData();
  void Name();
  void FlushFolder();
  void Prove();
  void Overwrite();
  void FlushOverwrites();
  void Remove();
  void Complete(std::vector<Finished>& done);
  // Drops what is still nameless after a host call raised.
  void Discard();

  FileResult Encrypt(Item& item);
  FileResult Decrypt(Item& item);
  FileResult WipeOnly(Item& item);
  // A file found in a folder whose work an earlier run did already: none when there is still
  // work to do.
  std::optional<FileResult> DoneBefore(Item& item, const std::string& output);

  static void Move(Item& item, Step from, Step to);
  void End(Item& item, Outcome failed, int error);
  bool Decrypting() const;
  bool WipesSources() const;
  bool Stopping() const;
  // An output that is not to stay: a decrypted file is plaintext and is wiped, a container is
  // removed.
  void RemoveOutput(const std::string& output);

  FileEngine& engine_;
  RunState& state_;
  const BatchOptions& options_;
  Random& random_;
  ChunkHost& host_;
  std::vector<Item> items_;
};

} // namespace qk::engine
