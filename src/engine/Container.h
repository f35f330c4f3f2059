// The container file: markers, header layout, generation recognition and the stored hint.
#pragma once

#include "engine/Result.h"
#include "engine/TextCrypt.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

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
// read (Outcome::HintUnreadable).
StoredHint ReadStoredHint(const std::string& path, TextCrypt& text);

} // namespace qk::engine
