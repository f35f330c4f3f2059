// Whole-file work in large pieces with a hashing thread beside it: the bytes, codes, progress and
// event draws must come out as if the file went through in single 8192-byte chunks, for sizes
// around every piece boundary; a failing hash job must end the operation, never hang it.
#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"
#include "crypto/Twofish.h"
#include "engine/Container.h"
#include "engine/EngineFixture.h"
#include "engine/Independent.h"
#include "engine/PieceRing.h"
#include "engine/Progress.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Threads.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <utility>

namespace qk::test {
namespace {

using engine::DataChunk;
using engine::DataPiece;

// Sizes around the ends of the pieces a file is read in (growing from one chunk to whole
// pieces), and a few between.
std::vector<std::size_t> BoundarySizes() {
  std::vector<std::size_t> sizes{0, 1, 15, 16, 17};
  engine::PieceSizes pieces;
  std::size_t end = 0;
  for (int i = 0; i < 8; ++i) {
    end += pieces.Next();
    for (const std::size_t s : {end - 1, end, end + 1}) sizes.push_back(s);
  }
  sizes.push_back(end + 3 * DataPiece / 2 + 3);
  return sizes;
}
const std::vector<std::size_t> kSizes = BoundarySizes();

std::int64_t RoundUp16(std::int64_t n) {
  return (n + 15) / 16 * 16;
}

// The data section as one CBC run over the zero-padded bytes, ciphered in a single call.
std::string ReferenceData(const std::string& plain, const std::string& password,
                          std::int32_t algorithm) {
  crypto::TDCP_twofish twofish;
  crypto::TDCP_rijndael rijndael;
  crypto::TDCP_gost gost;
  crypto::TDCP_blockcipher* cipher = &twofish;
  if (algorithm == engine::AlgoRijndael) cipher = &rijndael;
  if (algorithm == engine::AlgoGost) cipher = &gost;
  const engine::FileKey key = engine::MakeFileKey(password);
  cipher->Init(key.data(), 256, nullptr);
  std::string data = plain;
  data.resize(static_cast<std::size_t>(RoundUp16(static_cast<std::int64_t>(plain.size()))), '\0');
  cipher->EncryptCBC(data.data(), data.data(), static_cast<std::int32_t>(data.size()));
  return data;
}

// Progress texts of a loop over single chunks of a stream of total bytes, each chunk counted
// with its (padded) length (the line itself is the Progress tests').
std::vector<std::string> ChunkProgress(const std::string& word, std::int64_t total,
                                       std::int64_t shownTotal, bool padLast) {
  std::vector<std::string> texts;
  std::int64_t done = 0;
  for (;;) {
    const std::int64_t chunk = std::min<std::int64_t>(DataChunk, total - done);
    done += padLast ? RoundUp16(chunk) : chunk;
    texts.push_back(engine::ProgressText(word, done, shownTotal));
    if (chunk < static_cast<std::int64_t>(DataChunk)) break;
  }
  return texts;
}

class PieceStreamingTest : public EngineTest {};

// Also when the process has no helper thread left at first, and one comes free after the first
// piece: the pieces then go on a thread that starts part-way through the file.
TEST_F(PieceStreamingTest, ContainersMatchSingleRunCipherAndFileTamperCode) {
  settings.ProcessMsgInterval = 1;
  for (const bool starved : {false, true}) {
    for (const std::int32_t algorithm :
         {engine::AlgoTwofish, engine::AlgoRijndael, engine::AlgoGost}) {
      for (const std::size_t size : kSizes) {
        SCOPED_TRACE(testing::Message() << "algorithm " << algorithm << " size " << size
                                        << (starved ? " starved" : ""));
        std::vector<platform::ThreadSlot> taken;
        while (starved)
          if (auto slot = platform::ThreadSlot::TryTake()) {
            taken.push_back(std::move(slot));
          } else {
            break;
          }
        host.onPump = [&] { taken.clear(); };
        const std::string plain = RandomBytes(size, static_cast<std::uint32_t>(size + 7));
        const std::string source =
            Plain("s" + std::to_string(algorithm) + "_" + std::to_string(size), plain);
        const std::string container = Encrypt(source, "pw", "hint", algorithm, true);
        const std::string bytes = ReadAll(container);
        const std::string data = ReferenceData(plain, "pw", algorithm);
        ASSERT_GE(bytes.size(), data.size());
        EXPECT_TRUE(bytes.compare(bytes.size() - data.size(), data.size(), data) == 0);

        // The code written on the fly equals the code of the finished file read back.
        EXPECT_EQ(bytes.substr(engine::TamperCodeOffset, engine::TamperCodeLength),
                  TamperCodeOf(
                      "pw", bytes.substr(static_cast<std::size_t>(engine::TamperCoveredOffset))));

        // Round trip, and the proofs against the bytes read from the disk.
        EXPECT_TRUE(engine.VerifyEncryption(container, "pw"));
        platform::DeleteFile(source);
        ASSERT_TRUE(engine::Succeeded(engine.DecryptFile(container, "pw").outcome));
        EXPECT_EQ(ReadAll(source), plain);
        EXPECT_TRUE(engine.VerifyDecryption(source));
        platform::DeleteFile(source);
        platform::DeleteFile(container);
      }
    }
  }
}

TEST_F(PieceStreamingTest, ProgressAndEventsGoChunkByChunk) {
  settings.ProcessMsgInterval = 1;
  for (const std::size_t size : kSizes) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    const auto n = static_cast<std::int64_t>(size);
    const std::int64_t chunks = n / static_cast<std::int64_t>(DataChunk) + 1;
    const std::string plain = RandomBytes(size, 3);
    const std::string source = Plain("p" + std::to_string(size), plain);

    host.progress.clear();
    host.pumps = 0;
    const std::string container = Encrypt(source, "pw", "", 0, true);
    EXPECT_EQ(host.pumps, chunks);
    EXPECT_EQ(host.progress,
              size ? ChunkProgress("暗号化中：", n, n, true) : std::vector<std::string>{});

    platform::DeleteFile(source);
    host.progress.clear();
    host.pumps = 0;
    ASSERT_TRUE(engine::Succeeded(engine.DecryptFile(container, "pw").outcome));
    // One pass: the code is computed over the bytes as they are deciphered.
    const auto data = ChunkProgress("復号中：", RoundUp16(n), n, false);
    EXPECT_EQ(host.progress, size ? data : std::vector<std::string>{});
    EXPECT_EQ(host.pumps, static_cast<int>(data.size()));
    platform::DeleteFile(source);
    platform::DeleteFile(container);
  }
}

// A container's data section changed in length: bytes after the padded data are dropped, data
// that ends before the stored size fails, whichever piece the end falls in.
TEST_F(PieceStreamingTest, ContainerEndsAroundPieceBoundaries) {
  for (const std::size_t size :
       {std::size_t{DataChunk}, DataPiece - 8192, DataPiece + 8192 * 7 + 5, 3 * DataPiece}) {
    SCOPED_TRACE(testing::Message() << "size " << size);
    const std::string plain = RandomBytes(size, 11);
    const std::string source = Plain("e.bin", plain);
    const std::string container = Encrypt(source, "pw", "", 1, false);
    platform::DeleteFile(source);
    const std::string bytes = ReadAll(container);

    for (const std::size_t extra : {std::size_t{5}, DataChunk, DataPiece + 3}) {
      WriteAll(container, bytes + RandomBytes(extra, 2));
      ASSERT_TRUE(engine::Succeeded(engine.DecryptFile(container, "pw").outcome)) << extra;
      EXPECT_EQ(ReadAll(source), plain);
      platform::DeleteFile(source);
    }
    for (const std::size_t cut : {std::size_t{1}, std::size_t{16}, DataChunk + 1}) {
      WriteAll(container, bytes.substr(0, bytes.size() - cut));
      // Within the data the stored size no longer fits; beyond it the header is cut.
      EXPECT_EQ(engine.DecryptFile(container, "pw").outcome,
                cut <= size ? engine::Outcome::InvalidFile : engine::Outcome::DecryptFailed)
          << cut;
      EXPECT_FALSE(Exists(source));
    }
    platform::DeleteFile(container);
  }
}

TEST_F(PieceStreamingTest, ProofsSeeChangesInLaterPieces) {
  const std::string source = Plain("v.bin", RandomBytes(3 * DataPiece + 100, 4));
  const std::string container = Encrypt(source, "pw", "", 2, true);
  platform::DeleteFile(source);
  ASSERT_TRUE(engine::Succeeded(engine.DecryptFile(container, "pw").outcome));
  EXPECT_TRUE(engine.VerifyDecryption(source));
  std::string bytes = ReadAll(source);
  bytes[2 * DataPiece + 9] ^= 0x10;
  WriteAll(source, bytes);
  EXPECT_FALSE(engine.VerifyDecryption(source));

  std::string sealed = ReadAll(container);
  sealed[sealed.size() - DataPiece - 1] ^= 0x01;
  WriteAll(container, sealed);
  EXPECT_FALSE(engine.VerifyEncryption(container, "pw"));
  EXPECT_EQ(engine.DecryptFile(container, "pw").outcome, engine::Outcome::TamperMismatch);
}

TEST_F(PieceStreamingTest, WipeOfLargeFilesKeepsBlocksAndSkip) {
  for (const std::size_t size :
       {std::size_t{1} << 20, (std::size_t{1} << 20) + 1, (std::size_t{3} << 20) - 2047}) {
    const std::string path = Plain("w.bin", RandomBytes(size, 6));
    const Peek peek(path);
    engine.WipeFile(path);
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(peek.Contents() == std::string((size + 2047) / 2048 * 2048, 'N')) << size;
  }

  // A skip asked for at the 700th event, beyond the first piece, ends the overwrite after the
  // 700th block; progress is drawn before each block.
  settings.ProcessMsgInterval = 1;
  host.progress.clear();
  host.pumps = 0;
  host.onPump = [&] {
    if (host.pumps == 700) state.SkipWipe = true;
  };
  const std::size_t size = 2048 * 2000;
  const std::string path = Plain("s.bin", std::string(size, 'x'));
  const Peek peek(path);
  engine.WipeFile(path);
  const std::string left = peek.Contents();
  EXPECT_TRUE(left.substr(0, 2048 * 700) == std::string(2048 * 700, 'N'));
  EXPECT_TRUE(left.substr(2048 * 700) == std::string(size - 2048 * 700, 'x'));
  ASSERT_EQ(host.progress.size(), 700u);
  EXPECT_EQ(host.progress[1], "不要データ抹消中：0%");
  EXPECT_EQ(host.progress[699], "不要データ抹消中：35%");
  host.onPump = nullptr;
}

// Throws from Update once it has seen failAfter bytes.
class FailingHash : public crypto::TDCP_hash {
public:
  explicit FailingHash(std::size_t failAfter) : TDCP_hash("Failing", 160), failAfter_(failAfter) {}
  void Init() override { initialized_ = true; }
  void EraseState() override {}
  void Update(const void*, std::int32_t size) override {
    seen_ += static_cast<std::size_t>(size);
    if (seen_ > failAfter_) throw std::runtime_error("hash failed");
  }
  void Final(void*) override {}

private:
  std::size_t failAfter_;
  std::size_t seen_ = 0;
};

// The rest of a file hashed as the decryption check reads it: from where the file stands to its
// very end, for every boundary size (the buffers are sized by the file).
TEST_F(PieceStreamingTest, RestOfFileHashedToItsEnd) {
  for (const std::size_t size : kSizes) {
    for (const std::size_t from : {std::size_t{0}, size / 3}) {
      SCOPED_TRACE(testing::Message() << "size " << size << " from " << from);
      const std::string bytes = RandomBytes(size, static_cast<std::uint32_t>(size + 7));
      const std::string path = Plain("h.bin", bytes);
      platform::File file = platform::File::OpenShared(path);
      file.Seek(static_cast<std::int64_t>(from));
      crypto::TDCP_sha1 sha;
      sha.Init();
      std::size_t handed = 0;
      engine::HashRestOfFile(file, sha, [&](std::size_t n, std::size_t) { handed += n; });
      std::string digest(20, '\0');
      sha.Final(digest.data());
      EXPECT_EQ(digest, Sha1(bytes.substr(from)));
      EXPECT_EQ(handed, size - from);
    }
  }
}

TEST(PieceRing, HashesInOrderAndCarriesFailuresBack) {
  // Many times round the ring: the digest equals a single hash of the same bytes.
  const std::string bytes = RandomBytes(37 * 1000 + 11, 8);
  crypto::TDCP_sha1 direct, piecewise;
  direct.Init();
  direct.Update(bytes.data(), static_cast<std::int32_t>(bytes.size()));
  piecewise.Init();
  {
    engine::PieceRing worker(2, 1000);
    for (std::size_t at = 0; at < bytes.size(); at += 1000) {
      worker.Next();
      const std::size_t n = std::min<std::size_t>(1000, bytes.size() - at);
      std::memcpy(worker.Buffer(1), bytes.data() + at, n);
      std::memset(worker.Buffer(0), 0xAA, 1000);
      worker.Submit({{&piecewise, 1, n}, {nullptr, 0, 1000}}, at + 1000 >= bytes.size());
    }
    worker.Drain();
  }
  std::uint8_t a[20], b[20];
  direct.Final(a);
  piecewise.Final(b);
  EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);

