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

// Where a decryption writes by default: the stored name in the container's folder, made unique.
// When that is the container itself (a name the existence test did not see as taken), ".dec" is
// appended and renameAfter set, so that the output gets the container's name once it is gone.
std::string DecryptedOutputPath(const std::string& container, const std::string& storedName,
                                bool& renameAfter);

} // namespace qk::engine
