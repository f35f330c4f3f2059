// The program's command line: switches and paths turned into the confirmation list's state, and
// the decision of what the start-up does next.
#pragma once

#include "core/FindFile.h"
#include "engine/BatchRun.h"

#include <optional>
#include <string>
#include <vector>

namespace qk::core {

enum class StartAction {
  SingleOutput,  // "-A": run the one entry to OutputNameOverride without questions, then close
  Close,         // "-A" with a list that does not hold exactly one entry: close at once
  EncryptDialog, // empty list in encrypt mode: the file dialog of the encrypt target
  DecryptDialog, // empty list in decrypt mode
  OptionsDialog, // empty list in wipe mode: the options dialog with its wipe bin
  ShowList,      // show the confirmation list (which runs at once with "-F")
};

// The word that ends the switches: every word after it is a path.
inline constexpr const char* kEndOfSwitches = "--";
bool IsEndOfSwitches(const std::string& word);

// Switches are compared trimmed and upper-cased; a switch with a value consumes the next
// argument; paths are made absolute against startDir; folders are expanded with finder. "--"
// ends the switches, and a word that names an existing file (relative to startDir) is a path
// unless it is a switch exactly as written ("-W"): " -w" or "-w" are then paths. Each path that
// names nothing is appended, as given, to missing when that is given.
StartAction ParseCommandLine(const std::vector<std::string>& args, const std::string& startDir,
                             engine::BatchRun& run, TFindFile& finder,
                             std::vector<std::string>* missing = nullptr);

// Whether the command line asks for a run without questions: "-A" with an output, or "-F" with a
// password or in wipe mode (read as ParseCommandLine reads it, without touching any file).
bool AsksForUnattendedRun(const std::vector<std::string>& args, const std::string& startDir);

// Carries out StartAction::SingleOutput: the one entry run to OutputNameOverride by the batch run
// as every list is (its name rules and dates), without questions and with its source kept.
void RunSingleOutput(engine::BatchRun& run);

// The value after each "-P" cleared in place (every byte of its buffer) once the command line
// has been parsed: the run keeps the password in its own state, nowhere else.
void ClearPasswordArguments(std::vector<std::string>& args);
// The same for the process's own argument strings (what the process list shows): taken out of
// the argument area, length and all (platform::HideArguments), so that the list no longer shows
// the password once the program has started. Nothing after "--" is a switch.
void HidePasswordArguments(int argc, char** argv);

// Blanks and control characters removed at both ends.
std::string Trim(const std::string& text);

} // namespace qk::core
