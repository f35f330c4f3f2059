#include "engine/OutputNames.h"

#include "platform/FileSystem.h"

namespace qk::engine {

bool IsHiddenName(const std::string& storedName) {
  return !storedName.empty() && storedName.front() == '.';
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
  const std::string name = IsHiddenName(storedName) ? storedName + "_RENAMED" : storedName;
  std::string out = MakeUniquePath(platform::ExtractFilePath(container) + name);
  renameAfter = platform::SamePath(out, container);
  if (renameAfter) out = MakeUniquePath(out + ".dec");
  return out;
}

} // namespace qk::engine
