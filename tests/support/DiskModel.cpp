#include "support/DiskModel.h"

#include <filesystem>

namespace qk::test {

namespace {

using platform::FileEvent;
using platform::FileOperation;

std::string FolderOf(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

} // namespace

int DiskModel::Existing(const std::string& name) {
  const int id = NewFile();
  names_[name] = id;
  durable_[name] = id;
  return id;
}

void DiskModel::Apply(const FileEvent& e) {
  switch (e.operation) {
  case FileOperation::Create: {
    const int id = NewFile();
    byInode_[e.inode] = id;
    // A file made without a name has its folder as path.
    if (!std::filesystem::is_directory(e.path)) Add({Entry::Link, e.path, {}, id});
    break;
  }
  case FileOperation::Open:
    if (e.exclusive) wiping_.insert(FileOf(e));
    break;
  case FileOperation::Write: {
    const int id = FileOf(e);
    if (wiping_.count(id)) {
      files_[id].destroyed = true;
      ++files_[id].overwrites;
    } else {
      ++files_[id].built;
    }
    break;
  }
  case FileOperation::Sync: {
    Inode& file = files_[FileOf(e)];
    if (file.unlinked) break;
    file.flushed = file.built;
    file.overwritesFlushed = file.overwrites;
    break;
  }
  case FileOperation::Link:
    Add({Entry::Link, e.path, {}, FileOf(e)});
    break;
  case FileOperation::Rename:
    Add({Entry::Rename, e.path, e.target, 0});
    break;
  case FileOperation::Delete:
    Add({Entry::Unlink, e.path, {}, 0});
    break;
  case FileOperation::FolderSync: {
    const std::string folder = FolderOf(e.path);
    std::vector<Entry> still;
    for (const Entry& entry : pending_) {
      const bool here = FolderOf(entry.name) == folder &&
                        (entry.kind != Entry::Rename || FolderOf(entry.target) == folder);
      if (here) {
        Perform(durable_, entry);
      } else {
        still.push_back(entry);
      }
    }
    pending_ = std::move(still);
    break;
  }
  default:
    break;
  }
}

int DiskModel::At(const std::string& name) const {
  const auto found = names_.find(name);
  return found == names_.end() ? 0 : found->second;
}

int DiskModel::LastNamed(const std::string& name) const {
  const auto found = lastNamed_.find(name);
  return found == lastNamed_.end() ? 0 : found->second;
}

int DiskModel::NewFile() {
  files_[++last_] = Inode{};
  return last_;
}

int DiskModel::FileOf(const FileEvent& e) const {
  if (e.inode != 0) {
    const auto found = byInode_.find(e.inode);
    if (found != byInode_.end()) return found->second;
  }
  return At(e.path);
}

void DiskModel::Add(const Entry& entry) {
  if (entry.kind == Entry::Unlink && At(entry.name) != 0) files_[At(entry.name)].unlinked = true;
  Perform(names_, entry);
  if (entry.kind == Entry::Link) lastNamed_[entry.name] = entry.file;
  if (entry.kind == Entry::Rename) lastNamed_[entry.target] = At(entry.target);
  pending_.push_back(entry);
}

void DiskModel::Perform(std::map<std::string, int>& names, const Entry& entry) {
  switch (entry.kind) {
  case Entry::Link:
    names.emplace(entry.name, entry.file);
    break;
  case Entry::Rename: {
    const auto from = names.find(entry.name);
    if (from == names.end()) return; // the name it moves was itself lost
    const int id = from->second;
    names.erase(from);
    names[entry.target] = id;
    break;
  }
  case Entry::Unlink:
    names.erase(entry.name);
    break;
  }
}

} // namespace qk::test
