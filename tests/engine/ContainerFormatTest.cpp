// The container layout, checked against an independent implementation of its primitives.
#include "engine/Container.h"
#include "engine/EngineFixture.h"
#include "engine/Independent.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"

#include <cryptopp/aes.h>
#include <cryptopp/gost.h>
#include <cryptopp/modes.h>
#include <cryptopp/twofish.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace qk::test {
namespace {

using Bytes = std::string;

const CryptoPP::byte* B(const Bytes& s) {
  return reinterpret_cast<const CryptoPP::byte*>(s.data());
}

// Base64 whose final partial group reuses the bytes of the previous group.
Bytes StaleBase64(const Bytes& t) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes out;
  unsigned char g[3] = {0, 0, 0};
  for (std::size_t i = 0; i < t.size(); i += 3) {
    for (std::size_t j = 0; j < 3 && i + j < t.size(); ++j)
      g[j] = static_cast<unsigned char>(t[i + j]);
    out += alphabet[g[0] >> 2];
    out += alphabet[((g[0] & 3) << 4) | (g[1] >> 4)];
    out += alphabet[((g[1] & 15) << 2) | (g[2] >> 6)];
    out += alphabet[g[2] & 63];
  }
  if (t.size() % 3 == 1) out.replace(out.size() - 2, 2, "==");
  if (t.size() % 3 == 2) out.replace(out.size() - 1, 1, "=");
  return out;
}

