// Erasing returns an object to exactly the bytes it had when it was made: nothing of a key, an
// IV, a chaining value or a hashed message stays in its memory.
#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/SHA1.h"
#include "crypto/TextKey.h"
#include "crypto/Twofish.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace qk::test {
namespace {

template <class T> std::string Bytes(const T& object) {
  return std::string(reinterpret_cast<const char*>(&object), sizeof object);
}

template <class Cipher> void ExpectEraseRestoresFreshState() {
  Cipher cipher;
  const std::string fresh = Bytes(cipher);
  std::uint8_t key[32];
  for (int i = 0; i < 32; ++i) key[i] = static_cast<std::uint8_t>(0x11 * i + 3);
  cipher.Init(key, 256, nullptr);
  std::uint8_t data[64] = {1, 2, 3};
  cipher.EncryptCBC(data, data, sizeof data);
  cipher.EncryptCFB8(data, data, 5);
  EXPECT_NE(Bytes(cipher), fresh);
  cipher.EraseKey();
  EXPECT_EQ(Bytes(cipher), fresh) << cipher.Algorithm();
  // Keyed from text, too.
  crypto::InitFromText(cipher, "secret text");
  cipher.EraseKey();
  EXPECT_EQ(Bytes(cipher), fresh) << cipher.Algorithm();
}

TEST(KeyHygiene, CiphersForgetEverythingOnErase) {
  ExpectEraseRestoresFreshState<crypto::TDCP_twofish>();
  ExpectEraseRestoresFreshState<crypto::TDCP_rijndael>();
  ExpectEraseRestoresFreshState<crypto::TDCP_gost>();
}

TEST(KeyHygiene, HashForgetsTheMessageOnFinal) {
  crypto::TDCP_sha1 sha;
  const std::string fresh = Bytes(sha);
  sha.Init();
  const std::string message = "the password and then some more text to fill a block ......";
  sha.UpdateText(message);
  std::uint8_t digest[20];
  sha.Final(digest);
  EXPECT_EQ(Bytes(sha), fresh);
  const std::string memory = Bytes(sha);
  EXPECT_EQ(memory.find("password"), std::string::npos);
}

} // namespace
} // namespace qk::test
