// Keyed scrambling of the short texts stored in container headers, and the password
// verification value. Uses its own Twofish and hash objects, so a data cipher keyed meanwhile
// is never disturbed. All texts here are byte strings in the system code page.
#pragma once

#include "crypto/SecHash.h"
#include "crypto/Twofish.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace qk::engine {

// Key text of every stored hint and file name.
inline constexpr std::uint32_t HeaderTextKey = 604918273;
// Plaintext of the password verification value.
inline constexpr std::uint32_t VerificationPlaintext = 5830174;

class TextCrypt {
public:
  // Twofish CFB8 under the SHA-1 of keyText, as Base64 text.
  std::string EncryptText(std::string_view text, std::string_view keyText);
  // Inverse of EncryptText; raises CryptoError "Base64: Incorrect string format" when the
  // length is not a multiple of 4.
  std::string DecryptText(std::string_view base64, std::string_view keyText);
  // Eight upper-case hex digits derived from the password bytes alone.
  std::string MakeVerificationHash(std::string_view password);

  // Header texts under the fixed key.
  std::string EncryptHeaderText(std::string_view text);
  std::string DecryptHeaderText(std::string_view base64);

private:
  crypto::TDCP_twofish DCP_twofish_str;
  crypto::TSecHash SecHash1;
};

} // namespace qk::engine
