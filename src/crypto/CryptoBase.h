// Base classes of the hash and block-cipher families, and the error type of the primitives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qk::crypto {

// Every primitive reports failures with this type. The ciphers, SHA-1 and Base64 begin the message
// with the algorithm's name ("Twofish: Not initialized", "SHA1: Not initialized"); the file hash's
// ESecHashException "File not found !" (crypto/SecHash.h) does not.
class CryptoError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Incremental hash: Init, any number of Update / UpdateText, Final (which erases the state).
class TDCP_hash {
public:
  virtual ~TDCP_hash() = default;
  TDCP_hash(const TDCP_hash&) = delete;
  TDCP_hash& operator=(const TDCP_hash&) = delete;

  const std::string& Algorithm() const { return algorithm_; }
  int HashSize() const { return hashSize_; } // bits
  bool Initialized() const { return initialized_; }

  virtual void Init() = 0;
  virtual void EraseState() = 0;
  virtual void Update(const void* buffer, std::int32_t size) = 0;
  // Writes HashSize() / 8 bytes to digest and erases the state.
  virtual void Final(void* digest) = 0;

  // Update over the bytes of text, without terminator.
  void UpdateText(std::string_view text);

protected:
  TDCP_hash(std::string algorithm, int hashSizeBits)
      : algorithm_(std::move(algorithm)), hashSize_(hashSizeBits) {}

  bool initialized_ = false;

private:
  std::string algorithm_;
  int hashSize_;
};

// Block cipher: the key and IV installation, the chaining state and the modes over a buffer. A
// cipher supplies its key schedule, the transform of one block and CBC over whole blocks (where
// its fast routines live); the checks, the partial CBC tail and CFB8 are this class's, the same
// for every cipher. Buffer operations may work in place (in == out).
class TDCP_blockcipher {
public:
  static constexpr int kMaxBlockBytes = 16;

  virtual ~TDCP_blockcipher() = default;
  TDCP_blockcipher(const TDCP_blockcipher&) = delete;
  TDCP_blockcipher& operator=(const TDCP_blockcipher&) = delete;

  const std::string& Algorithm() const { return algorithm_; }
  int BlockSize() const { return blockSizeBits_; }   // bits
  int MaxKeySize() const { return maxKeySizeBits_; } // bits
  bool Initialized() const { return initialized_; }

  // Installs a key of sizeBits bits (a multiple of 8, 8..MaxKeySize()); iv is one block or null.
  // Without an IV, IV := E_K(FF..FF). Raises "<Algorithm>: Invalid key size - <sizeBits>".
  void Init(const void* key, std::int32_t sizeBits, const void* iv);
  // Fills key schedule, IV and chaining value with 0xFF bytes; not initialised afterwards.
  virtual void EraseKey() = 0;
  // ChainValue := IV.
  void ResetChain();
  // ChainValue := one block (the ciphertext block before the next one to decrypt, say).
  void SetChain(const void* block);

  void EncryptBlock(const void* in, void* out);
  void DecryptBlock(const void* in, void* out);
  // CBC over size bytes; a partial tail is XORed with E(ChainValue), which does not advance.
  void EncryptCBC(const void* in, void* out, std::int32_t size);
  void DecryptCBC(const void* in, void* out, std::int32_t size);
  // 8-bit cipher feedback over size bytes.
  void EncryptCFB8(const void* in, void* out, std::int32_t size);
  void DecryptCFB8(const void* in, void* out, std::int32_t size);

  // Read-only views of the chaining state, for tests of key hygiene.
  const std::uint8_t* IV() const { return iv_; }
  const std::uint8_t* ChainValue() const { return chain_; }

protected:
  TDCP_blockcipher(std::string algorithm, int blockSizeBits, int maxKeySizeBits)
      : algorithm_(std::move(algorithm)), blockSizeBits_(blockSizeBits),
        maxKeySizeBits_(maxKeySizeBits) {}

  int BlockBytes() const { return blockSizeBits_ / 8; }

  // Runs the key schedule on a 32-byte buffer holding the key zero-padded; sizeBits is the
  // key length as given to Init.
  virtual void InstallKey(const std::uint8_t* key32, std::int32_t sizeBits) = 0;
  // Copies a caller's IV; a cipher may apply its own rule to special values.
  virtual void InstallIV(const std::uint8_t* iv);
  // One block under the installed key, without the initialisation check.
  virtual void EncryptRaw(const std::uint8_t* in, std::uint8_t* out) const = 0;
  virtual void DecryptRaw(const std::uint8_t* in, std::uint8_t* out) const = 0;
  // CBC over whole blocks from ChainValue on, leaving the last ciphertext block in ChainValue;
  // called with the key installed.
  virtual void EncryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) = 0;
  virtual void DecryptBlocksCBC(const std::uint8_t* in, std::uint8_t* out, std::size_t blocks) = 0;

  // Raises "<Algorithm>: Not initialized" when no key is installed.
  void CheckInitialized() const;
  // Fills IV and ChainValue with 0xFF and clears the initialised flag (for EraseKey).
  void EraseChain();

  bool initialized_ = false;
  std::uint8_t iv_[kMaxBlockBytes] = {};
  std::uint8_t chain_[kMaxBlockBytes] = {};

private:
  // The partial CBC tail: n < BlockBytes() bytes XORed with E(ChainValue), which does not advance.
  void XorTail(const std::uint8_t* in, std::uint8_t* out, std::int32_t n) const;

  std::string algorithm_;
  int blockSizeBits_;
  int maxKeySizeBits_;
};

} // namespace qk::crypto
