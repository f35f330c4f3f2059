#include "engine/Container.h"

#include "crypto/CryptoBase.h"
#include "crypto/SHA1.h"
#include "platform/CodePage.h"
#include "platform/File.h"

#include <cstring>
#include <stdexcept>

namespace qk::engine {

Generation RecogniseGeneration(const std::uint8_t (&marker)[MarkerLength]) {
  std::size_t n = 0;
  while (n < MarkerLength && marker[n] != 0) ++n;
  const std::string_view text(reinterpret_cast<const char*>(marker), n);
  const auto contains = [&](std::string_view m) { return text.find(m) != std::string_view::npos; };
  if (contains(MarkerUnversioned) || contains(MarkerV2)) return Generation::Old;
  if (contains(MarkerV5)) return Generation::V5;
  if (contains(MarkerV4)) return Generation::V4;
  if (contains(MarkerV3)) return Generation::V3;
  return Generation::Unknown;
}

FileKey MakeFileKey(std::string_view passwordBytes) {
  FileKey key;
  key.fill(0xFF);
  crypto::TDCP_sha1 sha;
  sha.Init();
  sha.UpdateText(passwordBytes);
  sha.Final(key.data());
  return key;
}

std::array<std::uint8_t, 8> MakePasswordCheck(crypto::TDCP_blockcipher& cipher, TextCrypt& text,
                                              std::string_view passwordBytes) {
  const std::string value = text.MakeVerificationHash(passwordBytes);
  std::array<std::uint8_t, 8> check{};
  std::memcpy(check.data(), value.data(), check.size());
  cipher.EncryptCBC(check.data(), check.data(), static_cast<std::int32_t>(check.size()));
  cipher.ResetChain();
  return check;
}

void PutInt32(std::uint8_t* p, std::int32_t v) {
  const auto u = static_cast<std::uint32_t>(v);
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

void PutInt64(std::uint8_t* p, std::int64_t v) {
  const auto u = static_cast<std::uint64_t>(v);
  for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int32_t GetInt32(const std::uint8_t* p) {
  std::uint32_t u = 0;
  for (int i = 3; i >= 0; --i) u = (u << 8) | p[i];
  return static_cast<std::int32_t>(u);
}

std::int64_t GetInt64(const std::uint8_t* p) {
  std::uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | p[i];
  return static_cast<std::int64_t>(u);
}

namespace {

// Takes fields from the front of the bytes; false once they run out.
class FieldReader {
public:
  explicit FieldReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
  // The byte count that the field that did not fit needed the bytes to reach.
  std::size_t Needed() const { return needed_; }
  bool Take(void* out, std::size_t n) {
    if (bytes_.size() - at_ < n) {
      needed_ = at_ + n;
      return false;
    }
    std::memcpy(out, bytes_.data() + at_, n);
    at_ += n;
    return true;
  }
  bool Int32(std::int32_t& value) {
    std::uint8_t b[4];
    if (!Take(b, sizeof b)) return false;
    value = GetInt32(b);
    return true;
  }
  bool Int64(std::int64_t& value) {
    std::uint8_t b[8];
    if (!Take(b, sizeof b)) return false;
    value = GetInt64(b);
    return true;
  }
  bool Text(std::string& text, std::int32_t length) {
    const auto n = static_cast<std::size_t>(length);
    if (bytes_.size() - at_ < n) {
      needed_ = at_ + n;
      return false;
    }
    text.assign(reinterpret_cast<const char*>(bytes_.data() + at_), n);
    at_ += n;
    return true;
  }

private:
  std::span<const std::uint8_t> bytes_;
  std::size_t at_ = 0;
  std::size_t needed_ = 0;
};

void Append(std::vector<std::uint8_t>& out, const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), p, p + n);
}

void AppendInt32(std::vector<std::uint8_t>& out, std::int32_t value) {
  std::uint8_t b[4];
  PutInt32(b, value);
  Append(out, b, sizeof b);
}

} // namespace

std::size_t ContainerHeader::Size() const {
  std::size_t n = MarkerLength;
  if (generation == Generation::V5) n += 1 + (tamperFlag != 0 ? TamperCodeLength : 0);
  n += 4 + passwordCheck.size() + 4 + hintText.size() + 4 + nameText.size() + 4;
  if (HasSourceSize()) n += 8;
  return n;
}

namespace {

HeaderRead ReadFields(std::span<const std::uint8_t> bytes, FieldReader& in) {
  HeaderRead read;
  ContainerHeader& h = read.header;
  std::uint8_t marker[MarkerLength];
  if (!in.Take(marker, sizeof marker)) {
    read.status = HeaderStatus::CutInFixedPart;
    // Fewer than 20 bytes may still hold the unversioned marker.
    std::memset(marker, 0, sizeof marker);
    if (!bytes.empty()) std::memcpy(marker, bytes.data(), bytes.size());
    if (RecogniseGeneration(marker) == Generation::Old) read.status = HeaderStatus::OldFormat;
    return read;
  }
  h.generation = RecogniseGeneration(marker);
  if (h.generation == Generation::Old) {
    read.status = HeaderStatus::OldFormat;
    return read;
  }
  if (h.generation == Generation::Unknown) {
    read.status = HeaderStatus::UnknownFormat;
    return read;
  }
  read.status = HeaderStatus::CutInFixedPart;
  if (h.generation == Generation::V5) {
    if (!in.Take(&h.tamperFlag, 1)) return read;
    if (h.tamperFlag != 0 && !in.Take(h.tamperCode.data(), h.tamperCode.size())) return read;
  }
  if (!in.Int32(h.algorithm) || !in.Take(h.passwordCheck.data(), h.passwordCheck.size()))
    return read;

  read.status = HeaderStatus::CutInTexts;
  std::int32_t length = 0;
  if (!in.Int32(length)) return read;
  if (!ValidHeaderTextLength(length)) {
    read.status = HeaderStatus::HintLengthOutOfRange;
    return read;
  }
  if (!in.Text(h.hintText, length)) return read;
  read.hintRead = true;
  if (!in.Int32(length)) return read;
  if (!ValidHeaderTextLength(length)) {
    read.status = HeaderStatus::NameLengthOutOfRange;
    return read;
  }
  if (!in.Text(h.nameText, length) || !in.Int32(h.fileDate)) return read;
  if (h.HasSourceSize()) {
    if (!in.Int64(h.sourceSize)) return read;
    if (h.sourceSize < 0) {
      read.status = HeaderStatus::NegativeSourceSize;
      return read;
    }
  }
  read.status = HeaderStatus::Ok;
  return read;
}

} // namespace

HeaderRead ReadHeader(std::span<const std::uint8_t> bytes) {
  FieldReader in(bytes);
  HeaderRead read = ReadFields(bytes, in);
  if (read.status == HeaderStatus::CutInFixedPart || read.status == HeaderStatus::CutInTexts)
    read.needed = in.Needed();
  return read;
}

std::vector<std::uint8_t> WriteHeader(const ContainerHeader& header) {
  if (header.hintText.size() > std::size_t{MaxHeaderTextLength} ||
      header.nameText.size() > std::size_t{MaxHeaderTextLength}) {
    throw std::length_error("header text longer than a reader accepts");
  }
  std::vector<std::uint8_t> out;
  out.reserve(header.Size());
  Append(out, MarkerV5.data(), MarkerV5.size());
  const std::uint8_t flag = header.tamperFlag != 0 ? 1 : 0;
  Append(out, &flag, 1);
  if (flag) Append(out, header.tamperCode.data(), header.tamperCode.size());
  AppendInt32(out, header.algorithm);
  Append(out, header.passwordCheck.data(), header.passwordCheck.size());
  for (const std::string* text : {&header.hintText, &header.nameText}) {
    AppendInt32(out, static_cast<std::int32_t>(text->size()));
    Append(out, text->data(), text->size());
  }
  AppendInt32(out, header.fileDate);
  std::uint8_t size[8];
  PutInt64(size, header.sourceSize);
  Append(out, size, sizeof size);
  return out;
}

bool DataHoldsSourceSize(std::int64_t sourceSize, std::int64_t dataLength) {
  if (sourceSize < 0 || dataLength < 0 || sourceSize > dataLength) return false;
  // sourceSize <= dataLength, so the room left over is exact; the padding needs at most 15.
  const std::int64_t padding = (16 - sourceSize % 16) % 16;
  return dataLength - sourceSize >= padding;
}

StoredHint ReadStoredHint(const std::string& path, TextCrypt& text) {
  StoredHint result;
  try {
    platform::File file = platform::File::OpenShared(path);
    std::vector<std::uint8_t> bytes(MaxHeaderSize);
    bytes.resize(file.Read(bytes.data(), bytes.size()));
    file.Close();
    const HeaderRead read = ReadHeader(bytes);
    if (read.status == HeaderStatus::HintLengthOutOfRange) {
      result.hint.emplace();
    } else if (read.hintRead) {
      result.hint = platform::FromStoredText(text.DecryptHeaderText(read.header.hintText));
    }
  } catch (const platform::IoError& e) {
    result.error = e.errorCode();
  } catch (const std::exception&) {
  }
  return result;
}

} // namespace qk::engine
