// SecretText holds a password (or any secret text) from where it is typed or read to where the
// key is made. Its bytes live in one heap block of their own, locked out of swap where the limit
// allows, and are cleared with a store the compiler cannot drop whenever the text is released,
// replaced or moves to a larger block. Every copy is such a block too.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace qk::platform {

class SecretText {
public:
  SecretText() = default;
  explicit SecretText(std::string_view text) { Assign(text); }
  // From a literal or a string the caller holds (and clears); the bytes are copied.
  SecretText(const char* text) : SecretText(std::string_view(text)) {}
  SecretText(const std::string& text) : SecretText(std::string_view(text)) {}
  // Takes the text and clears the string's whole buffer.
  static SecretText Taking(std::string& text);
  ~SecretText() { Release(); }
  SecretText(SecretText&& other) noexcept;
  SecretText& operator=(SecretText&& other) noexcept;
  // A copy is a block of its own, cleared like the original (a run's state copied for a job).
  SecretText(const SecretText& other) : SecretText(other.View()) {}
  SecretText& operator=(const SecretText& other) {
    if (this != &other) Assign(other.View());
    return *this;
  }

  SecretText Copy() const { return SecretText(View()); }
  void Assign(std::string_view text);
  void Append(char c);
  void Append(std::string_view text);
  // Drops the last character byte (a trailing line break, say).
  void PopBack();
  void Clear();

  std::string_view View() const { return {data_ ? data_ : "", size_}; }
  const char* Data() const { return data_ ? data_ : ""; }
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }
  char Back() const { return data_[size_ - 1]; }

  friend bool operator==(const SecretText& a, const SecretText& b) { return a.View() == b.View(); }

private:
  // Makes room for at least n bytes, moving the text to a new block when it must.
  void Reserve(std::size_t n);
  void Release();

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

} // namespace qk::platform
