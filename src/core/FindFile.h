// TFindFile lists the entries of a folder, or of its whole subfolder tree, as full paths; AddFolder
// feeds the files of such a listing to whatever collects them (the confirmation list), and AddPaths
// does the same for any mix of files and folders.
//
// How entries and their attributes read on Linux:
// - Entries of one folder come in byte order of their names; "." and ".." are never listed.
// - ffDirectory: the entry is a folder, symbolic links followed. A link to a folder is therefore a
//   folder entry for the attribute mask and in Folders, but the tree walk never descends into it
//   (subfolders to walk are taken without following links), so a walk cannot loop. A dangling
//   link is a plain file entry.
// - ffHidden: the name begins with ".".
// - ffReadOnly and ffArchive never keep an entry out, so they are not looked at.
// A folder that does not exist or cannot be read lists nothing; no error is raised, but one
// that exists and cannot be opened or read to the end (no permission, swapped for a link or for
// another folder since it was found) is kept in Unreadable with its reason, so that whoever
// collects the files can say that some were not reached.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace qk::core {

// One attribute bit of a directory entry.
enum class TAttrOption : std::uint8_t {
  ffReadOnly = 1,
  ffHidden = 2,
  ffDirectory = 16,
  ffArchive = 32,
};
using enum TAttrOption;

// A set of TAttrOption; its mask is the sum of the members' bits.
class TAttrOptions {
public:
  constexpr TAttrOptions() = default;
  constexpr TAttrOptions(TAttrOption option) : bits_(static_cast<std::uint8_t>(option)) {}

  constexpr std::uint8_t Mask() const { return bits_; }

  friend constexpr TAttrOptions operator|(TAttrOptions a, TAttrOptions b) {
    return FromMask(a.bits_ | b.bits_);
  }
  // Set difference: the members of a that are not in b.
  friend constexpr TAttrOptions operator-(TAttrOptions a, TAttrOptions b) {
    return FromMask(a.bits_ & ~b.bits_);
  }
  friend constexpr bool operator==(TAttrOptions a, TAttrOptions b) = default;

private:
  static constexpr TAttrOptions FromMask(int bits) {
    TAttrOptions set;
    set.bits_ = static_cast<std::uint8_t>(bits);
    return set;
  }
  std::uint8_t bits_ = 0;
};

constexpr TAttrOptions operator|(TAttrOption a, TAttrOption b) {
  return TAttrOptions(a) | TAttrOptions(b);
}

class TFindFile {
public:
  // false: list only Directory itself; true: Directory and every folder below it, breadth first.
  bool Recurse = false;
  // The folder to search; "/" is added at search time when it does not end with one. Empty lists
  // nothing.
  std::string Directory;
  // The result of the last search: one full path (folder + "/" + name) per entry.
  std::vector<std::string> Files;
  // For each entry of Files, whether it is a folder (symbolic links followed), as it was listed.
  std::vector<bool> Folders;
  // Folders of the last search that exist but could not be opened or read, with the errno why,
  // in the order met.
  struct UnreadableFolder {
    std::string path; // with its trailing "/"
    int error = 0;
  };
  std::vector<UnreadableFolder> Unreadable;
  // Kinds of entries that may be listed: an entry is passed over when it is hidden or a folder
  // and that is not in this set.
  TAttrOptions Attributes = ffReadOnly | ffHidden | ffArchive;

  // Runs one search with the current properties, replacing Files, Folders and Unreadable.
  void Execute();

private:
  void ScanFolder(const std::string& folder);
  void ScanTree(const std::string& start);
  // Opens folder and reads its names; on success fd is a descriptor of it for the caller to close.
  // A failure is kept in Unreadable.
  bool ReadFolder(const std::string& folder, int& fd, std::vector<std::string>& names);
  void NoteUnreadable(const std::string& folder, int error);
  // Lists the entries names of folder (open as fd) that pass the mask.
  void ListEntries(const std::string& path, int fd, const std::vector<std::string>& names);
  // Appends the paths (without trailing "/") of folder's real subfolders to queue: hidden ones
  // included, whatever Attributes says; links to folders left out.
  static void ListSubfolders(const std::string& folder, int fd,
                             const std::vector<std::string>& names, std::deque<std::string>& queue);

  std::uint8_t mask_ = 0;
};

using AddFileEvent = std::function<void(const std::string& path)>;
// A folder that could not be opened or read (TFindFile::Unreadable), with the errno why.
using AddUnreadableEvent = std::function<void(const std::string& folder, int error)>;

// Sets finder.Directory to path, runs finder.Execute(), and calls addFile, in order, for every
// listed path that is not a folder (links followed), then addUnreadable, when given, for every
// folder that could not be read. Whether subfolders are walked and which entries are listed is up
// to the finder's other properties.
void AddFolder(TFindFile& finder, const std::string& path, const AddFileEvent& addFile,
               const AddUnreadableEvent& addUnreadable = {});

// The paths a user hands over (a drop, the file dialog, the command line), in order: a folder (or
// a link to one), or a path that does not exist (an empty folder), goes through AddFolder;
// anything else is one file, noted (platform/Listed.h) so that it is reached as a walked file is:
// a link named this way is itself the file, and is refused as one.
void AddPaths(TFindFile& finder, const std::vector<std::string>& paths, const AddFileEvent& addFile,
              const AddUnreadableEvent& addUnreadable = {});

} // namespace qk::core
