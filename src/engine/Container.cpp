#include "engine/Container.h"

#include "crypto/CryptoBase.h"
#include "crypto/SHA1.h"
#include "platform/CodePage.h"
#include "platform/File.h"

#include <cstring>

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

StoredHint ReadStoredHint(const std::string& path, TextCrypt& text) {
  StoredHint result;
  try {
    platform::File file = platform::File::OpenShared(path);
    std::uint8_t marker[MarkerLength];
    file.ReadExact(marker, sizeof marker);
    if (RecogniseGeneration(marker) == Generation::V5) {
      std::uint8_t flag = 0;
      file.ReadExact(&flag, 1);
      if (flag != 0) {
        std::uint8_t code[TamperCodeLength];
        file.ReadExact(code, sizeof code);
      }
    }
    std::uint8_t skipped[12];
    file.ReadExact(skipped, sizeof skipped);
    std::uint8_t lengthBytes[4];
    file.ReadExact(lengthBytes, sizeof lengthBytes);
    const std::int32_t length = GetInt32(lengthBytes);
    if (!ValidHeaderTextLength(length)) {
      result.hint.emplace();
      return result;
    }
    std::string stored(static_cast<std::size_t>(length), '\0');
    file.ReadExact(stored.data(), stored.size());
    file.Close();
    result.hint = platform::FromStoredText(text.DecryptHeaderText(stored));
  } catch (const platform::IoError& e) {
    result.error = e.errorCode();
  } catch (const std::exception&) {
  }
  return result;
}

} // namespace qk::engine
