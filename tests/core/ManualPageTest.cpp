// The manual page qk(1) lists exactly the switches the program's command line knows, and marks
// exactly those that take a value. The program is asked, not its source: a switch is a word
// that is not taken as a path even when a file of that name exists. Every page names the version
// the build gives the programs.
#include "Version.h"
#include "core/CommandLine.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <cctype>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>

namespace qk::test {
namespace {

// Switch letter -> whether it takes a value, from the page's tagged items (".B \-E",
// ".BI \-P " value"").
std::map<char, bool> SwitchesOfThePage(const std::string& page) {
  std::map<char, bool> switches;
  std::istringstream lines(page);
  std::string previous;
  for (std::string line; std::getline(lines, line); previous = line) {
    if (previous != ".TP") continue;
    const bool takesValue = line.rfind(".BI \\-", 0) == 0;
    const std::size_t at = takesValue ? 6 : line.rfind(".B \\-", 0) == 0 ? 5 : 0;
    if (at == 0 || line.size() <= at || !std::isalpha(static_cast<unsigned char>(line[at])))
      continue;
    if (line.size() > at + 1 && line[at + 1] != ' ') continue;
    switches[line[at]] = takesValue;
  }
  return switches;
}

// How the program takes "-<letter>": nullopt for a path, else whether it takes a value.
std::optional<bool> HowTheProgramTakes(char letter) {
  TempDir dir;
  const std::string word = std::string("-") + letter;
  // A file of the switch's own name, and one more: a word that is a path adds the first, a
  // switch with a value swallows the second.
  WriteAll(dir / word, "x");
  WriteAll(dir / "next", "x");
  RecordingHost host;
  engine::BatchOptions options;
  engine::Random random(1);
  engine::BatchRun run(host, options, random);
  core::TFindFile finder;
  core::ParseCommandLine({word, "next"}, dir.path(), run, finder);
  switch (run.Entries().size()) {
  case 2:
    return std::nullopt;
  case 1:
    return false;
  default:
    return true;
  }
}

TEST(ManualPage, ListsTheSwitchesOfTheCommandLine) {
  const std::string page = ReadAll(std::string(QK_DOC_DIR) + "/qk.1");
  const auto listed = SwitchesOfThePage(page);
  ASSERT_FALSE(listed.empty());
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const auto known = HowTheProgramTakes(letter);
    const auto it = listed.find(letter);
    if (!known) {
      EXPECT_EQ(it, listed.end()) << "qk.1 lists -" << letter << ", which qk takes as a path";
      continue;
    }
    ASSERT_NE(it, listed.end()) << "qk knows -" << letter << " but qk.1 does not list it";
    EXPECT_EQ(it->second, *known) << "-" << letter << (*known ? " takes" : " takes no")
                                  << " value, qk.1 says otherwise";
  }
  for (const auto& [letter, takesValue] : listed) {
    EXPECT_TRUE(letter >= 'A' && letter <= 'Z') << "qk.1 lists -" << letter << " in lower case";
  }
}

TEST(ManualPage, NamesTheVersionOfTheBuild) {
  const std::string version = QK_DISPLAY_VERSION;
  const struct {
    std::string path, mention;
  } pages[] = {
      {std::string(QK_DOC_DIR) + "/qk.1", "\"QK " + version + "\""},
      {std::string(QK_DOC_DIR) + "/qk-cli.1", "\"QK " + version + "\""},
      {std::string(QK_MANUAL_DIR) + "/index.html", "QK Ver" + version},
      {std::string(QK_MANUAL_DIR) + "/en.html", "QK Ver" + version},
  };
  for (const auto& page : pages) {
    EXPECT_NE(ReadAll(page.path).find(page.mention), std::string::npos)
        << page.path << " does not name " << page.mention;
  }
}

} // namespace
} // namespace qk::test
