// The pieces of a file on their way through a whole-file operation: a second thread hashes and
// writes them (and reads the next ones ahead) while the calling thread ciphers. Their buffers form
// a small ring, so memory stays bounded whatever the file size. The worker only ever calls the hash
// objects and writes to the files it is given; host calls stay on the calling thread, which must
// not touch those files until Drain.
#pragma once

#include "crypto/CryptoBase.h"
#include "engine/Container.h"
#include "platform/File.h"
#include "platform/Threads.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <thread>
#include <vector>

namespace qk::engine {

// Bytes read, ciphered and written at a time by the whole-file operations: a whole number of
// 8192-byte data chunks, so that chaining and padding come out as with single chunks.
inline constexpr std::size_t DataPiece = 256 * 1024;
static_assert(DataPiece % DataChunk == 0);

// Read sizes of a file: one chunk first, doubling up to the largest piece (DataPiece, or less for
// a small file). A small file goes through in the few chunks it has; a large one soon in whole
// pieces.
class PieceSizes {
public:
  explicit PieceSizes(std::size_t largest = DataPiece) : largest_(largest) {}

  // The largest piece worth reading a file of size bytes in: one chunk doubled until it holds the
  // whole file, at most DataPiece. A size that cannot be right (negative) gets one chunk.
  static std::size_t LargestFor(std::int64_t size) {
    std::size_t largest = DataChunk;
    while (largest < DataPiece && static_cast<std::int64_t>(largest) < size) largest *= 2;
    return largest;
  }

  std::size_t Next() {
    const std::size_t size = size_;
    size_ = std::min(2 * size_, largest_);
    return size;
  }

private:
  std::size_t largest_;
  std::size_t size_ = DataChunk;
};
static_assert((DataPiece & (DataPiece - 1)) == 0, "pieces double from one chunk");

// Walks the 8192-byte data chunks of a piece of n bytes that a read of request bytes gave: its
// full chunks and, when the piece is short (the end of the file), the final chunk of fewer bytes,
// possibly none, as a loop reading single chunks would have met them. f(chunk size) returns false
// to stop. True when the next piece follows (every chunk full, the piece whole, not stopped).
template <class F> bool ForEachChunk(std::size_t n, std::size_t request, F&& f) {
  std::size_t offset = 0;
  for (;;) {
    const std::size_t chunk = std::min(DataChunk, n - offset);
    offset += chunk;
    if (!f(chunk) || chunk < DataChunk) return false;
    if (offset == n && n == request) return true;
  }
}

class PieceRing {
public:
  static constexpr std::size_t Slots = 4;

  // One step of a slot over the first size bytes of buffer number buffer: hash->Update, or when
  // file is set, a write to file at offset at (at the file's position when at is negative).
  // Positioned writes may run on either thread: see Submit.
  struct Job {
    crypto::TDCP_hash* hash = nullptr;
    std::size_t buffer = 0;
    std::size_t size = 0;
    platform::File* file = nullptr;
    std::int64_t at = -1;
  };

  // Deciphering of size bytes of buffer 0 from byte offset on into buffer 1 at the same offset,
  // with cipher (keyed) chained from the ciphertext block chain: the first step of a slot, before
  // its jobs, so that they see the whole plaintext.
  struct Decipher {
    crypto::TDCP_blockcipher* cipher = nullptr;
    std::size_t offset = 0;
    std::size_t size = 0;
    std::array<std::uint8_t, crypto::TDCP_blockcipher::kMaxBlockBytes> chain{};
  };

  // Each slot of the ring holds buffersPerSlot buffers of bufferBytes bytes. With alone set there
  // is no second thread and a single slot: every job runs on the calling thread as it is handed
  // over, nothing is read ahead and no deciphering is shared. For a small file a thread would cost
  // more than it saves.
  PieceRing(std::size_t buffersPerSlot, std::size_t bufferBytes, bool alone = false);
  // A worker for a file of fileBytes bytes: buffers of its largest piece, and alone when the file
  // is smaller than a whole piece.
  static PieceRing ForFile(std::size_t buffersPerSlot, std::int64_t fileBytes) {
    return PieceRing(buffersPerSlot, PieceSizes::LargestFor(fileBytes),
                     fileBytes < static_cast<std::int64_t>(DataPiece));
  }
  // Stops the worker without waiting for the jobs still queued, and clears the buffers.
  ~PieceRing();
  PieceRing(const PieceRing&) = delete;
  PieceRing& operator=(const PieceRing&) = delete;

