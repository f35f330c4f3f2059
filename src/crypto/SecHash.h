// One-call SHA-1 over a buffer, a text or a file, with the result as five 32-bit words.
#pragma once

#include "crypto/CryptoBase.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace qk::crypto {

struct SecDigest {
  std::uint32_t H[5] = {};
};

class ESecHashException : public CryptoError {
public:
  using CryptoError::CryptoError;
};

// A file hash that its progress hook stopped.
class ESecHashStopped : public ESecHashException {
public:
  ESecHashStopped() : ESecHashException("SHA1: Stopped") {}
};

class TSecHash {
public:
  // Called with true when a hash call starts and false when it ends (also on errors); the
  // desktop front end shows the busy cursor from it. Does nothing by default.
  using BusyHook = std::function<void(bool busy)>;
  static void SetBusyHook(BusyHook hook);

  // Called by HashFile after each piece of the file it reads, with the bytes read so far and the
  // file's size; false stops the hash, which then raises ESecHashStopped. None by default.
  using ProgressHook = std::function<bool(std::int64_t done, std::int64_t total)>;
  ProgressHook OnProgress;

  TSecHash() = default;
  ~TSecHash();
  TSecHash(const TSecHash&) = delete;
  TSecHash& operator=(const TSecHash&) = delete;

  void HashBuffer(const void* data, std::int32_t length, SecDigest& digest);
  void HashText(std::string_view text, SecDigest& digest);
  // Opens with read and write access; a file that cannot be opened so raises
  // ESecHashException "File not found !". The size is taken once, as a 64-bit count.
  // OnProgress hears of every piece read.
  void HashFile(const std::string& fileName, SecDigest& digest);

private:
  // Hashes length bytes delivered by fetch(destination, count), in order.
  template <typename Fetch> void Run(std::int64_t length, Fetch&& fetch, SecDigest& digest);
  void Compress();
  void Wipe();

  std::uint32_t h_[5] = {};
  std::uint8_t block_[64] = {};
  std::uint32_t w_[80] = {};
};

// The five words as 8 upper-case hex digits each, separated by single spaces.
std::string FormatSecDigest(const SecDigest& digest);

} // namespace qk::crypto
