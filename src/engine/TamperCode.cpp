#include "engine/TamperCode.h"

#include "crypto/CryptoBase.h"
#include "engine/Container.h"
#include "engine/HashWorker.h"
#include "platform/File.h"
#include "platform/FileSystem.h"

#include <cmath>
#include <vector>

namespace qk::engine {

std::string ProgressText(std::string_view word, std::int64_t done, std::int64_t total) {
  // Rounded to the nearest integer, halves to even (the default rounding mode).
  const double percent =
      std::nearbyint(static_cast<double>(done) / static_cast<double>(total) * 100.0);
  std::string text(word);
  text += std::to_string(done);
  text += '/';
  text += std::to_string(total);
  text += "バイト　";
  text += std::to_string(static_cast<long long>(percent));
  text += '%';
  return text;
}

bool ShouldPump(Random& random, std::int32_t processMsgInterval) {
  return processMsgInterval <= 1 || random.Below(processMsgInterval) == 0;
}

void MakeInnerPad(std::string_view passwordBytes, std::uint8_t (&pad)[64]) {
  FileKey key = MakeFileKey(passwordBytes);
  for (std::size_t i = 0; i < 64; ++i) pad[i] = (i < key.size() ? key[i] : 0) ^ 0x36;
  crypto::SecureZero(key.data(), key.size());
}

TamperCode OuterTamperCode(const TamperCode& inner) {
  std::uint8_t outer[64];
  for (std::size_t i = 0; i < 32; ++i) {
    outer[i] = inner[i] ^ 0x5C;
    outer[32 + i] = inner[i];
  }
  TamperCode code;
  code.fill(0xFF);
  crypto::TDCP_sha1 sha;
  sha.Init();
  sha.Update(outer, sizeof outer);
  sha.Final(code.data());
  crypto::SecureZero(outer, sizeof outer);
  return code;
}

TamperHasher::TamperHasher(std::string_view passwordBytes) {
  std::uint8_t pad[64];
  MakeInnerPad(passwordBytes, pad);
  inner_.Init();
  inner_.Update(pad, sizeof pad);
  crypto::SecureZero(pad, sizeof pad);
}

TamperHasher::~TamperHasher() {
  if (inner_.Initialized()) inner_.EraseState();
}

TamperCode TamperHasher::Finish() {
  TamperCode inner;
  inner.fill(0xFF);
  inner_.Final(inner.data());
  const TamperCode code = OuterTamperCode(inner);
  crypto::SecureZero(inner.data(), inner.size());
  return code;
}

std::optional<TamperCode> TamperCoder::ComputeTamperCode(std::string_view passwordBytes,
                                                         const std::string& path,
                                                         std::int64_t offset,
                                                         const Beside& beside) {
  std::uint8_t pad[64];
  MakeInnerPad(passwordBytes, pad);
  std::optional<TamperCode> inner;
  try {
    inner = HashFileFrom(pad, path, offset, beside);
  } catch (...) {
    crypto::SecureZero(pad, sizeof pad);
    throw;
  }
  crypto::SecureZero(pad, sizeof pad);
  if (!inner) return std::nullopt;
  const TamperCode code = OuterTamperCode(*inner);
  crypto::SecureZero(inner->data(), inner->size());
  return code;
}

std::optional<TamperCode> TamperCoder::HashFileFrom(const std::uint8_t (&pad)[64],
                                                    const std::string& path, std::int64_t offset,
                                                    const Beside& beside) {
  platform::File file;
  try {
    file = platform::File::OpenShared(path);
  } catch (const platform::IoError&) {
    host_.Inform("Unable to open file");
    return std::nullopt;
  }
  file.Seek(offset);
  const std::int64_t total = platform::GetFileSize64(path);
  std::int64_t done = 0;
  DCP_sha11.Init();
  DCP_sha11.Update(pad, sizeof pad);
  HashRestOfFile(file, DCP_sha11, [&](std::size_t n, std::size_t request) {
    if (beside) beside(done + static_cast<std::int64_t>(n));
    ForEachChunk(n, request, [&](std::size_t chunk) {
      done += static_cast<std::int64_t>(chunk);
      if (total != 0) host_.ShowProgress(ProgressText("改ざん検知データ計算中：", done, total));
      if (ShouldPump(random_, settings_.ProcessMsgInterval)) host_.ProcessMessages();
      return true;
    });
  });
  TamperCode inner;
  inner.fill(0xFF);
  DCP_sha11.Final(inner.data());
  file.Close();
  return inner;
}

bool SameTamperCode(const TamperCode& a, const TamperCode& b) {
  std::uint8_t diff = 0;
  for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
  return diff == 0;
}

} // namespace qk::engine
