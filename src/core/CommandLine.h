// The program's command line: switches and paths turned into the confirmation list's state, and
// the decision of what the start-up does next.
#pragma once

#include "core/FindFile.h"
#include "engine/BatchRun.h"
#include "platform/HandOver.h"

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
  Refuse,        // a command line a planted word could have changed (RefusalOf): nothing is done
};

// The word that ends the switches: every word after it is a path.
inline constexpr const char* kEndOfSwitches = "--";
bool IsEndOfSwitches(const std::string& word);

// Why a command line is refused as a whole. A word that another user planted in a shared folder
// reaches "qk -E -F -P pw *" through the glob; whether a file of that name is still there when the
// program looks is a race, so besides that look, a planted word may never change what the user
// typed: a second, different mode or a second password refuses the command line. So does an
// output named like the hidden working files, which later runs clear away.
struct Refusal {
  enum class Why {
    NamesAFile,    // a switch that also names a file (AmbiguousSwitch)
    OtherMode,     // a mode switch after a different one
    PasswordTwice, // a second "-P"
    HiddenOutput,  // an output ("-A") named like QK's hidden working files
  };
  Why why = Why::NamesAFile;
  std::string word; // the word that is refused, as given
};
std::optional<Refusal> RefusalOf(const std::vector<std::string>& args, const std::string& startDir);

// The refusal as one line for the report stream of a run without questions ("qk: ..."), and as
// the text of the warning box, with the refused word already made fit to show (shownWord).
std::string RefusalLine(const Refusal& refusal);
std::string RefusalWarning(const Refusal& refusal, const std::string& shownWord);

// Switches are compared trimmed and upper-cased; a switch with a value consumes the next
// argument, whatever it looks like ("--" too); paths are made absolute against startDir; folders
// are expanded with finder. "--" ends the switches. Each path that names nothing is appended, as
// given, to missing when that is given. A command line that RefusalOf refuses is refused as a
// whole: StartAction::Refuse, with the refusal in refusal when that is given, and run, finder and
// missing are left as they were.
StartAction ParseCommandLine(const std::vector<std::string>& args, const std::string& startDir,
                             engine::BatchRun& run, TFindFile& finder,
                             std::vector<std::string>* missing = nullptr,
                             std::optional<Refusal>* refusal = nullptr);

// The first word before "--" that is a switch and also names an existing file (relative to
// startDir), as given; empty when there is none. Such a word is ambiguous: a file that another
// user named "-F" or "-W" in a shared folder reaches "qk -E *" as a switch. Paths go after "--".
std::string AmbiguousSwitch(const std::vector<std::string>& args, const std::string& startDir);

// Whether the command line asks for a run without questions: "-A" with an output, or "-F" with a
// password or in wipe mode (read as ParseCommandLine reads its switches, without touching any
// file; a switch that also names a file counts as the switch).
bool AsksForUnattendedRun(const std::vector<std::string>& args);

// Carries out StartAction::SingleOutput: the one entry run to OutputNameOverride by the batch run
// as every list is (its name rules and dates), without questions and with its source kept.
void RunSingleOutput(engine::BatchRun& run);

// The indexes in args of the values of "-P", found as ParseCommandLine finds them: a "--" that is
// another switch's value does not end the switches.
std::vector<std::size_t> PasswordArguments(const std::vector<std::string>& args);
// Each password value (PasswordArguments) cleared in place (every byte of its buffer) once the
// command line has been parsed: the run keeps the password in its own state, nowhere else.
void ClearPasswordArguments(std::vector<std::string>& args);
// The same for the process's own argument strings (what the process list shows): taken out of
// the argument area, length and all (platform::HideArguments), so that the list no longer shows
// the password once the program has started.
void HidePasswordArguments(int argc, char** argv);

// What "qk --help" or "qk --version" prints on standard output before the program ends, without
// a window: the usage, or the program's name and version. Empty for any other command line (the
// word alone, so that a file of that name among paths stays a path).
std::string InformationText(const std::vector<std::string>& args, const std::string& version);

// What a second start hands to the copy that runs (platform/HandOver.h): the mode in force at its
// first path and its paths, made absolute against startDir. The password, the hint and "-I" stay
// behind. None for a start that asks for a run without questions (AsksForUnattendedRun) or that
// would be refused (AmbiguousSwitch): those are told that a copy runs, as before.
std::optional<platform::HandOverRequest> HandOverOf(const std::vector<std::string>& args,
                                                    const std::string& startDir);

// Blanks and control characters removed at both ends.
std::string Trim(const std::string& text);

} // namespace qk::core
