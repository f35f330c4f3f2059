#include "engine/OutputNames.h"

#include "platform/FileSystem.h"
#include "platform/PathText.h"
#include "platform/Utf8.h"
#include "platform/VisibleText.h"

#include <algorithm>

namespace qk::engine {

namespace {

// text with each character that acts on a terminal or a listing (the report's rule,
// platform::ActsOnTerminal) as one "_"; acted tells whether there was one.
std::string WithoutActing(std::string_view text, bool& acted) {
  std::string out;
  out.reserve(text.size());
  while (!text.empty()) {
    char32_t c = 0;
    std::size_t length = platform::utf8::Decode(text, c);
    // A byte that begins no valid sequence is kept as it is.
    const bool acts = length != 0 && platform::ActsOnTerminal(c);
    if (length == 0) length = 1;
    if (acts) {
      out += '_';
      acted = true;
    } else {
      out.append(text.substr(0, length));
    }
    text.remove_prefix(length);
  }
  return out;
}

} // namespace

std::string WrittenName(const std::string& storedName) {
  bool acted = false;
  std::string name = WithoutActing(storedName, acted);
  const bool trap = !name.empty() && (name.front() == '.' || name.front() == '-' || acted);
  if (!trap) return storedName;
  if (name.front() == '-') name.front() = '_';
  return name + "_RENAMED";
}

std::string MakeUniquePath(std::string path) {
  while (platform::FileExists(path)) path += "_RENAMED" + platform::ExtractFileExt(path);
  return path;
}

std::string MakeRandomName(const std::string& source, const std::string& extension,
                           Random& random) {
  const std::string folder = platform::ExtractFilePath(source);
  std::string candidate;
  do {
    std::string name;
    for (int i = 0; i < 7; ++i) name += RandomNameChar(random);
    candidate = folder + name + extension;
  } while (platform::FileExists(candidate));
  return candidate;
}

char RandomNameChar(Random& random) {
  if (random.Below(2) == 0) return static_cast<char>(101 + random.Below(20));
  return static_cast<char>('0' + random.Below(10));
}

std::string DecryptedOutputPath(const std::string& container, const std::string& storedName,
                                bool& renameAfter) {
  std::string out = MakeUniquePath(platform::ExtractFilePath(container) + WrittenName(storedName));
  // The name found free is the container's own only as the same text (SamePath without a file
  // at out): a name that is taken was passed over.
  renameAfter = out == container;
  if (renameAfter) out = MakeUniquePath(out + ".dec");
  return out;
}

std::string FirstDecryptedPath(const std::string& container, const std::string& storedName,
                               bool& renameAfter) {
  std::string wanted = platform::ExtractFilePath(container) + WrittenName(storedName);
  return wanted != container ? wanted : DecryptedOutputPath(container, storedName, renameAfter);
}

} // namespace qk::engine
