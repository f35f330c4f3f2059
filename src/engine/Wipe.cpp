#include "engine/Wipe.h"

#include "engine/Progress.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/VisibleText.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

namespace qk::engine {

namespace {

// Bytes of 'N' written at a time: a whole number of the 2048-byte blocks.
constexpr std::size_t WipePiece = 1024 * 1024;

} // namespace

void WipeFile(const std::string& path, EngineHost& host, const EngineSettings& settings,
              Random& random, bool& skipWipe, const platform::FileStamp* expected) {
  platform::File file = OverwriteFile(path, host, settings, random, skipWipe, expected);
  // The overwrite has to reach the disk before the name goes; its times need not. A skipped wipe
  // deletes at once: the flush of what was overwritten could take seconds for a large file.
  if (!skipWipe) {
    try {
      file.SyncData();
    } catch (const platform::IoError&) {
    }
  }
  file.Close();
  platform::DeleteFile(path);
}

platform::File OverwriteFile(const std::string& path, EngineHost& host,
                             const EngineSettings& settings, Random& random, bool& skipWipe,
                             const platform::FileStamp* expected) {
  using platform::File;
  skipWipe = false;
  File::OpenShared(path).Close();

  File file;
  try {
    file = File::OpenExclusiveWrite(path);
    // Nobody else may still be changing it: a program that holds it open (through a shared
    // mapping too) can write without moving its size or date. From here until it is closed, no
    // other program opens it.
    file.HoldAlone();
  } catch (const platform::IoError& error) {
    throw platform::IoError(kWipeOpenFailed, error.errorCode());
  }
  // Checked under the exclusive hold, right before the first byte is overwritten; one look at
  // the file gives its state, its size and its names.
  std::uint64_t links = 0;
  const platform::FileStamp now = file.Stamp(&links);
  if (expected != nullptr && now != *expected) throw ChangedBeforeWipeError();
  const std::int64_t size = now.size;
  // Another name of the file would go on showing what the overwrite destroys.
  if (links > 1) {
    platform::LogNote(path + ": not wiped: the file has " + std::to_string(links) +
                      " names (hard links), and overwriting it would destroy the contents seen "
                      "through the others");
    throw platform::IoError(kWipeOpenFailed, EMLINK);
  }
  // Blocks of 2048 'N' bytes, written many at a time; the draws, progress texts and the skip
  // flag still go block by block, before the block they precede.
  static constexpr std::size_t kBlock = 2048;
  static constexpr std::int64_t kBlockBytes = static_cast<std::int64_t>(kBlock);
  static const std::vector<std::uint8_t> pattern(WipePiece, 0x4E);
  // A file with holes has only its data ranges overwritten: a hole holds nothing, and filling it
  // could fill the disk before the data is reached. Each range is widened to the blocks it
  // touches; what that widening adds is written only where the disk has room.
  const std::vector<File::Range> data =
      size > 0 ? file.DataRanges(size) : std::vector<File::Range>{};
  const bool sparse =
      size > 0 && !(data.size() == 1 && data[0].offset == 0 && data[0].length >= size);
  file.Seek(0);
  std::int64_t written = 0;
  bool writeFailed = false;
  int writeError = 0;
  // Writes length bytes of 'N' at offset; the count written. A failure is kept in writeFailed
  // and writeError when required, otherwise ignored.
  const auto writeAt = [&](std::int64_t offset, std::size_t length, bool required) {
    std::size_t put = 0;
    try {
      file.Seek(offset);
      while (put < length) {
        const std::size_t n = file.WriteSome(pattern.data() + put, length - put);
        if (n == 0) break;
        put += n;
      }
    } catch (const platform::IoError& error) {
      if (required) {
        writeFailed = true;
        writeError = error.errorCode();
      }
    }
    return put;
  };
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
    if (sparse) {
      const std::int64_t end = written + static_cast<std::int64_t>(length);
      for (const File::Range& range : data) {
        const std::int64_t dataEnd = range.offset + range.length;
        const std::int64_t from = std::max(range.offset / kBlockBytes * kBlockBytes, written);
        const std::int64_t to =
            std::min((dataEnd + kBlockBytes - 1) / kBlockBytes * kBlockBytes, end);
        if (from >= to) continue;
        const std::int64_t strictTo = std::min(dataEnd, to);
        if (strictTo > from) {
          const auto strict = static_cast<std::size_t>(strictTo - from);
          if (writeAt(from, strict, true) < strict) {
            // A data range left partly as it was: the wipe failed.
            if (!writeFailed) writeError = ENOSPC;
            writeFailed = true;
            written = from;
            break;
          }
        }
        const std::int64_t slackFrom = std::max(strictTo, from);
        if (to > slackFrom) writeAt(slackFrom, static_cast<std::size_t>(to - slackFrom), false);
      }
      if (writeFailed) break;
      written = end;
      continue;
    }
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
  if (writeFailed && written < size && !skipWipe) {
    throw platform::IoError("抹消中に書き込みに失敗しました", writeError);
  }
  return file;
}

} // namespace qk::engine