  // A job that throws: the next call of the filling thread raises it.
  for (const bool drainOnly : {false, true}) {
    FailingHash failing(5000);
    engine::PieceRing worker(1, 1000);
    bool raised = false;
    try {
      for (int i = 0; i < 100; ++i) {
        worker.Next();
        worker.Submit({{&failing, 0, 1000}}, false);
        if (drainOnly && i == 10) worker.Drain();
      }
      worker.Drain();
    } catch (const std::runtime_error& e) {
      raised = true;
      EXPECT_STREQ(e.what(), "hash failed");
    }
    EXPECT_TRUE(raised);
  }

  // Given up with jobs still queued: the worker stops without hanging.
  {
    FailingHash never(~std::size_t{0});
    engine::PieceRing worker(1, 1 << 20);
    for (int i = 0; i < 4; ++i) {
      worker.Next();
      worker.Submit({{&never, 0, 1 << 20}}, false);
    }
  }
  // A file that fits one slot is hashed on the calling thread, failures included.
  FailingHash failing(10);
  engine::PieceRing worker(1, 100);
  worker.Next();
  EXPECT_THROW(worker.Submit({{&failing, 0, 100}}, true), std::runtime_error);
}

// The largest piece for a file size: one chunk doubled until it holds the file, at most a whole
// piece; sizes that cannot be right get one chunk. Pieces never exceed it.
TEST(PieceSizesTest, LargestPieceFollowsTheFileSizeWithinItsBounds) {
  using engine::PieceSizes;
  const std::int64_t chunk = DataChunk, piece = DataPiece;
  const std::pair<std::int64_t, std::size_t> cases[] = {
      {INT64_MIN, DataChunk}, {-1, DataChunk},           {0, DataChunk},
      {1, DataChunk},         {chunk, DataChunk},        {chunk + 1, 2 * DataChunk},
      {piece - 1, DataPiece}, {piece, DataPiece},        {piece + 1, DataPiece},
      {INT64_MAX, DataPiece}, {3 * chunk, 4 * DataChunk}};
  for (const auto& [size, largest] : cases) {
    EXPECT_EQ(PieceSizes::LargestFor(size), largest) << size;
    PieceSizes pieces(largest);
    std::size_t biggest = 0;
    for (int i = 0; i < 12; ++i) biggest = std::max(biggest, pieces.Next());
    EXPECT_EQ(biggest, largest) << size;
  }
}

