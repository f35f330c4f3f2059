// The process's argument area: the memory the system shows as the command line in the process
// list and in /proc/<pid>/cmdline, readable by every user of the machine.
#pragma once

#include <vector>

namespace qk::platform {

// Takes the arguments at the indexes in hidden out of what the process list shows, their length
// included. When argv's strings lie one after another as the system laid them out, the area is
// rewritten as one line: the other arguments joined by blanks, ended by a NUL, the rest of the
// area filled with blanks (a last byte that is not NUL makes the system show the area up to its
// first NUL, as for a changed process title). argv's entries then point at copies kept for the
// life of the process, the hidden ones at an empty string, so that whatever reads argv later
// (the toolkit) finds the other arguments as they were. Otherwise (an area that is not one
// piece) each hidden argument is cleared where it is, which still shows its length. The bytes of
// the hidden arguments are cleared with a store the compiler cannot drop.
void HideArguments(int argc, char** argv, const std::vector<int>& hidden);

} // namespace qk::platform
