#include "crypto/Gost.h"
#include "support/TestSupport.h"

#include <cryptopp/gost.h>
#include <cryptopp/modes.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

namespace qk::crypto {
namespace {

using test::Hex;
using test::RandomBytes;

const CryptoPP::byte* Bytes(const std::string& s) {
  return reinterpret_cast<const CryptoPP::byte*>(s.data());
}

std::string RefEncryptBlock(const std::string& key32, const std::string& block) {
  CryptoPP::GOST::Encryption enc(Bytes(key32), 32);
  std::string out(8, '\0');
  enc.ProcessBlock(Bytes(block), reinterpret_cast<CryptoPP::byte*>(out.data()));
  return out;
}

std::string RefDecryptBlock(const std::string& key32, const std::string& block) {
  CryptoPP::GOST::Decryption dec(Bytes(key32), 32);
  std::string out(8, '\0');
  dec.ProcessBlock(Bytes(block), reinterpret_cast<CryptoPP::byte*>(out.data()));
  return out;
}

std::string Encrypt(TDCP_gost& g, const std::string& block) {
  std::string out(8, '\0');
  g.EncryptBlock(block.data(), out.data());
  return out;
}

std::string Decrypt(TDCP_gost& g, const std::string& block) {
  std::string out(8, '\0');
  g.DecryptBlock(block.data(), out.data());
  return out;
}

std::string IVOf(const TDCP_gost& g) {
  return std::string(reinterpret_cast<const char*>(g.IV()), 8);
}

std::string ChainOf(const TDCP_gost& g) {
  return std::string(reinterpret_cast<const char*>(g.ChainValue()), 8);
}

void ExpectError(const std::function<void()>& call, const char* message) {
  try {
    call();
    FAIL() << "expected " << message;
  } catch (const CryptoError& e) {
    EXPECT_STREQ(e.what(), message);
  }
}

TEST(Gost, Identity) {
  TDCP_gost g;
  EXPECT_EQ(g.Algorithm(), "Gost");
  EXPECT_EQ(g.BlockSize(), 64);
  EXPECT_EQ(g.MaxKeySize(), 256);
  EXPECT_EQ(g.AlgorithmCode(), 8);
  EXPECT_FALSE(g.Initialized());
  EXPECT_EQ(Hex(IVOf(g)), "ffffffffffffffff");
}

// The independent implementation uses the same S-boxes, little-endian key and block words and
// the N2, N1 output order: single blocks agree in both directions for random keys.
TEST(Gost, BlocksMatchReference) {
  std::mt19937 gen(2891);
  for (int i = 0; i < 300; ++i) {
    const std::string key = RandomBytes(32, gen());
    const std::string block = RandomBytes(8, gen());
    TDCP_gost g;
    g.Init(key.data(), 256, nullptr);
    ASSERT_EQ(Hex(Encrypt(g, block)), Hex(RefEncryptBlock(key, block))) << "key " << Hex(key);
    ASSERT_EQ(Hex(Decrypt(g, block)), Hex(RefDecryptBlock(key, block))) << "key " << Hex(key);
    ASSERT_EQ(Decrypt(g, Encrypt(g, block)), block);
  }
}

TEST(Gost, FileKeyAndImplicitIVMatchReference) {
  // A file key: a 20-byte digest followed by twelve 0xFF bytes, so K5..K7 are all ones.
  std::string key = RandomBytes(20, 77) + std::string(12, '\xFF');
  TDCP_gost g;
  g.Init(key.data(), 256, nullptr);
  EXPECT_EQ(Hex(IVOf(g)), Hex(RefEncryptBlock(key, std::string(8, '\xFF'))));
  EXPECT_EQ(ChainOf(g), IVOf(g));
}

TEST(Gost, CbcMatchesReference) {
  std::mt19937 gen(31);
  for (int i = 0; i < 40; ++i) {
    const std::string key = RandomBytes(32, gen());
    const std::string plain = RandomBytes(8 * (1 + gen() % 1100), gen());
    TDCP_gost g;
    g.Init(key.data(), 256, nullptr);
    const std::string iv = IVOf(g);

    std::string ref(plain.size(), '\0');
    CryptoPP::CBC_Mode<CryptoPP::GOST>::Encryption enc(Bytes(key), 32, Bytes(iv));
    enc.ProcessData(reinterpret_cast<CryptoPP::byte*>(ref.data()), Bytes(plain), plain.size());

    // In place, in two calls split at a block boundary: the chaining value carries over.
    std::string buf = plain;
    const auto first = static_cast<std::int32_t>(8 * (gen() % (plain.size() / 8 + 1)));
    g.EncryptCBC(buf.data(), buf.data(), first);
    g.EncryptCBC(buf.data() + first, buf.data() + first,
                 static_cast<std::int32_t>(plain.size()) - first);
    ASSERT_EQ(Hex(buf), Hex(ref));
    EXPECT_EQ(ChainOf(g), ref.substr(ref.size() - 8));

    g.ResetChain();
    std::string back(plain.size(), '\0');
    g.DecryptCBC(buf.data(), back.data(), static_cast<std::int32_t>(buf.size()));
    ASSERT_EQ(back, plain);
    g.ResetChain();
    g.DecryptCBC(buf.data(), buf.data(), static_cast<std::int32_t>(buf.size()));
    ASSERT_EQ(buf, plain);
  }
}

TEST(Gost, EightByteCbcIsOneBlock) {
  const std::string key = RandomBytes(32, 5);
  const std::string check = RandomBytes(8, 6);
  TDCP_gost g;
  g.Init(key.data(), 256, nullptr);
  std::string x(8, '\0');
  for (int j = 0; j < 8; ++j) x[j] = static_cast<char>(check[j] ^ IVOf(g)[j]);
  std::string out = check;
  g.EncryptCBC(out.data(), out.data(), 8);
  EXPECT_EQ(Hex(out), Hex(RefEncryptBlock(key, x)));
  EXPECT_EQ(ChainOf(g), out);
}

TEST(Gost, CbcTailIsKeystreamFromChainValue) {
  const std::string key = RandomBytes(32, 9);
  for (int size : {1, 7, 13, 21, 8 * 5 + 3}) {
    const std::string plain = RandomBytes(static_cast<std::size_t>(size), size);
    TDCP_gost g;
    g.Init(key.data(), 256, nullptr);
    const std::size_t whole = plain.size() / 8 * 8;

    std::string expect;
    std::string chain = IVOf(g);
    for (std::size_t pos = 0; pos < whole; pos += 8) {
      std::string x(8, '\0');
      for (int j = 0; j < 8; ++j) x[j] = static_cast<char>(plain[pos + j] ^ chain[j]);
      chain = RefEncryptBlock(key, x);
      expect += chain;
    }
    const std::string k = RefEncryptBlock(key, chain);
    for (std::size_t j = whole; j < plain.size(); ++j)
      expect.push_back(static_cast<char>(plain[j] ^ k[j - whole]));

    std::string buf = plain;
    g.EncryptCBC(buf.data(), buf.data(), size);
    EXPECT_EQ(Hex(buf), Hex(expect)) << "size " << size;
    EXPECT_EQ(Hex(ChainOf(g)), Hex(chain)) << "the tail does not advance the chain";

    g.ResetChain();
    g.DecryptCBC(buf.data(), buf.data(), size);
    EXPECT_EQ(buf, plain) << "size " << size;
    EXPECT_EQ(Hex(ChainOf(g)), Hex(chain));
  }
}

TEST(Gost, ShortKeyIsZeroPadded) {
  const std::string key = RandomBytes(32, 12);
  for (int bytes : {1, 16, 20, 31}) {
    std::string padded = key.substr(0, static_cast<std::size_t>(bytes));
    padded.resize(32, '\0');
    TDCP_gost shortKey, fullKey;
    shortKey.Init(key.data(), bytes * 8, nullptr);
    fullKey.Init(padded.data(), 256, nullptr);
    EXPECT_EQ(IVOf(shortKey), IVOf(fullKey));
    const std::string block = RandomBytes(8, static_cast<std::uint32_t>(bytes));
    EXPECT_EQ(Encrypt(shortKey, block), RefEncryptBlock(padded, block)) << bytes << " bytes";
  }
}

TEST(Gost, ExplicitIVAndCfb8) {
  const std::string key = RandomBytes(32, 40);
  const std::string iv = RandomBytes(8, 41);
  TDCP_gost g;
  g.Init(key.data(), 256, iv.data());
  EXPECT_EQ(IVOf(g), iv);

  const std::string plain = RandomBytes(37, 42);
  std::string buf = plain;
  g.EncryptCFB8(buf.data(), buf.data(), static_cast<std::int32_t>(buf.size()));
  std::string reg = iv;
  for (std::size_t i = 0; i < plain.size(); ++i) {
    const char c = static_cast<char>(plain[i] ^ RefEncryptBlock(key, reg)[0]);
    ASSERT_EQ(buf[i], c) << "byte " << i;
    reg = reg.substr(1) + c;
  }
  g.ResetChain();
  g.DecryptCFB8(buf.data(), buf.data(), static_cast<std::int32_t>(buf.size()));
  EXPECT_EQ(buf, plain);
}

TEST(Gost, ErrorsAndErasure) {
  TDCP_gost g;
  std::string block(8, 'x');
  ExpectError([&] { g.EncryptBlock(block.data(), block.data()); }, "Gost: Not initialized");

  const std::string key = RandomBytes(33, 1);
  for (int bits : {264, 0, 7, -8, 12}) {
    ExpectError([&] { g.Init(key.data(), bits, nullptr); },
                ("Gost: Invalid key size - " + std::to_string(bits)).c_str());
    EXPECT_FALSE(g.Initialized());
  }

  g.Init(key.data(), 256, nullptr);
  ASSERT_TRUE(g.Initialized());
  g.EraseKey();
  EXPECT_FALSE(g.Initialized());
  EXPECT_EQ(Hex(IVOf(g)), "ffffffffffffffff");
  EXPECT_EQ(Hex(ChainOf(g)), "ffffffffffffffff");
  ExpectError([&] { g.EncryptBlock(block.data(), block.data()); }, "Gost: Not initialized");
  ExpectError([&] { g.DecryptBlock(block.data(), block.data()); }, "Gost: Not initialized");
  ExpectError([&] { g.EncryptCBC(block.data(), block.data(), 8); }, "Gost: Not initialized");
  ExpectError([&] { g.DecryptCBC(block.data(), block.data(), 8); }, "Gost: Not initialized");
  EXPECT_EQ(block, std::string(8, 'x'));
}

} // namespace
} // namespace qk::crypto
