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

// The name a decryption writes for a stored name. A name that could act on its own where it is
// written gets "_RENAMED" after it: one that begins with "." (a hidden file, and in a home folder
// possibly one that a shell, the login or another program reads and runs: .profile, .bashrc,
// .ssh ...), one that begins with "-" (an option to a program that a later "rm *" or "tar *"
// hands it to), and one that holds a character that acts on a terminal or a listing as the
// report's escaping finds them (platform::ActsOnTerminal: C0 and C1 controls, DEL, line and
// paragraph separators, bidirectional controls: a line break that forges a listing, an escape
// sequence that acts on a terminal, an override that shows "txt.exe" as "exe.txt"). A leading "-"
// and each such character are written as "_", so that the name neither reads as an option nor hides
// what it holds. Every other name is kept as it is.
std::string WrittenName(const std::string& storedName);

// Where a decryption writes by default: the stored name (as WrittenName writes it) in the
// container's folder, made unique. A received container cannot plant a start-up file or an
// option by its stored name.
// When that is the container itself (a name the existence test did not see as taken), ".dec" is
// appended and renameAfter set, so that the output gets the container's name once it is gone.
std::string DecryptedOutputPath(const std::string& container, const std::string& storedName,
                                bool& renameAfter);
// The name a decryption asks for first: the stored name beside the container, not looked up (a
// taken one is found when the output is named, and DecryptedOutputPath gives another then),
// unless it is the container's own name.
std::string FirstDecryptedPath(const std::string& container, const std::string& storedName,
                               bool& renameAfter);

} // namespace qk::engine
