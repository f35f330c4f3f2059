// The per-file operations of a run: encrypt one file into a container, decrypt one container,
// wipe one file. Each reports a short result text; progress and pending window events go
// through the host.
#pragma once

#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/Twofish.h"
#include "engine/Host.h"
#include "engine/OutputNames.h"
#include "engine/ProofDigest.h"
#include "engine/Random.h"
#include "engine/RunState.h"
#include "engine/TamperCode.h"
#include "engine/TextCrypt.h"
#include "engine/Wipe.h"

#include <array>
#include <cstdint>
#include <string>

namespace qk::engine {

// Result texts.
inline constexpr const char* kEncryptOk = "暗号化成功：";
inline constexpr const char* kEncryptFailed = "＊暗号化失敗＊：";
inline constexpr const char* kDecryptOkPrefix = "復号成功";
inline constexpr const char* kNoTamperInfo = "改ざん検知情報無し";
inline constexpr const char* kTamperOk = "改ざん検知照合OK";
inline constexpr const char* kOldFormat = "＊古い形式です。Ver2.1で復号して下さい：";
inline constexpr const char* kInvalidFormat = "＊不正なファイル形式です：";
inline constexpr const char* kSkipNonTamper = "＊改ざん検知情報がないため処理できません。処理したい"
                                              "場合はオプション画面で「改ざん検知情報が無い"
                                              "ファイルは復号しない」をオフにして下さい。：";
inline constexpr const char* kWrongPassword = "＊パスワードが違います：";
inline constexpr const char* kTamperMismatch = "＊復号できません。データが破損または変更されている"
                                               "か、パスワードが違います。（HMAC値不一致）：";
inline constexpr const char* kInvalidFile = "＊ファイルが不正です：";
inline constexpr const char* kDecryptFailed = "＊復号不可：";

// True for the result of a successful decryption.
bool IsDecryptSuccess(const std::string& result);

class FileEngine {
public:
  FileEngine(EngineHost& host, RunState& state, const EngineSettings& settings, Random& random);
  ~FileEngine();
  FileEngine(const FileEngine&) = delete;
  FileEngine& operator=(const FileEngine&) = delete;

  // Encrypts source into a container at output (made unique with "_RENAMED"). Texts in UTF-8.
  std::string EncryptFile(const std::string& source, const std::string& output,
                          const std::string& password, const std::string& hint,
                          std::int32_t algorithm, bool addTamperCode);
  // Decrypts a container beside itself under its stored name (or to OutputNameOverride).
  std::string DecryptFile(const std::string& container, const std::string& password);
  // Proofs before a source is wiped. They read the new file back from the disk (cached pages
  // dropped first): the container of the last encryption must decrypt to exactly the bytes read
  // from its source, and the output of the last decryption must hold exactly the bytes
  // decrypted.
  bool VerifyEncryption(const std::string& container, const std::string& password);
  bool VerifyDecryption(const std::string& output);

  // The wipe (engine/Wipe.h) with this engine's host, settings, generator and skip flag.
  void WipeFile(const std::string& path);

  // The stored hint of a container, for the list in decrypt mode.
  std::string ReadStoredHint(const std::string& path);

  TextCrypt& Text() { return text_; }
  RunState& State() { return state_; }
  const EngineSettings& Settings() const { return settings_; }

private:
  using PlainDigest = std::array<std::uint8_t, 20>;
  // Decrypts a container to its output, or with verify set only into a digest of its plaintext.
  std::string Decrypt(const std::string& container, const std::string& password,
                      PlainDigest* verify);
  crypto::TDCP_blockcipher& CipherFor(std::int32_t algorithm);
  void PumpMaybe();

  EngineHost& host_;
  RunState& state_;
  const EngineSettings& settings_;
  Random& random_;
  crypto::TDCP_twofish DCP_twofish;
  crypto::TDCP_rijndael DCP_rijndael;
  crypto::TDCP_gost DCP_gost;
  TextCrypt text_;
  TamperCoder tamper_;
  // Key of the digests behind the proofs (ProofDigest), fresh for each engine.
  ProofDigest::Key proofKey_ = ProofDigest::FreshKey();
  PlainDigest lastPlainDigest_{};
};

} // namespace qk::engine
