#include "engine/TextCrypt.h"

#include "crypto/Base64.h"
#include "crypto/TextKey.h"
#include "platform/Hardening.h"
#include "platform/SecretText.h"

#include <cstdio>

namespace qk::engine {

namespace {

const std::string& HeaderKeyText() {
  static const std::string text = std::to_string(HeaderTextKey);
  return text;
}

// Erases the text cipher's key however the scope is left.
struct KeyEraser {
  crypto::TDCP_blockcipher& cipher;
  ~KeyEraser() {
    cipher.ResetChain();
    cipher.EraseKey();
  }
};

} // namespace

std::string TextCrypt::EncryptText(std::string_view text, std::string_view keyText) {
  crypto::InitFromText(DCP_twofish_str, keyText);
  KeyEraser eraser{DCP_twofish_str};
  std::string bytes(text);
  DCP_twofish_str.EncryptCFB8(bytes.data(), bytes.data(), static_cast<std::int32_t>(bytes.size()));
  std::string result = crypto::Base64Encode(bytes);
  platform::SecureClear(bytes);
  return result;
}

std::string TextCrypt::DecryptText(std::string_view base64, std::string_view keyText) {
  crypto::InitFromText(DCP_twofish_str, keyText);
  KeyEraser eraser{DCP_twofish_str};
  std::string bytes = crypto::Base64Decode(base64);
  DCP_twofish_str.DecryptCFB8(bytes.data(), bytes.data(), static_cast<std::int32_t>(bytes.size()));
  return bytes;
}

std::string TextCrypt::MakeVerificationHash(std::string_view password) {
  const std::string scrambled = EncryptText(std::to_string(VerificationPlaintext), password);
  crypto::SecDigest digest;
  SecHash1.HashText(scrambled, digest);
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(digest.H[4]));
  return hex;
}

std::string TextCrypt::EncryptHeaderText(std::string_view text) {
  return EncryptText(text, HeaderKeyText());
}

std::string TextCrypt::DecryptHeaderText(std::string_view base64) {
  return DecryptText(base64, HeaderKeyText());
}

} // namespace qk::engine