// A worker alone has no thread: every job is done on the calling thread when it is handed over.
TEST(PieceRing, AloneDoesEverythingOnTheCallingThreadAtOnce) {
  class ThreadHash : public crypto::TDCP_hash {
  public:
    ThreadHash() : TDCP_hash("Thread", 160) {}
    void Init() override { initialized_ = true; }
    void EraseState() override {}
    void Update(const void*, std::int32_t size) override {
      threads.insert(std::this_thread::get_id());
      bytes += static_cast<std::size_t>(size);
    }
    void Final(void*) override {}
    std::set<std::thread::id> threads;
    std::size_t bytes = 0;
  } hash;
  TempDir dir;
  const std::string path = dir / "out.bin";
  platform::File file = platform::File::CreateNew(path);
  engine::PieceRing worker(1, 64, true);
  std::string expected;
  for (int i = 0; i < 10; ++i) {
    worker.Next();
    std::memset(worker.Buffer(0), 'a' + i, 64);
    worker.ReadAhead(file, engine::PieceSizes());
    EXPECT_FALSE(worker.ReadingAhead());
    EXPECT_FALSE(worker.Idled());
    worker.Submit({{&hash, 0, 64}, {nullptr, 0, 64, &file, 64 * i}}, i == 9);
    expected += std::string(64, static_cast<char>('a' + i));
    EXPECT_EQ(ReadAll(path), expected);
    EXPECT_EQ(hash.bytes, 64u * (i + 1));
  }
  worker.Drain();
  EXPECT_EQ(hash.threads, std::set<std::thread::id>{std::this_thread::get_id()});
}

