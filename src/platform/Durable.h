// The order that makes a new file safe to rely on before anything it replaces is touched: its
// data flushed to the disk, its name linked, and the folder holding the name flushed, so that a
// power cut at any moment leaves either the old state or the new file whole under its name.
// Every output of a run and every save of the settings file is named through PublishDurably.
#pragma once

#include "platform/File.h"

#include <string>

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

} // namespace qk::platform
