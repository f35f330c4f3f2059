// qk-cli refuses to wipe a file that has other names, says why on standard error, and changes
// neither name.
#include "cli/RunQk.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace qk::test {
namespace {

TEST(HardLinks, WipeRefusesAndSaysWhy) {
  TempDir dir;
  WriteAll(dir / "a", "both names see this");
  ASSERT_EQ(link((dir / "a").c_str(), (dir / "b").c_str()), 0);
  const Outcome o = RunQk({"wipe", "--ini", dir / "none.ini", dir / "a"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(
      o.out.find("＊抹消不可(ファイルが無効or読み取り専用orロックされている可能性があります。) : " +
                 dir / "a"),
      std::string::npos)
      << o.out;
  EXPECT_NE(o.err.find("qk-cli: " + dir / "a" + ": not wiped: the file has 2 names (hard links)"),
            std::string::npos)
      << o.err;
  EXPECT_EQ(ReadAll(dir / "a"), "both names see this");
  EXPECT_EQ(ReadAll(dir / "b"), "both names see this");
}

} // namespace
} // namespace qk::test
