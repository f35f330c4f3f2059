// The programs are built hardened as Debian builds its packages, and stay so: read from the
// built binaries themselves, so that a flag lost from the build fails here.
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <string>
#include <vector>

namespace qk::test {
namespace {

// Standard output of a command (run by the shell).
std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  std::array<char, 4096> buffer{};
  while (const std::size_t n = std::fread(buffer.data(), 1, buffer.size(), pipe)) {
    out.append(buffer.data(), n);
  }
  ::pclose(pipe);
  return out;
}

std::vector<std::string> Programs() {
  std::vector<std::string> programs{QK_CLI_PATH};
#ifdef QK_GUI_PATH
  programs.push_back(QK_GUI_PATH);
#endif
  return programs;
}

TEST(BuildFlags, ProgramsAreHardened) {
#if !QK_HARDENED
  GTEST_SKIP() << "a sanitizer or fuzzing build; the release_build_is_hardened test checks the "
                  "flags of a release build";
#endif
  if (Output("command -v readelf objdump").empty()) GTEST_SKIP() << "no readelf or objdump";
  for (const std::string& program : Programs()) {
    const std::string header = Output("readelf -W -h -l -d '" + program + "'");
    const std::string imports = Output("readelf -W --dyn-syms '" + program + "'");
    // Position-independent executable: loaded at a random address.
    EXPECT_NE(header.find("DYN (Position-Independent Executable file)"), std::string::npos)
        << program;
    EXPECT_NE(header.find("Flags: NOW PIE"), std::string::npos) << program;
    // Relocations resolved at start and then read-only (-z relro -z now).
    EXPECT_NE(header.find("GNU_RELRO"), std::string::npos) << program;
    EXPECT_NE(header.find("(BIND_NOW)"), std::string::npos) << program;
    // -fstack-protector-strong: functions with arrays check their canary.
    EXPECT_NE(imports.find("__stack_chk_fail"), std::string::npos) << program;
    // -fcf-protection: functions begin with an end-branch marker. The executable carries no
    // IBT/SHSTK property note here: the linker keeps it only when every object has it, and the
    // system's start files (crt1.o, crti.o, crtn.o) do not.
    const std::string main = Output("objdump -d --no-show-raw-insn --disassemble=main '" + program +
                                    "' | grep -A2 '<main>:'");
    EXPECT_NE(main.find("endbr64"), std::string::npos) << program << "\n" << main;
#ifdef __OPTIMIZE__
    // _FORTIFY_SOURCE (which needs the optimiser): calls whose sizes are known go to the
    // checking variants.
    EXPECT_NE(imports.find("_chk"), std::string::npos) << program;
#endif
  }
}

} // namespace
} // namespace qk::test
