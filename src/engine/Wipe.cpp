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

using platform::File;

// Bytes of 'N' written at a time: a whole number of the 2048-byte blocks.
constexpr std::size_t WipePiece = 1024 * 1024;
// The block of the overwrite: the draws, progress texts and the skip flag go block by block.
constexpr std::size_t kBlock = 2048;
constexpr std::int64_t kBlockBytes = static_cast<std::int64_t>(kBlock);

const std::uint8_t* Pattern() {
  static const std::vector<std::uint8_t> pattern(WipePiece, 0x4E);
  return pattern.data();
}

// The file at path opened for the wipe and held alone, and checked: still the file expected
// stamps (when given), with no other name. Its size through size.
File HoldForWipe(const std::string& path, const platform::FileStamp* expected, std::int64_t& size) {
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
  size = now.size;
  // Another name of the file would go on showing what the overwrite destroys.
  if (links > 1) {
    platform::LogNote(path + ": not wiped: the file has " + std::to_string(links) +
                      " names (hard links), and overwriting it would destroy the contents seen "
                      "through the others");
    throw platform::IoError(kWipeOpenFailed, EMLINK);
  }
  // A name that cannot go would keep showing the overwritten file as if nothing had happened:
  // such a file is not touched.
  if (const int refused = platform::RemovalRefused(path))
    throw platform::IoError(kWipeNameStays, refused);
  return file;
}

// The bytes of the next piece from written on, as a block-by-block loop would meet its blocks
// (assuming full writes): before each, the progress text and the pending window events, now and
// then. done is set at the file's end or once the wipe is skipped.
std::size_t PlanPiece(std::int64_t written, std::int64_t size, EngineHost& host,
                      const EngineSettings& settings, Random& random, const bool& skipWipe,
                      bool& done) {
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
    planned += kBlockBytes;
    if (planned >= size || skipWipe) {
      done = true;
      break;
    }
  }
  return blocks * kBlock;
}

// The writes of 'N' into a held file, and the first failure of those that had to succeed.
struct PieceWriter {
  File& file;
  std::int64_t written = 0;
  bool failed = false;
  int error = 0;

  // length bytes at offset; the count written. A failure is kept when required, else ignored.
  std::size_t At(std::int64_t offset, std::size_t length, bool required) {
    std::size_t put = 0;
    try {
      file.Seek(offset);
      while (put < length) {
        const std::size_t n = file.WriteSome(Pattern() + put, length - put);
        if (n == 0) break;
        put += n;
      }
    } catch (const platform::IoError& e) {
      if (required) {
        failed = true;
        error = e.errorCode();
      }
    }
    return put;
  }

  // The next length bytes of a file with holes: only its data ranges, each widened to the
  // blocks it touches, and what that widening adds only where the disk has room (a hole holds
  // nothing, and filling it could fill the disk before the data is reached). False once a data
  // range was left partly as it was.
  bool Sparse(const std::vector<File::Range>& data, std::size_t length) {
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
        if (At(from, strict, true) < strict) {
          if (!failed) error = ENOSPC;
          failed = true;
          written = from;
          return false;
        }
      }
      const std::int64_t slackFrom = std::max(strictTo, from);
      if (to > slackFrom) At(slackFrom, static_cast<std::size_t>(to - slackFrom), false);
    }
    written = end;
    return true;
  }

  // The next length bytes of a file without holes, where the file stands. False when they were
  // not all written.
  bool Dense(std::size_t length) {
    std::size_t put = 0;
    while (put < length) {
      std::size_t n = 0;
      try {
        n = file.WriteSome(Pattern() + put, length - put);
      } catch (const platform::IoError& e) {
        failed = true;
        error = e.errorCode();
        break;
      }
      if (n == 0) break;
      put += n;
      written += static_cast<std::int64_t>(n);
    }
    return put == length;
  }
};

} // namespace

void WipeFile(const std::string& path, EngineHost& host, const EngineSettings& settings,
              Random& random, bool& skipWipe, const platform::FileStamp* expected) {
  platform::File file = OverwriteFile(path, host, settings, random, skipWipe, expected);
  // The overwrite has to reach the disk before the name goes; its times need not. A flush that
  // fails keeps the name, as in a grouped wipe: the old contents may still be on the disk. A
  // skipped wipe deletes at once: the flush of what was overwritten could take seconds for a
  // large file.
  if (!skipWipe) {
    try {
      file.SyncData();
    } catch (const platform::IoError& e) {
      throw platform::IoError(kWipeWriteFailed, e.errorCode());
    }
  }
  // Another program that opened the file meanwhile (its lease broken and taken back) may have
  // changed what the overwrite left.
  if (!file.StillHeldAlone()) throw platform::IoError(kWipeOpenedMeanwhile, EBUSY);
  file.Close();
  if (!platform::DeleteFile(path)) throw platform::IoError(kWipeNameStays, errno);
}

platform::File OverwriteFile(const std::string& path, EngineHost& host,
                             const EngineSettings& settings, Random& random, bool& skipWipe,
                             const platform::FileStamp* expected) {
  skipWipe = false;
  std::int64_t size = 0;
  File file = HoldForWipe(path, expected, size);
  const std::vector<File::Range> data =
      size > 0 ? file.DataRanges(size) : std::vector<File::Range>{};
  const bool sparse =
      size > 0 && !(data.size() == 1 && data[0].offset == 0 && data[0].length >= size);
  file.Seek(0);
  PieceWriter writer{file};
  for (bool done = false; !done;) {
    const std::size_t length =
        PlanPiece(writer.written, size, host, settings, random, skipWipe, done);
    if (!(sparse ? writer.Sparse(data, length) : writer.Dense(length))) break;
  }
  if (writer.failed && writer.written < size && !skipWipe) {
    throw platform::IoError(kWipeWriteFailed, writer.error);
  }
  return file;
}

} // namespace qk::engine