// Waits in Update until Release: a worker held up by a slow hash.
class HeldHash : public crypto::TDCP_hash {
public:
  HeldHash() : TDCP_hash("Held", 160) {}
  void Init() override { initialized_ = true; }
  void EraseState() override {}
  void Update(const void*, std::int32_t) override {
    std::unique_lock<std::mutex> lock(mutex_);
    entered_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return released_; });
  }
  void Final(void*) override {}
  void WaitEntered() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return entered_; });
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }

private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool entered_ = false;
  bool released_ = false;
};

// While the worker is still on an earlier slot, the positioned writes of the next slots are done
// by the calling thread at once, at their offsets; writes at the file's position always wait for
// the worker, in order.
TEST(PieceRing, LaggingWorkerLeavesPositionedWritesToTheCaller) {
  TempDir dir;
  const std::string path = dir / "out.bin";
  platform::File file = platform::File::CreateNew(path);
  HeldHash held;
  crypto::TDCP_sha1 sha;
  sha.Init();
  {
    engine::PieceRing worker(1, 100);
    worker.Next();
    std::memset(worker.Buffer(0), 'a', 100);
    worker.Submit({{&held, 0, 100}, {nullptr, 0, 100, &file, 0}}, false);
    held.WaitEntered();
    for (const char c : {'b', 'c'}) {
      worker.Next();
      std::memset(worker.Buffer(0), c, 100);
      worker.Submit({{nullptr, 0, 100, &file, 100 * (c - 'a')}, {&sha, 0, 100}}, false);
    }
    // Written here while the worker waits: the first slot's own write is still to come.
    EXPECT_EQ(ReadAll(path),
              std::string(100, '\0') + std::string(100, 'b') + std::string(100, 'c'));
    worker.Next();
    std::memset(worker.Buffer(0), 'd', 100);
    worker.Submit({{nullptr, 0, 50, &file, 300}}, true);
    held.Release();
    worker.Drain();
  }
  EXPECT_EQ(ReadAll(path), std::string(100, 'a') + std::string(100, 'b') + std::string(100, 'c') +
                               std::string(50, 'd'));
}

