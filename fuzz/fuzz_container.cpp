// Container reader: decryption and the stored hint over arbitrary bytes. Nothing may be written
// outside the scratch folder and the container itself must stay unchanged.
#include "FuzzSupport.h"
#include "engine/FileEngine.h"

#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void RemoveAllBut(const std::string& dir, const std::string& keep) {
  DIR* d = opendir(dir.c_str());
  if (!d) return;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == ".." || name == keep) continue;
    std::remove((dir + "/" + name).c_str());
  }
  closedir(d);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static qk::engine::NullHost host;
  static qk::engine::RunState state;
  static qk::engine::EngineSettings settings;
  static qk::engine::Random random(1);
  static qk::engine::FileEngine engine(host, state, settings, random);
  const std::string& dir = qk::fuzz::ScratchDir();
  const std::string path = dir + "/input.enc";
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  settings.SkipNonHMAC = size > 0 && (data[0] & 1);
  (void)engine.ReadStoredHint(path);
  (void)engine.DecryptFile(path, "password");
  if (ReadAll(path) != bytes) std::abort(); // the container must never change
  RemoveAllBut(dir, "input.enc");
  return 0;
}
