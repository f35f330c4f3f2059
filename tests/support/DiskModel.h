// A disk that keeps nothing it was not told to flush, fed with the events of a run (the event seam
// of platform/File.h): data written since its file's last flush may be lost, and so may each name
// made, moved or removed since its folder's last flush (each one on its own); an overwrite begun by
// a wipe may have reached the disk at once; what a file's name was removed before it was flushed
// never reaches the disk. Files are known by a number of the model's own, names by path.
#pragma once

#include "platform/File.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace qk::test {

class DiskModel {
public:
  struct Entry {
    enum Kind { Link, Rename, Unlink } kind;
    std::string name;
    std::string target; // Rename
    int file = 0;       // Link
  };
  struct Inode {
    int built = 0;          // writes that made it
    int flushed = 0;        // of those, the ones flushed
    bool destroyed = false; // a wipe began to overwrite it
    int overwrites = 0;     // writes of its wipe
    int overwritesFlushed = 0;
    bool unlinked = false; // its name removed: a flush after that no longer counts
  };

  // A file that exists before the run, under name.
  int Existing(const std::string& name);
  void Apply(const platform::FileEvent& e);

  // The file now at name (0 when none).
  int At(const std::string& name) const;
  // The file last given name during the run, whether it still has it or not (0 when none).
  int LastNamed(const std::string& name) const;
  const std::map<int, Inode>& Files() const { return files_; }
  bool Wiping(int id) const { return wiping_.count(id) != 0; }
  std::size_t Pending() const { return pending_.size(); }

  // Calls check with the names of every state a crash now may leave.
  template <class Check> void ForEachCrash(const Check& check) const {
    const std::size_t n = pending_.size();
    for (std::uint64_t kept = 0; kept < (std::uint64_t{1} << n); ++kept) {
      std::map<std::string, int> names = durable_;
      for (std::size_t i = 0; i < n; ++i) {
        if (kept & (std::uint64_t{1} << i)) Perform(names, pending_[i]);
      }
      check(names);
    }
  }

private:
  int NewFile();
  int FileOf(const platform::FileEvent& e) const;
  void Add(const Entry& entry);
  static void Perform(std::map<std::string, int>& names, const Entry& entry);

  int last_ = 0;
  std::map<int, Inode> files_;
  std::map<std::uint64_t, int> byInode_;
  std::set<int> wiping_;
  std::map<std::string, int> names_;
  std::map<std::string, int> lastNamed_;
  std::map<std::string, int> durable_;
  std::vector<Entry> pending_;
};

} // namespace qk::test