// Pieces deciphered partly by the calling thread and partly by the worker with a second cipher
// that every slot shares: each share starts from the chain block it was handed, however far the
// calling thread has gone on, and the plaintext equals one CBC pass over the whole.
template <class Cipher> void ShareDecipheringOf() {
  constexpr std::size_t kPiece = 1024;
  constexpr int kPieces = 4;
  const std::string sealed = RandomBytes(kPiece * kPieces, 21);
  const std::string key = RandomBytes(32, 22);
  Cipher whole, first, second;
  for (Cipher* c : {&whole, &first, &second}) c->Init(key.data(), 256, nullptr);
  const auto block = static_cast<std::size_t>(whole.BlockSize() / 8);
  std::string expected(sealed.size(), '\0');
  whole.DecryptCBC(sealed.data(), expected.data(), static_cast<std::int32_t>(sealed.size()));

  TempDir dir;
  const std::string path = dir / "plain.bin";
  platform::File file = platform::File::CreateNew(path);
  HeldHash held;
  {
    engine::PieceRing worker(2, kPiece);
    for (int i = 0; i < kPieces; ++i) {
      worker.Next();
      std::uint8_t* in = worker.Buffer(0);
      std::memcpy(in, sealed.data() + i * kPiece, kPiece);
      const std::size_t own = 16 * (5 + 13 * i); // a different share each time
      first.DecryptCBC(in, worker.Buffer(1), static_cast<std::int32_t>(own));
      first.SetChain(in + kPiece - block);
      engine::PieceRing::Decipher share{&second, own, kPiece - own, {}};
      std::memcpy(share.chain.data(), in + own - block, block);
      const auto at = static_cast<std::int64_t>(i * kPiece);
      // The first slot holds the worker up until every slot has been handed over.
      if (i == 0) {
        worker.Submit({{&held, 0, kPiece}, {nullptr, 1, kPiece, &file, at}}, false, share);
      } else {
        worker.Submit({{nullptr, 1, kPiece, &file, at}}, false, share);
      }
      if (i == 0) held.WaitEntered();
    }
    held.Release();
    worker.Drain();
  }
  EXPECT_TRUE(ReadAll(path) == expected) << whole.Algorithm();
}