Bytes CanonicalBase64Decode(const Bytes& s) {
  Bytes out;
  unsigned value = 0;
  int bits = 0;
  for (char c : s) {
    if (c == '=') break;
    const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    value = (value << 6) | static_cast<unsigned>(std::strchr(alphabet, c) - alphabet);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  return out;
}

// Twofish CFB8 under SHA-1(keyText) as a 192-bit key, IV = E(FF..FF).
Bytes TextCfb8(const Bytes& text, const Bytes& keyText, bool encrypt) {
  Bytes key = Sha1(keyText) + Bytes(4, '\0');
  CryptoPP::Twofish::Encryption block(B(key), key.size());
  Bytes iv(16, '\xFF');
  block.ProcessBlock(reinterpret_cast<CryptoPP::byte*>(iv.data()));
  Bytes out(text.size(), '\0');
  const auto params = CryptoPP::MakeParameters(CryptoPP::Name::FeedbackSize(), 1)(
      CryptoPP::Name::IV(), CryptoPP::ConstByteArrayParameter(B(iv), iv.size()));
  if (encrypt) {
    CryptoPP::CFB_Mode<CryptoPP::Twofish>::Encryption mode;
    mode.SetKey(B(key), key.size(), params);
    mode.ProcessData(reinterpret_cast<CryptoPP::byte*>(out.data()), B(text), text.size());
  } else {
    CryptoPP::CFB_Mode<CryptoPP::Twofish>::Decryption mode;
    mode.SetKey(B(key), key.size(), params);
    mode.ProcessData(reinterpret_cast<CryptoPP::byte*>(out.data()), B(text), text.size());
  }
  return out;
}

Bytes VerificationValue(const Bytes& password) {
  const Bytes scrambled = StaleBase64(TextCfb8("5830174", password, true));
  const Bytes digest = Sha1(scrambled);
  return Hex(digest.substr(16, 4));
}

template <class Cipher> Bytes CbcDecrypt(const Bytes& key, const Bytes& data) {
  typename Cipher::Encryption block(B(key), key.size());
  Bytes iv(Cipher::BLOCKSIZE, '\xFF');
  block.ProcessBlock(reinterpret_cast<CryptoPP::byte*>(iv.data()));
  typename CryptoPP::CBC_Mode<Cipher>::Decryption mode(B(key), key.size(), B(iv));
  Bytes out(data.size(), '\0');
  mode.ProcessData(reinterpret_cast<CryptoPP::byte*>(out.data()), B(data), data.size());
  return out;
}

template <class Cipher> Bytes PasswordCheck(const Bytes& key, const Bytes& value) {
  typename Cipher::Encryption block(B(key), key.size());
  Bytes iv(Cipher::BLOCKSIZE, '\xFF');
  block.ProcessBlock(reinterpret_cast<CryptoPP::byte*>(iv.data()));
  Bytes k(Cipher::BLOCKSIZE, '\0');
  if (Cipher::BLOCKSIZE == 16) {
    block.ProcessBlock(B(iv), reinterpret_cast<CryptoPP::byte*>(k.data())); // partial tail
    Bytes out = value;
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(out[i] ^ k[i]);
    return out;
  }
  Bytes x = value;
  for (int i = 0; i < 8; ++i) x[i] = static_cast<char>(x[i] ^ iv[i]);
  block.ProcessBlock(reinterpret_cast<CryptoPP::byte*>(x.data()));
  return x;
}

std::int32_t Int32At(const Bytes& c, std::size_t at) {
  return engine::GetInt32(reinterpret_cast<const std::uint8_t*>(c.data() + at));
}

struct Parsed {
  bool tamper;
  std::int32_t algorithm;
  Bytes check, hintText, nameText;
  std::int32_t date;
  std::int64_t size;
  Bytes data;
  Bytes code;
};

Parsed ParseV5(const Bytes& c) {
  Parsed p{};
  EXPECT_EQ(c.substr(0, 20), "ENCRYPTED BY V5.X QK");
  p.tamper = c[20] != 0;
  std::size_t at = 21;
  if (p.tamper) {
    p.code = c.substr(21, 32);
    at = 53;
  }
  p.algorithm = Int32At(c, at);
  p.check = c.substr(at + 4, 8);
  at += 12;
  const auto hintLength = static_cast<std::size_t>(Int32At(c, at));
  p.hintText = c.substr(at + 4, hintLength);
  at += 4 + hintLength;
  const auto nameLength = static_cast<std::size_t>(Int32At(c, at));
  p.nameText = c.substr(at + 4, nameLength);
  at += 4 + nameLength;
  p.date = Int32At(c, at);
  p.size = engine::GetInt64(reinterpret_cast<const std::uint8_t*>(c.data() + at + 4));
  p.data = c.substr(at + 12);
  return p;
}

TEST_F(EngineTest, SmallContainerHasTheDocumentedOffsets) {
  const std::string source = Plain("a.txt", "0123456789");
  const std::string container = Encrypt(source, "pw", "abc");
  const Bytes c = ReadAll(container);
  ASSERT_EQ(c.size(), 113u);
  EXPECT_EQ(c[20], 1);
  EXPECT_EQ(c.substr(41, 12), Bytes(12, '\xFF')); // tail of the code
  EXPECT_EQ(Int32At(c, 53), 0);
  EXPECT_EQ(Int32At(c, 65), 4);
  EXPECT_EQ(Int32At(c, 73), 8);
  EXPECT_EQ(Int32At(c, 85), platform::GetFileDate(source));
  EXPECT_EQ(engine::GetInt64(reinterpret_cast<const std::uint8_t*>(c.data() + 89)), 10);
}

TEST_F(EngineTest, LayoutWithoutTamperCodeStartsAlgorithmAt21) {
  const std::string container = Encrypt(Plain("a.txt", "x"), "pw", "", 2, false);
  const Bytes c = ReadAll(container);
  EXPECT_EQ(c[20], 0);
  EXPECT_EQ(Int32At(c, 21), 2);
  EXPECT_EQ(Int32At(c, 33), 0); // empty hint
}

class IndependentReader : public EngineTest, public ::testing::WithParamInterface<int> {};

// Every field decoded with another library's primitives gives back what went in.
TEST_P(IndependentReader, ReadsEveryField) {
  const int algorithm = GetParam();
  const Bytes plain = RandomBytes(20000 + static_cast<std::size_t>(algorithm), 7);
  const std::string source = Plain("データ.bin", plain);
  const std::string password = "パスワード";
  const std::string hint = "ヒントです";
  const Bytes c = ReadAll(Encrypt(source, password, hint, algorithm, true));
  const Parsed p = ParseV5(c);
  const Bytes pw = platform::ToSystemCodePage(password);
  const Bytes key = FileKeyOf(pw);

  EXPECT_EQ(p.algorithm, algorithm);
  EXPECT_EQ(TextCfb8(CanonicalBase64Decode(p.hintText), "604918273", false),
            platform::ToStoredText(hint));
  EXPECT_EQ(TextCfb8(CanonicalBase64Decode(p.nameText), "604918273", false),
            platform::ToStoredText("データ.bin"));
  EXPECT_EQ(p.size, static_cast<std::int64_t>(plain.size()));
  ASSERT_EQ(p.data.size(), (plain.size() + 15) / 16 * 16);

  Bytes value = VerificationValue(pw);
  for (auto& ch : value) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
  Bytes decrypted;
  switch (algorithm) {
  case 1:
    EXPECT_EQ(p.check, PasswordCheck<CryptoPP::AES>(key, value));
    decrypted = CbcDecrypt<CryptoPP::AES>(key, p.data);
    break;
  case 2:
    EXPECT_EQ(p.check, PasswordCheck<CryptoPP::GOST>(key, value));
    decrypted = CbcDecrypt<CryptoPP::GOST>(key, p.data);
    break;
  default:
    EXPECT_EQ(p.check, PasswordCheck<CryptoPP::Twofish>(key, value));
    decrypted = CbcDecrypt<CryptoPP::Twofish>(key, p.data);
  }
  EXPECT_EQ(decrypted.substr(0, plain.size()), plain);
  EXPECT_EQ(decrypted.substr(plain.size()), Bytes(decrypted.size() - plain.size(), '\0'));

  EXPECT_EQ(p.code, TamperCodeOf(pw, c.substr(53)));
}

INSTANTIATE_TEST_SUITE_P(Ciphers, IndependentReader, ::testing::Values(0, 1, 2));

TEST_F(EngineTest, NothingInTheFormatIsRandom) {
  const std::string source = Plain("a.txt", RandomBytes(5000, 3));
  const Bytes first = ReadAll(Encrypt(source, "pw", "hint", 1, true));
  const Bytes second = ReadAll(Encrypt(source, "pw", "hint", 1, true));
  EXPECT_EQ(first, second);
}

TEST_F(EngineTest, PasswordCheckDependsOnPasswordAndCipherOnly) {
  const Bytes a = ReadAll(Encrypt(Plain("a", "one"), "pw", "", 0, false)).substr(25, 8);
  const Bytes b = ReadAll(Encrypt(Plain("b", "other contents"), "pw", "x", 0, false)).substr(25, 8);
  const Bytes c = ReadAll(Encrypt(Plain("c", "one"), "pw", "", 1, false)).substr(25, 8);
  const Bytes d = ReadAll(Encrypt(Plain("d", "one"), "pw2", "", 0, false)).substr(25, 8);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  EXPECT_NE(a, d);
}

TEST_F(EngineTest, VerificationHashMatchesIndependentComputation) {
  for (const char* pw : {"", "a", "password", "パスワード", "0123456789abcdefghij"}) {
    const Bytes bytes = platform::ToSystemCodePage(pw);
    Bytes expected = VerificationValue(bytes);
    for (auto& ch : expected) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_EQ(engine.Text().MakeVerificationHash(bytes), expected) << pw;
  }
}

TEST_F(EngineTest, HeaderTextsRoundTrip) {
  for (const Bytes& t :
       {Bytes(""), Bytes("a"), Bytes("ab"), Bytes("abc"), Bytes("\x82\xa0\x82\xa2")}) {
    const Bytes scrambled = engine.Text().EncryptHeaderText(t);
    EXPECT_EQ(scrambled.size(), 4 * ((t.size() + 2) / 3));
    EXPECT_EQ(engine.Text().DecryptHeaderText(scrambled), t);
  }
}

TEST_F(EngineTest, StoredHintIsReadableWithoutPassword) {
  const std::string withHint = Encrypt(Plain("a.txt", "x"), "secret", "ヒント");
  const std::string noHint = Encrypt(Plain("b.txt", "x"), "secret", "", 0, false);
  EXPECT_EQ(engine.ReadStoredHint(withHint).hint, "ヒント");
  EXPECT_EQ(engine.ReadStoredHint(noHint).hint, "");
  // A file that cannot be read so gives a result, never a text in place of the hint.
  const std::string unreadable = "＊エラー：形式外または読み取り専用です。＊";
  const auto missing = engine.ReadStoredHint(dir / "missing");
  EXPECT_FALSE(missing.hint);
  EXPECT_EQ(missing.failure, engine::Outcome::HintUnreadable);
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_EQ(missing.Text(), unreadable);
  EXPECT_FALSE(engine.ReadStoredHint(Plain("short", "abc")).hint);
  EXPECT_EQ(engine.ReadStoredHint(Plain("short2", "abc")).Text(), unreadable);
  chmod(withHint.c_str(), 0444);
  EXPECT_FALSE(engine.ReadStoredHint(withHint).hint);
  EXPECT_EQ(engine.ReadStoredHint(withHint).Text(), unreadable);
}

// A hint length outside 0 to 1000 gives an empty hint, not the unreadable text; the field sits
// at 65 with a tamper code and at 33 without.
TEST_F(EngineTest, StoredHintOfAnOutOfRangeLengthIsEmpty) {
  for (const bool tamper : {true, false}) {
    const std::string container =
        Encrypt(Plain(tamper ? "c.txt" : "d.txt", "x"), "secret", "ヒント", 0, tamper);
    const std::string original = ReadAll(container);
    for (const std::int32_t length : {1001, -1, INT32_MAX, INT32_MIN}) {
      SCOPED_TRACE(testing::Message() << tamper << " " << length);
      std::string bytes = original;
      const auto field = static_cast<std::uint32_t>(length);
      for (int i = 0; i < 4; ++i)
        bytes[(tamper ? 65 : 33) + i] = static_cast<char>((field >> (8 * i)) & 0xFF);
      WriteAll(container, bytes);
      const engine::StoredHint read = engine.ReadStoredHint(container);
      ASSERT_TRUE(read.hint.has_value());
      EXPECT_EQ(*read.hint, "");
      EXPECT_EQ(read.Text(), "");
    }
  }
}

} // namespace
} // namespace qk::test
