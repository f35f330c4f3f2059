// A block cipher keyed from a text (a password, or the key text of the scrambled header texts).
#pragma once

#include "crypto/CryptoBase.h"

#include <string_view>

namespace qk::crypto {

// Keys cipher with the SHA-1 digest of text: Init with the digest's first min(MaxKeySize, 160)
// bits and no IV. The digest is erased however the call ends.
void InitFromText(TDCP_blockcipher& cipher, std::string_view text);

} // namespace qk::crypto
