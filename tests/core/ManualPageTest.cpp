// The manual page qk(1) lists exactly the switches the program's command line knows, and marks
// exactly those that take a value. The program is asked, not its source: a switch is a word
// that refuses the command line when a file of that name exists. Every page names the version
// the build gives the programs.
#include "Version.h"
#include "core/CommandLine.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <cctype>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <sstream>
#include <vector>

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
  // A switch is a word that refuses the command line where a file has its name.
  WriteAll(dir / word, "x");
  if (core::AmbiguousSwitch({word}, dir.path()).empty()) return std::nullopt;
  // Without that file, a switch with a value swallows the file that follows it.
  std::remove((dir / word).c_str());
  WriteAll(dir / "next", "x");
  RecordingHost host;
  engine::BatchOptions options;
  engine::Random random(1);
  engine::BatchRun run(host, options, random);
  core::TFindFile finder;
  core::ParseCommandLine({word, "next"}, dir.path(), run, finder);
  return run.Entries().empty();
}

TEST(ManualPage, ListsTheSwitchesOfTheCommandLine) {
  const std::string page = ReadAll(std::string(QK_MAN_DIR) + "/qk.1");
  const auto listed = SwitchesOfThePage(page);
  ASSERT_FALSE(listed.empty());
  // "qk --help" names them too, each at the start of its line, and so does the page.
  const std::string help = core::InformationText({"--help"}, QK_DISPLAY_VERSION);
  EXPECT_NE(page.find(".B \\-\\-help"), std::string::npos);
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    const auto known = HowTheProgramTakes(letter);
    const auto it = listed.find(letter);
    const bool helped = help.find(std::string("\n  -") + letter + " ") != std::string::npos;
    EXPECT_EQ(helped, known.has_value()) << "qk --help and the program differ on -" << letter;
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
      {std::string(QK_MAN_DIR) + "/qk.1", "\"QK " + version + "\""},
      {std::string(QK_MAN_DIR) + "/qk-cli.1", "\"QK " + version + "\""},
      {std::string(QK_MANUAL_DIR) + "/index.html", "QK Ver" + version},
      {std::string(QK_MANUAL_DIR) + "/en.html", "QK Ver" + version},
  };
  for (const auto& page : pages) {
    EXPECT_NE(ReadAll(page.path).find(page.mention), std::string::npos)
        << page.path << " does not name " << page.mention;
  }
  // "qk --version" alone; beside a path it is a path.
  EXPECT_EQ(core::InformationText({"--version"}, version), "qk " + version + "\n");
  EXPECT_EQ(core::InformationText({"--version", "a.txt"}, version), "");
  EXPECT_EQ(core::InformationText({"--HELP"}, version), "");
}

// Lines of text that begin with prefix, from every line of text.
std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> found;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) found.push_back(line);
  }
  return found;
}

// Files named like switches in a folder another user can write to reach a glob as paths only
// after "--": both pages say so, and every example, desktop entry and service menu passes its
// paths after it.
TEST(ManualPage, PathsComeAfterTheEndOfSwitches) {
  for (const char* name : {"qk.1", "qk-cli.1"}) {
    const std::string page = ReadAll(std::string(QK_MAN_DIR) + "/" + name);
    EXPECT_NE(page.find(".TP\n.B \\-\\-\n"), std::string::npos) << name << " lacks \"--\"";
    const auto examples = LinesStartingWith(page.substr(page.find(".SH EXAMPLES")), "qk");
    EXPECT_FALSE(examples.empty()) << name;
    for (const std::string& line : examples) {
      EXPECT_NE(line.find(" \\-\\- "), std::string::npos) << name << ": " << line;
    }
  }
  for (const char* name : {"index.html", "en.html"}) {
    const std::string page = ReadAll(std::string(QK_MANUAL_DIR) + "/" + name);
    auto examples = LinesStartingWith(page, "qk ");
    const auto cli = LinesStartingWith(page, "qk-cli ");
    examples.insert(examples.end(), cli.begin(), cli.end());
    for (const char* pre : {"<pre>qk ", "<pre>qk-cli "}) {
      const auto first = LinesStartingWith(page, pre);
      examples.insert(examples.end(), first.begin(), first.end());
    }
    EXPECT_GE(examples.size(), 8u) << name;
    for (const std::string& line : examples) {
      EXPECT_NE(line.find(" -- "), std::string::npos) << name << ": " << line;
    }
  }
  std::size_t entries = 0;
  for (const char* name :
       {"qk.desktop", "qk-encrypt.desktop", "qk-decrypt.desktop", "qk-wipe.desktop",
        "kio/qk-servicemenu.desktop", "kio/qk-decrypt-servicemenu.desktop"}) {
    for (const std::string& line :
         LinesStartingWith(ReadAll(std::string(QK_DATA_DIR) + "/" + name), "Exec=")) {
      ++entries;
      EXPECT_TRUE(line.size() > 6 && line.compare(line.size() - 6, 6, " -- %F") == 0)
          << name << ": " << line;
    }
  }
  EXPECT_EQ(entries, 9u);
}

} // namespace
} // namespace qk::test
