// The order that makes a new file safe to rely on before anything it replaces is touched: its
// data flushed to the disk, its name linked, and the folder holding the name flushed, so that a
// power cut at any moment leaves either the old state or the new file whole under its name.
// Every save of the settings file is named through PublishDurably; the outputs of a run keep the
// same order in chunks, with one flush of their folder (engine/ChunkRun.h).
#pragma once

#include "platform/File.h"

#include <cstddef>
#include <cstdint>
#include <functional>
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

// An output written and nameless, to be named once its data is on the disk: its file, the name it
// is to get, how, and where else it goes when that name is taken meanwhile (none: it fails).
struct HeldOutput {
  File file;
  std::string path;
  Naming naming = Naming::New;
  std::function<std::string()> another;
};

} // namespace qk::platform
