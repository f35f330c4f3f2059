// Helpers shared by the test suites: temporary folders and whole-file I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qk::test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it on destruction.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string operator/(const std::string& name) const;

private:
  std::string path_;
};

std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& bytes);
bool Exists(const std::string& path);
// Deterministic pseudo-random bytes for test data.
std::string RandomBytes(std::size_t n, std::uint32_t seed);
// Hex text of bytes, lower case, no separators.
std::string Hex(const std::string& bytes);
std::string FromHex(const std::string& hex);

} // namespace qk::test
