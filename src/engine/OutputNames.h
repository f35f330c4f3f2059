// Names of the files a run writes: never an existing name ("_RENAMED"), random names for the
// random naming mode, and the name a decryption writes to.
#pragma once

#include "engine/Random.h"

#include <string>

namespace qk::engine {

// While a file exists at path: path + "_RENAMED" + its extension.
std::string MakeUniquePath(std::string path);

// A free path in the source's folder: 7 characters from "e".."x" and "0".."9" + extension.
std::string MakeRandomName(const std::string& source, const std::string& extension, Random& random);
// One character of a random name: a letter from "e" to "x" or a digit, each half the time.
char RandomNameChar(Random& random);

// Whether a stored name begins with ".": a hidden file, and in a home folder possibly one that a
// shell, the login or another program reads and runs (.profile, .bashrc, .ssh, .config ...).
bool IsHiddenName(const std::string& storedName);

// Where a decryption writes by default: the stored name in the container's folder, made unique.
// A hidden name (IsHiddenName) gets "_RENAMED" after it first: a received container cannot plant
// a start-up file by its stored name.
// When that is the container itself (a name the existence test did not see as taken), ".dec" is
// appended and renameAfter set, so that the output gets the container's name once it is gone.
std::string DecryptedOutputPath(const std::string& container, const std::string& storedName,
                                bool& renameAfter);

} // namespace qk::engine
