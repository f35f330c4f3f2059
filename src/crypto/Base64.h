// Base64 with the standard alphabet and "=" padding, in the exact form stored in containers.
#pragma once

#include <string>
#include <string_view>

namespace qk::crypto {

// Never fails. The character in front of the padding carries bits of the previous group.
std::string Base64Encode(std::string_view data);
// Raises CryptoError "Base64: Incorrect string format" when the length is not a multiple of 4.
// Characters outside the alphabet decode as 63; nothing is rejected or skipped.
std::string Base64Decode(std::string_view text);

} // namespace qk::crypto
