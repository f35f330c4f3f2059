// The key installation, chaining modes and key hygiene of the 128-bit block ciphers, checked
// against an independent implementation of the same ciphers and modes.
#include "crypto/Rijndael.h"
#include "crypto/TextKey.h"
#include "crypto/Twofish.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cryptopp/aes.h>
#include <cryptopp/modes.h>
#include <cryptopp/twofish.h>

#include <cstring>
#include <random>
#include <string>

namespace qk::crypto {
namespace {

using test::FromHex;
using test::Hex;
using test::RandomBytes;

struct TwofishPair {
  using Ours = TDCP_twofish;
  using Reference = CryptoPP::Twofish;
  static constexpr const char* kName = "Twofish";
};

struct RijndaelPair {
  using Ours = TDCP_rijndael;
  using Reference = CryptoPP::AES;
  static constexpr const char* kName = "Rijndael";
};

const CryptoPP::byte* Bytes(const std::string& s) {
  return reinterpret_cast<const CryptoPP::byte*>(s.data());
}
CryptoPP::byte* Bytes(std::string& s) {
  return reinterpret_cast<CryptoPP::byte*>(s.data());
}

std::string View(const std::uint8_t* p) {
  return std::string(reinterpret_cast<const char*>(p), 16);
}

// Both lengths the ciphers run at are the next of 16, 24 or 32 bytes.
std::string Fitted(const std::string& key) {
  const std::size_t n = key.size() <= 16 ? 16 : key.size() <= 24 ? 24 : 32;
  return key + std::string(n - key.size(), '\0');
}

template <class P> class BlockCipherModes : public ::testing::Test {
protected:
  using Ours = typename P::Ours;
  using Ref = typename P::Reference;

  static std::string RefEncryptBlock(const std::string& key, const std::string& block) {
    typename Ref::Encryption e(Bytes(key), key.size());
    std::string out(16, '\0');
    e.ProcessBlock(Bytes(block), Bytes(out));
    return out;
  }

  static std::string RefCBC(bool encrypt, const std::string& key, const std::string& iv,
                            const std::string& in) {
    std::string out(in.size(), '\0');
    if (encrypt) {
      typename CryptoPP::CBC_Mode<Ref>::Encryption m(Bytes(key), key.size(), Bytes(iv));
      m.ProcessData(Bytes(out), Bytes(in), in.size());
    } else {
      typename CryptoPP::CBC_Mode<Ref>::Decryption m(Bytes(key), key.size(), Bytes(iv));
      m.ProcessData(Bytes(out), Bytes(in), in.size());
    }
    return out;
  }

  static std::string RefCFB8(const std::string& key, const std::string& iv, const std::string& in) {
    std::string out(in.size(), '\0');
    typename CryptoPP::CFB_Mode<Ref>::Encryption m(Bytes(key), key.size(), Bytes(iv), 1);
    m.ProcessData(Bytes(out), Bytes(in), in.size());
    return out;
  }

  static void InitWith(Ours& c, const std::string& key) {
    c.Init(key.data(), static_cast<std::int32_t>(key.size() * 8), nullptr);
  }
};

using Ciphers = ::testing::Types<TwofishPair, RijndaelPair>;
TYPED_TEST_SUITE(BlockCipherModes, Ciphers);

TYPED_TEST(BlockCipherModes, EveryKeySizeMatchesTheZeroPaddedStandardKey) {
  // Covers 40 bits (-> 128) and 160 bits (-> 192) among all others.
  for (int bytes = 1; bytes <= 32; ++bytes) {
    SCOPED_TRACE(bytes);
    const std::string key = RandomBytes(static_cast<std::size_t>(bytes), 100 + bytes);
    const std::string block = RandomBytes(16, 200 + bytes);
    typename TestFixture::Ours c;
    TestFixture::InitWith(c, key);
    std::string out(16, '\0');
    c.EncryptBlock(block.data(), out.data());
    EXPECT_EQ(Hex(out), Hex(TestFixture::RefEncryptBlock(Fitted(key), block)));
    c.DecryptBlock(out.data(), out.data());
    EXPECT_EQ(out, block);
    // Without an IV, IV = E_K(FF..FF).
    EXPECT_EQ(Hex(View(c.IV())),
              Hex(TestFixture::RefEncryptBlock(Fitted(key), std::string(16, '\xff'))));
  }
}

// Pieces of whole blocks chain on: several calls, split anywhere, equal one reference CBC run
// over the whole buffer.
TYPED_TEST(BlockCipherModes, CBCInRandomPiecesMatchesReference) {
  std::mt19937 gen(11);
  for (int keyBytes : {16, 20, 24, 32}) {
    for (int round = 0; round < 20; ++round) {
      const std::string key = RandomBytes(static_cast<std::size_t>(keyBytes), gen());
      const std::size_t blocks = gen() % 64;
      const std::string plain = RandomBytes(16 * blocks, gen());

      typename TestFixture::Ours c;
      TestFixture::InitWith(c, key);
      const std::string iv = View(c.IV());
      const std::string expected = TestFixture::RefCBC(true, Fitted(key), iv, plain);

      std::string buf = plain;
      for (std::size_t done = 0; done < blocks;) {
        const std::size_t piece = std::min<std::size_t>(blocks - done, gen() % 9);
        c.EncryptCBC(buf.data() + 16 * done, buf.data() + 16 * done,
                     static_cast<std::int32_t>(16 * piece));
        done += piece;
      }
      ASSERT_EQ(Hex(buf), Hex(expected)) << "key bytes " << keyBytes << ", blocks " << blocks;
      if (blocks) {
        EXPECT_EQ(View(c.ChainValue()), buf.substr(buf.size() - 16));
      }

      c.ResetChain();
      for (std::size_t done = 0; done < blocks;) {
        const std::size_t piece = std::min<std::size_t>(blocks - done, gen() % 9);
        c.DecryptCBC(buf.data() + 16 * done, buf.data() + 16 * done,
                     static_cast<std::int32_t>(16 * piece));
        done += piece;
      }
      ASSERT_EQ(buf, plain);
      ASSERT_EQ(Hex(TestFixture::RefCBC(false, Fitted(key), iv, expected)), Hex(plain));
    }
  }
}

// 40 bytes: two CBC blocks, then 8 bytes XORed with E_K(second ciphertext block); the chaining
// value stays at the second ciphertext block. One and three blocks take other paths.
TYPED_TEST(BlockCipherModes, CBCPartialTail) {
  for (std::size_t blocks : {1u, 2u, 3u}) {
    SCOPED_TRACE(blocks);
    const std::size_t n = 16 * blocks + 8;
    const std::string key = RandomBytes(32, 21);
    const std::string plain = RandomBytes(n, 22);
    typename TestFixture::Ours c;
    TestFixture::InitWith(c, key);
    const std::string iv = View(c.IV());

    std::string buf = plain;
    c.EncryptCBC(buf.data(), buf.data(), static_cast<std::int32_t>(n));
    const std::string whole = TestFixture::RefCBC(true, key, iv, plain.substr(0, n - 8));
    EXPECT_EQ(Hex(buf.substr(0, n - 8)), Hex(whole));
    const std::string last = whole.substr(n - 24);
    const std::string pad = TestFixture::RefEncryptBlock(key, last);
    std::string tail = plain.substr(n - 8);
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<char>(tail[i] ^ pad[i]);
    EXPECT_EQ(Hex(buf.substr(n - 8)), Hex(tail));
    EXPECT_EQ(View(c.ChainValue()), last);

    c.ResetChain();
    c.DecryptCBC(buf.data(), buf.data(), static_cast<std::int32_t>(n));
    EXPECT_EQ(buf, plain);
    EXPECT_EQ(View(c.ChainValue()), last);
  }
}

// The 8-byte password check field: input XOR the front of E_K(IV), chain untouched.
TYPED_TEST(BlockCipherModes, CBCShortBufferIsOneKeystreamBlock) {
  const std::string key = RandomBytes(32, 31);
  const std::string plain = RandomBytes(8, 32);
  typename TestFixture::Ours c;
  TestFixture::InitWith(c, key);
  const std::string iv = View(c.IV());

  std::string buf = plain;
  c.EncryptCBC(buf.data(), buf.data(), 8);
  const std::string pad = TestFixture::RefEncryptBlock(key, iv);
  for (int i = 0; i < 8; ++i) EXPECT_EQ(buf[i], static_cast<char>(plain[i] ^ pad[i]));
  EXPECT_EQ(View(c.ChainValue()), iv);

  c.ResetChain();
  c.DecryptCBC(buf.data(), buf.data(), 8);
  EXPECT_EQ(buf, plain);
}

TYPED_TEST(BlockCipherModes, CFB8InPlaceMatchesReferenceAndRoundTrips) {
  for (std::size_t n : {0u, 1u, 15u, 16u, 17u, 1000u}) {
    SCOPED_TRACE(n);
    const std::string key = RandomBytes(20, static_cast<std::uint32_t>(n) + 41);
    const std::string plain = RandomBytes(n, static_cast<std::uint32_t>(n) + 42);
    typename TestFixture::Ours c;
    TestFixture::InitWith(c, key);
    const std::string iv = View(c.IV());

    std::string buf = plain;
    c.EncryptCFB8(buf.data(), buf.data(), static_cast<std::int32_t>(n));
    EXPECT_EQ(Hex(buf), Hex(TestFixture::RefCFB8(Fitted(key), iv, plain)));
    const std::string expectedChain = n >= 16 ? buf.substr(n - 16) : iv.substr(n) + buf;
    EXPECT_EQ(View(c.ChainValue()), expectedChain);

    c.ResetChain();
    c.DecryptCFB8(buf.data(), buf.data(), static_cast<std::int32_t>(n));
    EXPECT_EQ(buf, plain);
  }
}

TYPED_TEST(BlockCipherModes, BadKeySizesAreRefused) {
  const std::string key(40, '\x11');
  for (std::int32_t bits : {0, 7, 264, -8}) {
    typename TestFixture::Ours c;
    TestFixture::InitWith(c, std::string(32, '\x22'));
    try {
      c.Init(key.data(), bits, nullptr);
      ADD_FAILURE() << "accepted " << bits;
    } catch (const CryptoError& e) {
      EXPECT_EQ(std::string(e.what()),
                std::string(TypeParam::kName) + ": Invalid key size - " + std::to_string(bits));
    }
    EXPECT_FALSE(c.Initialized());
    EXPECT_EQ(View(c.IV()), std::string(16, '\xff'));
    EXPECT_EQ(View(c.ChainValue()), std::string(16, '\xff'));
  }
}

TYPED_TEST(BlockCipherModes, EveryOperationRefusedAfterEraseKey) {
  typename TestFixture::Ours c;
  TestFixture::InitWith(c, RandomBytes(32, 51));
  c.EraseKey();
  EXPECT_FALSE(c.Initialized());
  EXPECT_EQ(View(c.IV()), std::string(16, '\xff'));
  EXPECT_EQ(View(c.ChainValue()), std::string(16, '\xff'));

  const std::string message = std::string(TypeParam::kName) + ": Not initialized";
  std::string buf(32, '\x33');
  const auto expectRefused = [&](auto op) {
    try {
      op();
      ADD_FAILURE() << "not refused";
    } catch (const CryptoError& e) {
      EXPECT_EQ(e.what(), message);
    }
    EXPECT_EQ(buf, std::string(32, '\x33'));
  };
  expectRefused([&] { c.EncryptBlock(buf.data(), buf.data()); });
  expectRefused([&] { c.DecryptBlock(buf.data(), buf.data()); });
  expectRefused([&] { c.EncryptCBC(buf.data(), buf.data(), 32); });
  expectRefused([&] { c.DecryptCBC(buf.data(), buf.data(), 32); });
  expectRefused([&] { c.EncryptCFB8(buf.data(), buf.data(), 32); });
  expectRefused([&] { c.DecryptCFB8(buf.data(), buf.data(), 32); });
}

TYPED_TEST(BlockCipherModes, InitFromEmptyTextUsesTheDigestOfTheEmptyMessage) {
  const std::string digest = FromHex("da39a3ee5e6b4b0d3255bfef95601890afd80709");
  typename TestFixture::Ours fromText, fromKey;
  InitFromText(fromText, "");
  fromKey.Init(digest.data(), 160, nullptr);
  EXPECT_EQ(View(fromText.IV()), View(fromKey.IV()));
  EXPECT_EQ(Hex(View(fromText.IV())),
            Hex(TestFixture::RefEncryptBlock(Fitted(digest), std::string(16, '\xff'))));
}

TYPED_TEST(BlockCipherModes, SameTextSameKey) {
  typename TestFixture::Ours a, b, other;
  InitFromText(a, "correct horse");
  InitFromText(b, "correct horse");
  InitFromText(other, "correct horsf");
  std::string x = RandomBytes(100, 61), y = x, z = x;
  a.EncryptCFB8(x.data(), x.data(), 100);
  b.EncryptCFB8(y.data(), y.data(), 100);
  other.EncryptCFB8(z.data(), z.data(), 100);
  EXPECT_EQ(x, y);
  EXPECT_NE(x, z);
}

} // namespace
} // namespace qk::crypto
