#include "engine/Wipe.h"

#include "engine/TamperCode.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <cmath>
#include <vector>

namespace qk::engine {

namespace {

// Bytes of 'N' written at a time: a whole number of the 2048-byte blocks.
constexpr std::size_t WipePiece = 1024 * 1024;

} // namespace

void WipeFile(const std::string& path, EngineHost& host, const EngineSettings& settings,
              Random& random, bool& skipWipe) {
  using platform::File;
  skipWipe = false;
  const std::int64_t size = platform::GetFileSize64(path);
  File::OpenShared(path).Close();

  File file;
  try {
    file = File::OpenExclusiveWrite(path);
  } catch (const platform::IoError& error) {
    throw platform::IoError(kWipeOpenFailed, error.errorCode());
  }
  // Blocks of 2048 'N' bytes, written many at a time; the draws, progress texts and the skip
  // flag still go block by block, before the block they precede.
  static constexpr std::size_t kBlock = 2048;
  static const std::vector<std::uint8_t> pattern(WipePiece, 0x4E);
  file.Seek(0);
  std::int64_t written = 0;
  bool writeFailed = false;
  int writeError = 0;
  bool done = false;
  while (!done) {
    // The blocks of this piece as a block-by-block loop would meet them, assuming full writes.
    std::size_t blocks = 0;
    std::int64_t planned = written;
    while (blocks * kBlock < WipePiece) {
      if (ShouldPump(random, settings.ProcessMsgInterval)) {
        if (size != 0) {
          const double percent =
              std::nearbyint(static_cast<double>(planned) / static_cast<double>(size) * 100.0);
          host.ShowProgress("不要データ抹消中：" + std::to_string(static_cast<long long>(percent)) +
                            "%");
        }
        host.ProcessMessages();
      }
      ++blocks;
      planned += static_cast<std::int64_t>(kBlock);
      if (planned >= size || skipWipe) {
        done = true;
        break;
      }
    }
    const std::size_t length = blocks * kBlock;
    std::size_t put = 0;
    while (put < length) {
      std::size_t n = 0;
      try {
        n = file.WriteSome(pattern.data() + put, length - put);
      } catch (const platform::IoError& error) {
        writeFailed = true;
        writeError = error.errorCode();
        break;
      }
      if (n == 0) break;
      put += n;
      written += static_cast<std::int64_t>(n);
    }
    if (put < length) break;
  }
  // The overwrite has to reach the disk before the name goes.
  try {
    file.Sync();
  } catch (const platform::IoError&) {
  }
  file.Close();
  if (writeFailed && written < size && !skipWipe) {
    throw platform::IoError("抹消中に書き込みに失敗しました", writeError);
  }
  platform::DeleteFile(path);
}

} // namespace qk::engine
