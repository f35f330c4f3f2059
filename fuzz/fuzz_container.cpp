// Container reader: the header codec in memory over arbitrary bytes (what it reads, the writer
// writes back byte for byte), then decryption and the stored hint of the same bytes as a file.
// Nothing may be written outside the scratch folder and the container itself must stay unchanged.
#include "FuzzSupport.h"
#include "engine/BatchRun.h"
#include "engine/Container.h"
#include "engine/FileEngine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
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

// The codec's promises over any bytes.
void CheckCodec(const unsigned char* data, std::size_t size, qk::engine::TextCrypt& text) {
  using qk::engine::HeaderStatus;
  const qk::engine::HeaderRead read = qk::engine::ReadHeader({data, size});
  if (read.status == HeaderStatus::CutInFixedPart || read.status == HeaderStatus::CutInTexts) {
    if (read.needed <= size || read.needed > qk::engine::MaxHeaderSize) std::abort();
  }
  if (read.hintRead) {
    try {
      (void)text.DecryptHeaderText(read.header.hintText);
    } catch (const std::exception&) {
    }
  }
  if (read.status != HeaderStatus::Ok) return;
  const auto& header = read.header;
  if (header.Size() > size || header.Size() > qk::engine::MaxHeaderSize) std::abort();
  try {
    (void)text.DecryptHeaderText(header.nameText);
  } catch (const std::exception&) {
  }
  // A V5 header as the writer writes it (flag 0 or 1) comes back byte for byte.
  if (header.generation == qk::engine::Generation::V5 && header.tamperFlag <= 1 &&
      std::string_view(reinterpret_cast<const char*>(data), 20) == qk::engine::MarkerV5) {
    const auto written = qk::engine::WriteHeader(header);
    if (written.size() != header.Size() || std::memcmp(written.data(), data, written.size()) != 0)
      std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
  static qk::engine::NullBatchHost host;
  static qk::engine::RunState state;
  static qk::engine::EngineSettings settings;
  static qk::engine::Random random(1);
  static qk::engine::FileEngine engine(host, state, settings, random);
  static qk::engine::TextCrypt text;
  CheckCodec(data, size, text);
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
