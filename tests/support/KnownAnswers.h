// The known-answer containers of tests/data/containers: each X.enc with the fields of X.txt
// beside it ("field: value" lines; lines beginning with "#" describe the container).
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace qk::test {

struct KnownAnswer {
  std::string container;                     // path of X.enc
  std::map<std::string, std::string> fields; // from X.txt
  // The value of a field; empty when X.txt has none.
  std::string Field(const std::string& key) const {
    const auto it = fields.find(key);
    return it == fields.end() ? std::string() : it->second;
  }
};

// Every known-answer container, sorted by path.
inline std::vector<KnownAnswer> AllKnownAnswers() {
  std::vector<KnownAnswer> all;
  for (const auto& entry : std::filesystem::directory_iterator(QK_TEST_DATA "/containers")) {
    if (entry.path().extension() != ".enc") continue;
    KnownAnswer k;
    k.container = entry.path().string();
    std::ifstream text(std::filesystem::path(entry.path()).replace_extension(".txt"));
    for (std::string line; std::getline(text, line);) {
      const auto colon = line.find(": ");
      if (line.empty() || line[0] == '#' || colon == std::string::npos) continue;
      k.fields[line.substr(0, colon)] = line.substr(colon + 2);
    }
    all.push_back(std::move(k));
  }
  std::sort(all.begin(), all.end(),
            [](const KnownAnswer& a, const KnownAnswer& b) { return a.container < b.container; });
  return all;
}

} // namespace qk::test
