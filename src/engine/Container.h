// The container file: markers, the header codec (the one place that knows the header's layout),
// generation recognition and the stored hint.
#pragma once

#include "engine/Result.h"
#include "engine/TextCrypt.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qk::crypto {
class TDCP_blockcipher;
}

namespace qk::engine {

inline constexpr std::string_view MarkerV5 = "ENCRYPTED BY V5.X QK";
inline constexpr std::string_view MarkerV4 = "ENCRYPTED BY V4.X QK";
inline constexpr std::string_view MarkerV3 = "ENCRYPTED BY V3.X QK";
inline constexpr std::string_view MarkerV2 = "ENCRYPTED BY V2.X QK";
inline constexpr std::string_view MarkerUnversioned = "ENCRYPTED BY QK";

inline constexpr std::size_t MarkerLength = 20;
inline constexpr std::size_t TamperCodeOffset = 21;
inline constexpr std::size_t TamperCodeLength = 32;
// First byte covered by the tamper code (AlgorithmId when a code is present).
inline constexpr std::int64_t TamperCoveredOffset = 53;
inline constexpr std::int32_t MaxHeaderTextLength = 1000;
inline constexpr std::size_t DataChunk = 8192;

enum class Generation { V5, V4, V3, Old, Unknown };

// Recognises the generation from the first 20 bytes (text up to the first zero byte).
Generation RecogniseGeneration(const std::uint8_t (&marker)[MarkerLength]);

// Hint and name lengths a reader accepts.
inline bool ValidHeaderTextLength(std::int32_t n) {
  return n >= 0 && n <= MaxHeaderTextLength;
}

// The longest header any generation can have: V5 with a code and both texts at their limit.
inline constexpr std::size_t MaxHeaderSize = MarkerLength + 1 + TamperCodeLength + 4 + 8 + 4 +
                                             std::size_t{MaxHeaderTextLength} + 4 +
                                             std::size_t{MaxHeaderTextLength} + 4 + 8;

// The header of a container, every field as stored. Hint and name are the scrambled Base64 texts
// (TextCrypt::DecryptHeaderText gives them back).
struct ContainerHeader {
  Generation generation = Generation::V5;
  std::uint8_t tamperFlag = 0;                             // V5 only; not 0: a code follows
  std::array<std::uint8_t, TamperCodeLength> tamperCode{}; // when tamperFlag is not 0
  std::int32_t algorithm = 0;
  std::array<std::uint8_t, 8> passwordCheck{};
  std::string hintText;
  std::string nameText;
  std::int32_t fileDate = -1;
  std::int64_t sourceSize = 0; // V4 and V5 only

  bool HasTamperCode() const { return generation == Generation::V5 && tamperFlag != 0; }
  bool HasSourceSize() const {
    return generation == Generation::V5 || generation == Generation::V4;
  }
  // Bytes of the header as stored: the offset of the data.
  std::size_t Size() const;
};

// How reading a header went. Each way a header can be malformed has its own value.
enum class HeaderStatus {
  Ok,
  OldFormat,            // the unversioned or the V2 marker
  UnknownFormat,        // no marker this reader knows
  CutInFixedPart,       // the bytes end before the password check is complete
  HintLengthOutOfRange, // HintLength outside 0 to 1000
  NameLengthOutOfRange, // NameLength outside 0 to 1000
  CutInTexts,           // the bytes end inside the hint, the name or the fields after them
  NegativeSourceSize,   // SourceSize below 0
};

struct HeaderRead {
  HeaderStatus status = HeaderStatus::UnknownFormat;
  // The fields read, up to where the reading stopped: with any status but OldFormat,
  // UnknownFormat and CutInFixedPart, every field up to the password check is there.
  ContainerHeader header;
  bool hintRead = false; // hintText holds the whole stored hint
  // When the bytes were cut short: how many the header needs at least (more may turn out to be
  // needed once these are there). A reader of a file reads up to it and asks again.
  std::size_t needed = 0;
};

// Reads a header from the first bytes of a container (MaxHeaderSize bytes are always enough).
HeaderRead ReadHeader(std::span<const std::uint8_t> bytes);
// The bytes of a V5 header (marker, flag, code, fields). Raises std::length_error when a text is
// longer than a reader accepts, so that no such container is ever written.
std::vector<std::uint8_t> WriteHeader(const ContainerHeader& header);

// What a finished header's data must hold: true when dataLength bytes of data hold the stored
// size rounded up to whole blocks of 16. Never overflows, whatever the values.
bool DataHoldsSourceSize(std::int64_t sourceSize, std::int64_t dataLength);

// Algorithm numbers of the container; every other number reads as Twofish.
enum AlgorithmNumber : std::int32_t { AlgoTwofish = 0, AlgoRijndael = 1, AlgoGost = 2 };

// SHA-1 of the password bytes followed by twelve 0xFF bytes.
using FileKey = std::array<std::uint8_t, 32>;
FileKey MakeFileKey(std::string_view passwordBytes);

// The 8 bytes that prove the password under an already keyed data cipher (chain reset after).
std::array<std::uint8_t, 8> MakePasswordCheck(crypto::TDCP_blockcipher& cipher, TextCrypt& text,
                                              std::string_view passwordBytes);

// Little-endian integers of the header.
void PutInt32(std::uint8_t* p, std::int32_t v);
void PutInt64(std::uint8_t* p, std::int64_t v);
std::int32_t GetInt32(const std::uint8_t* p);
std::int64_t GetInt64(const std::uint8_t* p);

// The hint stored in a container, readable without the password (UTF-8), or why it could not be
// read (Outcome::HintUnreadable): a file that cannot be opened, has no known marker, or ends
// before its hint. A hint length out of range gives the empty hint.
StoredHint ReadStoredHint(const std::string& path, TextCrypt& text);

} // namespace qk::engine