TEST(PieceRing, SharedDecipheringChainsEachShareFromItsOwnBlock) {
  ShareDecipheringOf<crypto::TDCP_twofish>();
  ShareDecipheringOf<crypto::TDCP_rijndael>();
  ShareDecipheringOf<crypto::TDCP_gost>();
}

// Read ahead by the worker: the pieces come in order, in the sizes the caller would have read,
// whatever the file size; a failing read ends the loop with its error.
TEST(PieceRing, ReadsAheadInOrderAndCarriesReadFailuresBack) {
  TempDir dir;
  const std::string path = dir / "f.bin";
  for (const std::size_t size : {DataChunk + 1, 2 * DataChunk + DataChunk * 2, 9 * DataPiece + 7,
                                 std::size_t{3 * DataChunk + 4 * DataChunk + 8 * DataChunk}}) {
    const std::string bytes = RandomBytes(size, 12);
    WriteAll(path, bytes);
    platform::File file = platform::File::OpenShared(path);
    std::string seen;
    std::vector<std::size_t> requests;
    engine::PieceSizes pieces;
    {
      engine::PieceRing worker(1, DataPiece);
      bool more = true;
      while (more) {
        worker.Next();
        const bool ahead = worker.ReadingAhead();
        const std::size_t request = ahead ? worker.FilledRequest() : pieces.Next();
        const std::size_t n = ahead ? worker.FilledBytes() : file.Read(worker.Buffer(0), request);
        requests.push_back(request);
        seen.append(reinterpret_cast<const char*>(worker.Buffer(0)), n);
        more = n == request;
        worker.Submit({}, !more);
        if (more && !ahead) worker.ReadAhead(file, pieces);
      }
      worker.Drain();
    }
    EXPECT_EQ(seen, bytes) << size;
    engine::PieceSizes expected;
    for (const std::size_t request : requests) EXPECT_EQ(request, expected.Next());
  }

  WriteAll(path, RandomBytes(5 * DataPiece, 13));
  platform::File file = platform::File::OpenShared(path);
  int reads = 0;
  platform::SetFaultHook([&](platform::FileOperation operation, const std::string&) {
    return operation == platform::FileOperation::Read && ++reads == 3 ? EIO : 0;
  });
  bool raised = false;
  try {
    engine::PieceRing worker(1, DataPiece);
    engine::PieceSizes pieces;
    worker.Next();
    const std::size_t request = pieces.Next();
    ASSERT_EQ(file.Read(worker.Buffer(0), request), request);
    worker.Submit({}, false);
    worker.ReadAhead(file, pieces);
    for (int i = 0; i < 10; ++i) {
      worker.Next();
      worker.Submit({}, false);
    }
  } catch (const platform::IoError& e) {
    raised = e.errorCode() == EIO;
  }
  platform::SetFaultHook(nullptr);
  EXPECT_TRUE(raised);
}

} // namespace
} // namespace qk::test
