// The block and buffer operations of every cipher run without touching the heap. The global
// allocation functions of this test program are replaced by counting ones.
#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/Twofish.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

namespace {

std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};

void* CountedAlloc(std::size_t n) {
  if (gCounting.load(std::memory_order_relaxed)) gAllocations.fetch_add(1);
  return std::malloc(n ? n : 1);
}

// Out of line, so that the compiler does not pair a new expression with free().
[[gnu::noinline]] void Release(void* p) noexcept {
  std::free(p);
}

} // namespace

void* operator new(std::size_t n) {
  if (void* p = CountedAlloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = CountedAlloc(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return CountedAlloc(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return CountedAlloc(n);
}
void operator delete(void* p) noexcept {
  Release(p);
}
void operator delete[](void* p) noexcept {
  Release(p);
}
void operator delete(void* p, std::size_t) noexcept {
  Release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
  Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
  Release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  Release(p);
}

namespace qk::crypto {
namespace {

template <class Cipher> class NoAllocation : public ::testing::Test {};

using Ciphers = ::testing::Types<TDCP_twofish, TDCP_rijndael, TDCP_gost>;
TYPED_TEST_SUITE(NoAllocation, Ciphers);

TYPED_TEST(NoAllocation, ModesAndBlocks) {
  TypeParam c;
  const std::string key(32, '\x42');
  c.Init(key.data(), 256, nullptr);
  char buf[8192 + 8] = {};
  const auto size = static_cast<std::int32_t>(sizeof buf); // whole blocks plus a tail

  // The counter proves itself first.
  gAllocations = 0;
  gCounting = true;
  int* volatile probe = new int(1);
  delete probe;
  gCounting = false;
  ASSERT_EQ(gAllocations.load(), 1);

  gAllocations = 0;
  gCounting = true;
  c.EncryptCBC(buf, buf, size);
  c.ResetChain();
  c.DecryptCBC(buf, buf, size);
  c.ResetChain();
  c.EncryptCFB8(buf, buf, 1000);
  c.ResetChain();
  c.DecryptCFB8(buf, buf, 1000);
  c.EncryptBlock(buf, buf);
  c.DecryptBlock(buf, buf);
  gCounting = false;
  EXPECT_EQ(gAllocations.load(), 0);
  for (char b : buf) ASSERT_EQ(b, 0);
}

} // namespace
} // namespace qk::crypto
