// qk-cli refuses to wipe a file that has other names, says why on standard error, and changes
// neither name.
#include "cli/RunQk.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace qk::test {
namespace {

// A wipe of its own, and a source wipe after a run whose password the process hid from its
// argument list (the line still names the program alone).
TEST(HardLinks, WipeRefusesAndSaysWhy) {
  for (const bool source : {false, true}) {
    TempDir dir;
    WriteAll(dir / "a", "both names see this");
    ASSERT_EQ(link((dir / "a").c_str(), (dir / "b").c_str()), 0);
    const Outcome o = source ? RunQk({"encrypt", "--ini", dir / "none.ini", "--wipe-source",
                                      "--password", "pw-pw-pw1", dir / "a"})
                             : RunQk({"wipe", "--ini", dir / "none.ini", dir / "a"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(
        o.out.find(
            "＊抹消不可(ファイルが無効or読み取り専用orロックされている可能性があります。) : "),
        std::string::npos)
        << o.out;
    EXPECT_EQ(
        o.err.rfind("qk-cli: " + dir / "a" + ": not wiped: the file has 2 names (hard links)", 0),
        0u)
        << o.err;
    EXPECT_EQ(ReadAll(dir / "a"), "both names see this");
    EXPECT_EQ(ReadAll(dir / "b"), "both names see this");
  }
}

} // namespace
} // namespace qk::test
