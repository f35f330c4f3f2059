// The per-file operations of a run: encrypt one file into a container, decrypt one container,
// wipe one file. Each reports a typed result (engine/Result.h); progress and pending window events
// go through the host.
#pragma once

#include "crypto/Gost.h"
#include "crypto/Rijndael.h"
#include "crypto/Twofish.h"
#include "engine/Host.h"
#include "engine/OutputNames.h"
#include "engine/Random.h"
#include "engine/ReadBackDigest.h"
#include "engine/Result.h"
#include "engine/RunState.h"
#include "engine/TamperCode.h"
#include "engine/TextCrypt.h"
#include "engine/Wipe.h"
#include "platform/Durable.h"
#include "platform/File.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace qk::engine {

class FileEngine {
public:
  FileEngine(EngineHost& host, RunState& state, const EngineSettings& settings, Random& random);
  ~FileEngine();
  FileEngine(const FileEngine&) = delete;
  FileEngine& operator=(const FileEngine&) = delete;

  using PlainDigest = std::array<std::uint8_t, 20>;

  // Encrypts source into a container at output (made unique with "_RENAMED"). Texts in UTF-8.
  // The container takes mode's permission bits, or without it the source's.
  FileResult EncryptFile(const std::string& source, const std::string& output,
                         const platform::SecretText& password, const std::string& hint,
                         std::int32_t algorithm, bool addTamperCode,
                         std::optional<std::uint32_t> mode = std::nullopt);
  // Decrypts a container beside itself under its stored name (or to OutputNameOverride).
  FileResult DecryptFile(const std::string& container, const platform::SecretText& password);
  // Proofs before a source is wiped. They read the new file back from the disk (cached pages
  // dropped first): the container of the last encryption must decrypt to exactly the bytes read
  // from its source, and the output of the last decryption must hold exactly the bytes
  // decrypted.
  // With expected, the digest of the plaintext to prove instead of the last operation's
  // (LastPlainDigest). With readBackBegun, the file's pages were dropped and its reading from the
  // disk begun already (File::DropCache with readAgain): the proof reads what that brings.
  bool VerifyEncryption(const std::string& container, const platform::SecretText& password,
                        const PlainDigest* expected = nullptr, bool readBackBegun = false);
  bool VerifyDecryption(const std::string& output, const PlainDigest* expected = nullptr,
                        bool readBackBegun = false);
  const PlainDigest& LastPlainDigest() const { return lastPlainDigest_; }

  // Checks a container as its decryption would, and writes nothing anywhere (no output, no
  // temporary file, not even a nameless one): marker and generation, the header's lengths and
  // its stored name, the password, the tamper code where there is one, and that the data holds
  // the stored size. The decryption policy for containers without a code (SKIPNONHMAC) does not
  // apply: such a container is reported as what it is. Outcome::Verified: sound, the tamper code
  // proved; Outcome::VerifiedNoTamperCode: sound as far as password and structure go, there is no
  // code to prove the data; otherwise the outcome its decryption would have had. The run state is
  // left as it was.
  FileResult VerifyContainer(const std::string& container, const platform::SecretText& password);

  // The wipe (engine/Wipe.h) with this engine's host, settings, generator and skip flag; with
  // expected, only while the file is still the one it stamps.
  void WipeFile(const std::string& path, const platform::FileStamp* expected = nullptr);
  // Its first part (engine/Wipe.h): the file overwritten and returned held, its overwrite not
  // yet flushed.
  platform::File OverwriteFile(const std::string& path, const platform::FileStamp* expected);
  // The source of the last successful encryption or decryption as it was opened: what a wipe of
  // it checks it against.
  const platform::FileStamp& LastSourceStamp() const { return lastSource_; }

  // With hold set, an output is not named by the operation: it is left nameless for the caller
  // (TakeHeld), who makes it durable together with others, names it and flushes its folder. The
  // result's output is the name it is to get, which a name taken meanwhile may still change.
  // Without it, each output is made durable on its own before its operation returns.
  void HoldOutputs(bool hold);
  // While outputs are held: how many outputs are still to come in the folder of the operation
  // about to run, after its own. That many files are made ahead for them (platform::HiddenAhead).
  void ExpectOutputs(std::size_t more) { expected_ = more; }
  // The output the last operation left nameless, when it did.
  struct Held {
    platform::HeldOutput output;
    // After a decryption: set when the name it gets stands for its container's own, so that it
    // takes the container's name once the container is gone.
    std::shared_ptr<bool> renameAfter;
  };
  std::optional<Held> TakeHeld() { return std::exchange(held_, std::nullopt); }
  // Overwrites what was written to a nameless output that goes (a decryption's plaintext).
  void DropNameless(platform::File& file);

