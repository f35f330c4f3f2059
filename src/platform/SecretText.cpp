#include "platform/SecretText.h"

#include "platform/Hardening.h"

#include <cstring>
#include <new>
#include <utility>

namespace qk::platform {

SecretText SecretText::Taking(std::string& text) {
  SecretText secret(text);
  SecureClear(text);
  return secret;
}

SecretText::SecretText(SecretText&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      capacity_(std::exchange(other.capacity_, 0)) {}

SecretText& SecretText::operator=(SecretText&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void SecretText::Release() {
  if (data_ == nullptr) return;
  SecureZero(data_, capacity_);
  UnlockMemory(data_, capacity_);
  ::operator delete(data_);
  data_ = nullptr;
  size_ = 0;
  capacity_ = 0;
}

void SecretText::Reserve(std::size_t n) {
  if (n <= capacity_) return;
  std::size_t capacity = capacity_ < 64 ? 64 : capacity_;
  while (capacity < n) capacity *= 2;
  char* block = static_cast<char*>(::operator new(capacity));
  LockMemory(block, capacity);
  if (size_ != 0) std::memcpy(block, data_, size_);
  const std::size_t size = size_;
  Release();
  data_ = block;
  size_ = size;
  capacity_ = capacity;
}

void SecretText::Assign(std::string_view text) {
  SecureZero(data_, size_);
  size_ = 0;
  Append(text);
}

void SecretText::Append(char c) {
  Reserve(size_ + 1);
  data_[size_++] = c;
}

void SecretText::Append(std::string_view text) {
  if (text.empty()) return;
  Reserve(size_ + text.size());
  std::memcpy(data_ + size_, text.data(), text.size());
  size_ += text.size();
}

void SecretText::PopBack() {
  if (size_ == 0) return;
  data_[--size_] = 0;
}

void SecretText::Clear() {
  SecureZero(data_, size_);
  size_ = 0;
}

} // namespace qk::platform
