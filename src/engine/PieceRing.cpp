#include "engine/PieceRing.h"

#include "platform/File.h"
#include "platform/Hardening.h"

#include <utility>

namespace qk::engine {

PieceRing::PieceRing(std::size_t buffersPerSlot, std::size_t bufferBytes, bool alone)
    : alone_(alone), buffersPerSlot_(buffersPerSlot), bufferBytes_(bufferBytes),
      memory_((alone ? 1 : Slots) * buffersPerSlot * bufferBytes) {}

PieceRing::~PieceRing() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  work_.notify_all();
  thread_.Join();
  platform::SecureClear(memory_);
}

void PieceRing::RethrowLocked() {
  if (error_) std::rethrow_exception(error_);
}

void PieceRing::Next() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] {
    return error_ || (!slots_[current_].busy && (!readFile_ || slots_[current_].ready));
  });
  RethrowLocked();
}

bool PieceRing::Worker() {
  return thread_.Running() || thread_.Start([this] { Run(); });
}

void PieceRing::ReadAhead(platform::File& file, const PieceSizes& pieces) {
  // Without a helper thread the calling thread reads each piece itself.
  if (alone_) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    readFile_ = &file;
    readPieces_ = pieces;
    readNext_ = current_;
  }
  if (!Worker()) {
    const std::lock_guard<std::mutex> lock(mutex_);
    readFile_ = nullptr;
    return;
  }
  work_.notify_one();
}

bool PieceRing::CanReadLocked() const {
  const Slot& slot = slots_[readNext_];
  return readFile_ && !readDone_ && !slot.busy && !slot.ready;
}

void PieceRing::ReadOne(std::unique_lock<std::mutex>& lock) {
  const std::size_t index = readNext_;
  const std::size_t request = readPieces_.Next();
  lock.unlock();
  const std::size_t n =
      readFile_->Read(memory_.data() + index * buffersPerSlot_ * bufferBytes_, request);
  lock.lock();
  Slot& slot = slots_[index];
  slot.filled = n;
  slot.request = request;
  slot.ready = true;
  readDone_ = n < request;
  readNext_ = (index + 1) % Slots;
}

std::uint8_t* PieceRing::Buffer(std::size_t index) {
  return memory_.data() + (current_ * buffersPerSlot_ + index) * bufferBytes_;
}

void PieceRing::Submit(std::initializer_list<Job> jobs, bool last, Decipher decipher) {
  const std::size_t index = current_;
  Slot& slot = slots_[index];
  slot.decipher = decipher;
  slot.jobCount = 0;
  for (const Job& job : jobs) {
    if ((job.hash || job.file) && slot.jobCount < slot.jobs.size())
      slot.jobs[slot.jobCount++] = job;
  }
  // Without a helper thread every slot runs here as it is handed over.
  if (alone_ || (!thread_.Running() && (last || !Worker()))) {
    // A single slot: a thread would cost more than it saves.
    RunSlot(index);
    // With no worker yet, the slot the worker takes first is the one after this.
    if (!alone_) next_ = current_ = (current_ + 1) % Slots;
    return;
  }
  std::array<Job, 3> own{};
  std::size_t ownCount = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    RethrowLocked();
    if (pending_ > 0 && !decipher.cipher) {
      // The worker lags: positioned writes need no order, so they stay here.
      std::size_t kept = 0;
      for (std::size_t i = 0; i < slot.jobCount; ++i) {
        const Job& job = slot.jobs[i];
        if (job.file && job.at >= 0) {
          own[ownCount++] = job;
        } else {
          slot.jobs[kept++] = job;
        }
      }
      slot.jobCount = kept;
    }
    slot.ready = false;
    slot.busy = true;
    ++pending_;
    current_ = (current_ + 1) % Slots;
  }
  work_.notify_one();
  // The worker only reads the slot's buffers, and the slot comes round again only after Next.
  for (std::size_t i = 0; i < ownCount; ++i) RunJob(index, own[i]);
}

bool PieceRing::Idled() {
  if (alone_) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  return std::exchange(idled_, false);
}

void PieceRing::Drain() {
  std::unique_lock<std::mutex> lock(mutex_);
  done_.wait(lock, [&] { return error_ || pending_ == 0; });
  RethrowLocked();
}

void PieceRing::RunJob(std::size_t slot, const Job& job) {
  const std::uint8_t* data = memory_.data() + (slot * buffersPerSlot_ + job.buffer) * bufferBytes_;
  if (job.file && job.at >= 0) {
    job.file->WriteAllAt(data, job.size, job.at);
  } else if (job.file) {
    job.file->WriteAll(data, job.size);
  } else {
    job.hash->Update(data, static_cast<std::int32_t>(job.size));
  }
}

void PieceRing::RunSlot(std::size_t index) {
  const Slot& slot = slots_[index];
  if (slot.decipher.cipher) {
    std::uint8_t* base = memory_.data() + index * buffersPerSlot_ * bufferBytes_;
    slot.decipher.cipher->SetChain(slot.decipher.chain.data());
    slot.decipher.cipher->DecryptCBC(base + slot.decipher.offset,
                                     base + bufferBytes_ + slot.decipher.offset,
                                     static_cast<std::int32_t>(slot.decipher.size));
  }
  for (std::size_t i = 0; i < slot.jobCount; ++i) RunJob(index, slot.jobs[i]);
}

void PieceRing::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    const auto hasWork = [&] { return stop_ || pending_ != 0 || CanReadLocked(); };
    if (!hasWork()) idled_ = true;
    work_.wait(lock, hasWork);
    if (stop_) return;
    try {
      // Reads first, so that the calling thread finds its next piece waiting.
      if (CanReadLocked()) {
        ReadOne(lock);
      } else {
        const std::size_t index = next_;
        lock.unlock();
        RunSlot(index);
        lock.lock();
        slots_[index].busy = false;
        next_ = (next_ + 1) % Slots;
        --pending_;
      }
    } catch (...) {
      if (!lock.owns_lock()) lock.lock();
      error_ = std::current_exception();
      lock.unlock();
      done_.notify_all();
      return;
    }
    lock.unlock();
    done_.notify_all();
    lock.lock();
  }
}

} // namespace qk::engine