  // Whether the file is a container, by its marker (of any generation); none when it cannot be
  // read (its operation then meets the same failure and says why).
  std::optional<bool> IsContainer(const std::string& path);
  // Work an earlier run did: the output there already, the digest of the plaintext it holds, and
  // the source as it was read now (what a wipe of it checks it against).
  struct DoneBefore {
    std::string output;
    PlainDigest digest{};
    platform::FileStamp stamp;
  };
  // When the container at output decrypts under password to exactly the bytes of source.
  std::optional<DoneBefore> EncryptedBefore(const std::string& source, const std::string& output,
                                            const platform::SecretText& password);
  // When the file a decryption of container would write under its stored name, beside it, holds
  // exactly its plaintext. notContainer: the file was read, and is no container.
  std::optional<DoneBefore> DecryptedBefore(const std::string& container,
                                            const platform::SecretText& password,
                                            bool& notContainer);

  // The stored hint of a container, for the list in decrypt mode.
  StoredHint ReadStoredHint(const std::string& path);

  TextCrypt& Text() { return text_; }
  RunState& State() { return state_; }
  const EngineSettings& Settings() const { return settings_; }

private:
  // What a pass over a container is for: the decryption itself, the proof of a new container
  // before its source is wiped (the plaintext's digest into proved), or a verification.
  enum class Pass { Write, Prove, Verify };
  FileResult Decrypt(const std::string& container, const platform::SecretText& password, Pass pass,
                     PlainDigest* proved, bool readBackBegun = false);
  // The digest of the rest of file, as the proofs take it.
  PlainDigest DigestOf(platform::File& file);
  // Ends the operation under way at this block when the run is to stop (RunStopped).
  void StopPoint() const;
  // The steps of a decryption: open and check (a refusal, or nothing when the data may be read),
  // then the data.
  struct Unsealing;
  std::optional<FileResult> OpenContainer(Unsealing& u, std::string_view passwordBytes);
  void UnsealData(Unsealing& u);
  // The stream of an encryption: the source's bytes enciphered into dst from dataAt on, into the
  // tamper code when there is one; the plaintext's digest kept for the proof.
  void SealData(platform::File& src, platform::File& dst, crypto::TDCP_blockcipher& cipher,
                std::int64_t dataAt, std::int64_t size, TamperHasher* tamper);
  // The last step of both: the output named out, durably (platform/Durable.h); on a name taken
  // meanwhile (a new name only), out := another() and again. Raises
  // IoError. While outputs are held (HoldOutputs) it is left nameless in held_.
  void PublishOutput(platform::File& dst, std::string& out, platform::Naming naming,
                     std::function<std::string()> another,
                     std::shared_ptr<bool> renameAfter = nullptr);
  // The data cipher of the algorithm; with lane set, the second one, with which the hashing
  // thread deciphers part of a piece while the calling thread deciphers the rest.
  crypto::TDCP_blockcipher& CipherFor(std::int32_t algorithm, bool lane = false);
  // A nameless output in the folder of out (platform::File::CreateHidden).
  platform::File NewOutput(const std::string& out);
  void PumpMaybe();

  EngineHost& host_;
  RunState& state_;
  const EngineSettings& settings_;
  Random& random_;
  crypto::TDCP_twofish DCP_twofish;
  crypto::TDCP_rijndael DCP_rijndael;
  crypto::TDCP_gost DCP_gost;
  crypto::TDCP_twofish laneTwofish_;
  crypto::TDCP_rijndael laneRijndael_;
  crypto::TDCP_gost laneGost_;
  TextCrypt text_;
  // Key of the digests behind the proofs (ReadBackDigest), fresh for each engine.
  ReadBackDigest::Key proofKey_ = ReadBackDigest::FreshKey();
  PlainDigest lastPlainDigest_{};
  platform::FileStamp lastSource_;
  bool hold_ = false;
  std::optional<Held> held_;
  std::unique_ptr<platform::HiddenAhead> ahead_;
  std::size_t expected_ = 0;
};

} // namespace qk::engine
