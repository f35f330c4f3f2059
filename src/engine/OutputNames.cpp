#include "engine/OutputNames.h"

#include "platform/FileSystem.h"
#include "platform/PathText.h"

#include <algorithm>

namespace qk::engine {

namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

} // namespace

std::string WrittenName(const std::string& storedName) {
  const bool trap =
      !storedName.empty() && (storedName.front() == '.' || storedName.front() == '-' ||
                              std::any_of(storedName.begin(), storedName.end(), IsControl));
  if (!trap) return storedName;
  std::string name = storedName;
  if (name.front() == '-') name.front() = '_';
  std::replace_if(name.begin(), name.end(), IsControl, '_');
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
