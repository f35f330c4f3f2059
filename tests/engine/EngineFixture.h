// A file engine over a temporary folder, with the host that records what the engine shows.
#pragma once

#include "engine/BatchRun.h"
#include "engine/FileEngine.h"
#include "platform/File.h"
#include "support/BatchFixture.h"
#include "support/RecordingHost.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qk::test {

// A batch run of its own, set up as an unattended run of mode with the password "pw": nothing is
// asked, ShowList runs the list at once.
struct UnattendedRun {
  UnattendedRun(engine::OperationMode mode, const engine::BatchOptions& given) : options(given) {
    run.State().Mode = mode;
    run.State().AutoRun = true;
    run.State().Password = "pw";
  }
  UnattendedRun(const UnattendedRun&) = delete;
  UnattendedRun& operator=(const UnattendedRun&) = delete;

  engine::NullBatchHost host;
  engine::BatchOptions options;
  engine::Random random{1};
  engine::BatchRun run{host, options, random};
};

// Records every operation that would create, write, remove, rename or re-date a file.
class WriteRecorder {
public:
  WriteRecorder() {
    platform::SetFaultHook([this](platform::FileOperation op, const std::string& path) {
      using platform::FileOperation;
      if (op == FileOperation::Create || op == FileOperation::Write ||
          op == FileOperation::Reserve || op == FileOperation::Nameless ||
          op == FileOperation::Delete || op == FileOperation::Rename ||
          op == FileOperation::SetDate) {
        std::lock_guard lock(mutex_);
        writes_.push_back(path);
      }
      return 0;
    });
  }
  ~WriteRecorder() { platform::SetFaultHook(nullptr); }
  std::vector<std::string> Writes() {
    std::lock_guard lock(mutex_);
    return writes_;
  }

private:
  std::mutex mutex_;
  std::vector<std::string> writes_;
};

// Opens a file as its name is about to go (the end of a wipe, whose own hold has ended by then),
// without a lock, so that what it held can still be read once the name is gone.
class Peek {
public:
  explicit Peek(const std::string& path) : path_(path) {
    platform::SetFaultHook([this](platform::FileOperation op, const std::string& at) {
      if (op == platform::FileOperation::Delete && at == path_ && fd_ < 0)
        fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      return 0;
    });
  }
  ~Peek() {
    platform::SetFaultHook(nullptr);
    if (fd_ >= 0) ::close(fd_);
  }
  Peek(const Peek&) = delete;
  Peek& operator=(const Peek&) = delete;

  std::string Contents() const { return Read(0, SIZE_MAX); }
  std::string Read(std::int64_t offset, std::size_t length) const {
    std::string bytes;
    char buffer[65536];
    while (bytes.size() < length) {
      const ssize_t n =
          ::pread(fd_, buffer, std::min(sizeof buffer, length - bytes.size()),
                  static_cast<off_t>(offset + static_cast<std::int64_t>(bytes.size())));
      if (n <= 0) break;
      bytes.append(buffer, static_cast<std::size_t>(n));
    }
    return bytes;
  }
  // Bytes of disk the file takes.
  std::int64_t Allocated() const {
    struct stat st {};
    EXPECT_EQ(fd_ >= 0 ? ::fstat(fd_, &st) : ::stat(path_.c_str(), &st), 0);
    return static_cast<std::int64_t>(st.st_blocks) * 512;
  }

private:
  std::string path_;
  int fd_ = -1;
};

// The folder a path names its file in.
inline std::string FolderOf(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

// Names in a temporary folder, sorted.
inline std::vector<std::string> Listing(const TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class EngineTest : public ::testing::Test {
protected:
  EngineTest() : random(12345), engine(host, state, settings, random) {}

  // Writes a plain file and returns its path.
  std::string Plain(const std::string& name, const std::string& bytes) {
    const std::string path = dir / name;
    WriteAll(path, bytes);
    return path;
  }
  std::string Encrypt(const std::string& source, const std::string& password = "pw",
                      const std::string& hint = "", std::int32_t algorithm = 0,
                      bool tamper = true) {
    const engine::FileResult result =
        engine.EncryptFile(source, source + ".enc", password, hint, algorithm, tamper);
    EXPECT_EQ(result.outcome, engine::Outcome::Encrypted) << source;
    return result.output;
  }
  // Names in the temporary folder, sorted.
  std::vector<std::string> Listing() const { return test::Listing(dir); }

  TempDir dir;
  RecordingHost host;
  engine::RunState state;
  engine::EngineSettings settings;
  engine::Random random;
  engine::FileEngine engine;
};

} // namespace qk::test