  // Waits until the next slot of the ring is free and makes it the current one; while reading
  // ahead, also until its piece is read. Raises what a job or a read raised.
  void Next();
  // From the current slot on, the worker reads file into buffer 0 of each slot in turn, in the
  // sizes pieces gives next, until a read comes back short: the calling thread then only ciphers.
  // Pieces already handed over keep their order; the file is the worker's until Drain.
  void ReadAhead(platform::File& file, const PieceSizes& pieces);
  bool ReadingAhead() const { return readFile_ != nullptr; }
  // The read sizes whose pieces fit the buffers.
  PieceSizes Pieces() const { return PieceSizes(bufferBytes_); }
  // While reading ahead: the bytes read into the current slot and the count asked for.
  std::size_t FilledBytes() const { return slots_[current_].filled; }
  std::size_t FilledRequest() const { return slots_[current_].request; }
  // Buffer number index of the current slot.
  std::uint8_t* Buffer(std::size_t index);
  // Hands the current slot with its jobs (at most three), after decipher when that has a cipher,
  // to the worker; the slot's buffers must not change until it comes round again. With last set
  // and no worker running yet (the whole file fitted in one slot) the jobs run at once on the
  // calling thread. When the worker is still busy with an earlier slot, the calling thread runs
  // this slot's positioned writes itself before it returns (unless the worker deciphers some of
  // it): a fast cipher leaves the worker the hashes alone, a slow one the writes as well.
  void Submit(std::initializer_list<Job> jobs, bool last, Decipher decipher);
  void Submit(std::initializer_list<Job> jobs, bool last) { Submit(jobs, last, Decipher()); }
  // True when the worker has waited for work since the last call (or since it started): it can
  // take more of it.
  bool Idled();
  // Waits until every job handed over is done. Raises what a job raised.
  void Drain();

private:
  struct Slot {
    Decipher decipher;
    std::array<Job, 3> jobs{};
    std::size_t jobCount = 0;
    bool busy = false;
    bool ready = false;      // read ahead and not yet handed over
    std::size_t filled = 0;  // bytes read ahead into buffer 0
    std::size_t request = 0; // bytes asked for
  };
  bool CanReadLocked() const;
  void ReadOne(std::unique_lock<std::mutex>& lock);
  void Run();
  // The helper thread, started when it is not yet running and a place is left for it.
  bool Worker();
  void RethrowLocked();
  void RunJob(std::size_t slot, const Job& job);
  void RunSlot(std::size_t slot);

  bool alone_;
  std::size_t buffersPerSlot_;
  std::size_t bufferBytes_;
  std::vector<std::uint8_t> memory_;
  std::array<Slot, Slots> slots_{};
  std::size_t current_ = 0; // slot being filled by the calling thread
  std::size_t next_ = 0;    // slot the worker hashes next
  std::size_t pending_ = 0; // slots handed over and not yet hashed
  bool stop_ = false;
  bool idled_ = true;
  platform::File* readFile_ = nullptr;
  PieceSizes readPieces_;
  std::size_t readNext_ = 0; // slot the next piece is read into
  bool readDone_ = false;    // a read came back short
  std::exception_ptr error_;
  std::mutex mutex_;
  std::condition_variable work_;
  std::condition_variable done_;
  platform::HelperThread thread_;
};

// Hashes file from its current position to its end into hash, reading on the calling thread and
// hashing beside it. onPiece(n, request) runs on the calling thread after each piece of n bytes
// (of request asked for) is handed over. size: the file's size when the caller knows it.
template <class OnPiece>
void HashRestOfFile(platform::File& file, crypto::TDCP_hash& hash, OnPiece&& onPiece,
                    std::int64_t size = -1) {
  // Buffers no larger than the file needs: a small file costs no megabyte of buffers to clear.
  PieceRing worker = PieceRing::ForFile(1, size >= 0 ? size : file.Size());
  PieceSizes pieces = worker.Pieces();
  bool more = true;
  while (more) {
    worker.Next();
    const std::size_t request = pieces.Next();
    const std::size_t n = file.Read(worker.Buffer(0), request);
    more = n == request;
    worker.Submit({{&hash, 0, n}}, !more);
    onPiece(n, request);
  }
  worker.Drain();
}

} // namespace qk::engine
