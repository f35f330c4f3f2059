#include "crypto/Gost.h"
#include "support/TestSupport.h"

#include <cryptopp/gost.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>

#include <random>
#include <string>

namespace qk::crypto {
namespace {

using test::Hex;
using test::RandomBytes;

const CryptoPP::byte* Bytes(const std::string& s) {
  return reinterpret_cast<const CryptoPP::byte*>(s.data());
}

// The independent implementation: same S-boxes, little-endian key and block words, output
// N2 then N1.
std::string RefBlock(const std::string& key32, const std::string& block, bool encrypt = true) {
  std::string out(8, '\0');
  auto* dst = reinterpret_cast<CryptoPP::byte*>(out.data());
  if (encrypt) {
    CryptoPP::GOST::Encryption(Bytes(key32), 32).ProcessBlock(Bytes(block), dst);
  } else {
    CryptoPP::GOST::Decryption(Bytes(key32), 32).ProcessBlock(Bytes(block), dst);
  }
  return out;
}

std::string View(const std::uint8_t* p) {
  return std::string(reinterpret_cast<const char*>(p), 8);
}

TEST(Gost, BlocksMatchReference) {
  std::mt19937 gen(2891);
  for (int i = 0; i < 300; ++i) {
    const std::string key = RandomBytes(32, gen()), block = RandomBytes(8, gen());
    TDCP_gost g;
    g.Init(key.data(), 256, nullptr);
    std::string enc(8, '\0'), dec(8, '\0');
    g.EncryptBlock(block.data(), enc.data());
    g.DecryptBlock(block.data(), dec.data());
    ASSERT_EQ(Hex(enc), Hex(RefBlock(key, block))) << Hex(key);
    ASSERT_EQ(Hex(dec), Hex(RefBlock(key, block, false))) << Hex(key);
  }
}

// File keys (a digest and twelve 0xFF bytes), data in two calls, in place, then decrypted.
TEST(Gost, CbcMatchesReference) {
  std::mt19937 gen(31);
  for (int i = 0; i < 40; ++i) {
    const std::string key = RandomBytes(20, gen()) + std::string(12, '\xFF');
    const std::string plain = RandomBytes(8 * (1 + gen() % 1100), gen());
    TDCP_gost g;
    g.Init(key.data(), 256, nullptr);
    const std::string iv = View(g.IV());
    ASSERT_EQ(iv, RefBlock(key, std::string(8, '\xFF')));

    std::string ref(plain.size(), '\0');
    CryptoPP::CBC_Mode<CryptoPP::GOST>::Encryption(Bytes(key), 32, Bytes(iv))
        .ProcessData(reinterpret_cast<CryptoPP::byte*>(ref.data()), Bytes(plain), plain.size());

    std::string buf = plain;
    const auto size = static_cast<std::int32_t>(buf.size());
    const auto first = static_cast<std::int32_t>(8 * (gen() % (plain.size() / 8 + 1)));
    g.EncryptCBC(buf.data(), buf.data(), first);
    g.EncryptCBC(buf.data() + first, buf.data() + first, size - first);
    ASSERT_EQ(Hex(buf), Hex(ref));
    ASSERT_EQ(View(g.ChainValue()), ref.substr(ref.size() - 8));

    g.ResetChain();
    std::string back(plain.size(), '\0');
    g.DecryptCBC(buf.data(), back.data(), size);
    ASSERT_EQ(back, plain);
    g.ResetChain();
    g.DecryptCBC(buf.data(), buf.data(), size);
    ASSERT_EQ(buf, plain);
  }
}

// 8 bytes are one ordinary block; a partial tail is XORed with E(chain), which stays put.
TEST(Gost, CbcTail) {
  const std::string key = RandomBytes(32, 9);
  for (int size : {1, 7, 8, 13, 21, 43}) {
    const std::string plain = RandomBytes(static_cast<std::size_t>(size), size);
    TDCP_gost g;
    g.Init(key.data(), 256, nullptr);
    const std::size_t whole = plain.size() / 8 * 8;
    std::string expect, chain = View(g.IV());
    for (std::size_t pos = 0; pos < whole; pos += 8) {
      std::string x = plain.substr(pos, 8);
      for (int j = 0; j < 8; ++j) x[j] = static_cast<char>(x[j] ^ chain[j]);
      chain = RefBlock(key, x);
      expect += chain;
    }
    const std::string k = RefBlock(key, chain);
    for (std::size_t j = whole; j < plain.size(); ++j)
      expect.push_back(static_cast<char>(plain[j] ^ k[j - whole]));

    std::string buf = plain;
    g.EncryptCBC(buf.data(), buf.data(), size);
    EXPECT_EQ(Hex(buf), Hex(expect)) << "size " << size;
    EXPECT_EQ(Hex(View(g.ChainValue())), Hex(chain));
    g.ResetChain();
    g.DecryptCBC(buf.data(), buf.data(), size);
    EXPECT_EQ(buf, plain) << "size " << size;
    EXPECT_EQ(Hex(View(g.ChainValue())), Hex(chain));
  }
}

TEST(Gost, ShortKeyIsZeroPadded) {
  const std::string key = RandomBytes(32, 12), block = RandomBytes(8, 13);
  for (int bytes : {1, 20, 31}) {
    std::string padded = key.substr(0, static_cast<std::size_t>(bytes));
    padded.resize(32, '\0');
    TDCP_gost g;
    g.Init(key.data(), bytes * 8, nullptr);
    std::string enc(8, '\0');
    g.EncryptBlock(block.data(), enc.data());
    EXPECT_EQ(Hex(enc), Hex(RefBlock(padded, block))) << bytes << " bytes";
    EXPECT_EQ(Hex(View(g.IV())), Hex(RefBlock(padded, std::string(8, '\xFF'))));
  }
}

TEST(Gost, ErrorsAndErasure) {
  const std::string key = RandomBytes(33, 1);
  std::string block(8, 'x');
  TDCP_gost g;
  for (int bits : {264, 0, 7, -8}) {
    try {
      g.Init(key.data(), bits, nullptr);
      FAIL() << bits;
    } catch (const CryptoError& e) {
      EXPECT_EQ(e.what(), "Gost: Invalid key size - " + std::to_string(bits));
    }
  }
  g.Init(key.data(), 256, nullptr);
  g.EraseKey();
  EXPECT_EQ(Hex(View(g.IV()) + View(g.ChainValue())), std::string(32, 'f'));
  try {
    g.EncryptBlock(block.data(), block.data());
    FAIL();
  } catch (const CryptoError& e) {
    EXPECT_STREQ(e.what(), "Gost: Not initialized");
  }
  EXPECT_THROW(g.EncryptCBC(block.data(), block.data(), 8), CryptoError);
  EXPECT_THROW(g.DecryptCBC(block.data(), block.data(), 8), CryptoError);
  EXPECT_EQ(block, std::string(8, 'x'));
}

} // namespace
} // namespace qk::crypto
