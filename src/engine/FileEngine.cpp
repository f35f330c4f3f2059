#include "engine/FileEngine.h"

#include "engine/Container.h"
#include "engine/HashWorker.h"
#include "engine/OutputNames.h"
#include "engine/Progress.h"
#include "engine/ProofDigest.h"
#include "engine/TamperCode.h"
#include "engine/Wipe.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hardening.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

namespace qk::engine {

namespace {

using platform::File;

// Clears a secret copy however the scope is left.
struct Scrub {
  std::string& text;
  ~Scrub() { crypto::SecureZero(text.data(), text.size()); }
};

// Erases a data cipher's key however the scope is left.
struct KeyGuard {
  crypto::TDCP_blockcipher* cipher = nullptr;
  ~KeyGuard() {
    if (cipher && cipher->Initialized()) cipher->EraseKey();
  }
};

// Deciphers the first own bytes of a whole piece of got bytes (a whole number of blocks) on the
// calling thread and returns the rest as the worker's share, for the second cipher lane, chained
// from the block before it (none when own is got). The first cipher is left chained for the next
// piece.
HashWorker::Decipher SharePiece(crypto::TDCP_blockcipher& cipher, crypto::TDCP_blockcipher* lane,
                                std::size_t own, const std::uint8_t* sealed, std::uint8_t* plain,
                                std::size_t got) {
  const auto blockBytes = static_cast<std::size_t>(cipher.BlockSize() / 8);
  HashWorker::Decipher share;
  if (own < got) {
    share = {lane, own, got - own, {}};
    std::memcpy(share.chain.data(), sealed + own - blockBytes, blockBytes);
  }
  cipher.DecryptCBC(sealed, plain, static_cast<std::int32_t>(own));
  cipher.SetChain(sealed + got - blockBytes);
  return share;
}

std::size_t Base64Length(std::size_t n) {
  return 4 * ((n + 2) / 3);
}

// A stored name is used as a file name in the container's folder only when it is one.
bool ValidStoredName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// n rounded up to whole blocks of 16; for counts of bytes in memory only.
std::size_t RoundUp16(std::size_t n) {
  return (n + 15) / 16 * 16;
}

// A source whose size changed while it was read.
class SourceChangedError : public std::runtime_error {
public:
  SourceChangedError() : std::runtime_error("the source changed while it was read") {}
};

// Overwrites the first length bytes of a file that will never get a name, so that what was
// written to it does not stay in the blocks it leaves behind. Best effort: it is going anyway.
void OverwriteUnnamed(File& file, std::int64_t length) {
  if (!file.IsOpen() || length <= 0) return;
  try {
    static const std::vector<std::uint8_t> pattern(DataPiece, 0x4E);
    file.Seek(0);
    for (std::int64_t left = length; left > 0;) {
      const auto n = static_cast<std::size_t>(
          std::min<std::int64_t>(left, static_cast<std::int64_t>(pattern.size())));
      file.WriteAll(pattern.data(), n);
      left -= static_cast<std::int64_t>(n);
    }
    file.Sync();
  } catch (const std::exception&) {
  }
}

// Reads a container's header from in, each byte once, leaving the file at the data.
std::vector<std::uint8_t> ReadHeaderBytes(File& in, HeaderRead& read) {
  std::vector<std::uint8_t> bytes;
  read = ReadHeader(bytes);
  while ((read.status == HeaderStatus::CutInFixedPart || read.status == HeaderStatus::CutInTexts) &&
         read.needed > bytes.size()) {
    const std::size_t have = bytes.size();
    const std::size_t want = read.needed - have;
    bytes.resize(read.needed);
    const std::size_t got = in.Read(bytes.data() + have, want);
    bytes.resize(have + got);
    read = ReadHeader(bytes);
    if (got < want) break;
  }
  return bytes;
}

// The system's error number behind a failure, 0 when it was no system call's.
int ErrorNumber(const std::exception& e) {
  const auto* io = dynamic_cast<const platform::IoError*>(&e);
  return io ? io->errorCode() : 0;
}

} // namespace

FileEngine::FileEngine(EngineHost& host, RunState& state, const EngineSettings& settings,
                       Random& random)
    : host_(host), state_(state), settings_(settings), random_(random) {
  // The ciphers' key schedules live in this object: kept out of swap where the limit allows.
  platform::LockMemory(this, sizeof *this);
}

FileEngine::~FileEngine() {
  platform::UnlockMemory(this, sizeof *this);
}

crypto::TDCP_blockcipher& FileEngine::CipherFor(std::int32_t algorithm, bool lane) {
  switch (algorithm) {
  case AlgoRijndael:
    return lane ? static_cast<crypto::TDCP_blockcipher&>(laneRijndael_) : DCP_rijndael;
  case AlgoGost:
    return lane ? static_cast<crypto::TDCP_blockcipher&>(laneGost_) : DCP_gost;
  default:
    return lane ? static_cast<crypto::TDCP_blockcipher&>(laneTwofish_) : DCP_twofish;
  }
}

void FileEngine::PumpMaybe() {
  if (ShouldPump(random_, settings_.ProcessMsgInterval)) host_.ProcessMessages();
}

StoredHint FileEngine::ReadStoredHint(const std::string& path) {
  return engine::ReadStoredHint(path, text_);
}

FileResult FileEngine::EncryptFile(const std::string& source, const std::string& output,
                                   const platform::SecretText& password, const std::string& hint,
                                   std::int32_t algorithm, bool addTamperCode) {
  const std::string out = MakeUniquePath(output);
  FileResult result{Outcome::EncryptFailed, source, {}, 0, SourceWipe::NotAsked};
  bool created = false;
  std::string passwordBytes = platform::ToSystemCodePage(password.View());
  Scrub scrubPassword{passwordBytes};
  crypto::TDCP_blockcipher& cipher = CipherFor(algorithm);
  KeyGuard keyGuard{&cipher};
  try {
    state_.SourceFileDate = platform::GetFileDate(source);
    const std::int64_t size = platform::GetFileSize64(source);
    const std::string hintBytes = platform::ToStoredText(hint);
    const std::string nameBytes = platform::ToStoredText(platform::ExtractFileName(source));
    // A longer header text would make a container that no reader accepts.
    if (Base64Length(hintBytes.size()) > MaxHeaderTextLength ||
        Base64Length(nameBytes.size()) > MaxHeaderTextLength) {
      throw platform::IoError("header text too long", 0);
    }

    File src = File::OpenShared(source);
    File dst = File::CreateNew(out);
    created = true;
    // The container is as readable as the source was; outputs start private.
    dst.SetMode(src.Mode());

    FileKey key = MakeFileKey(passwordBytes);
    cipher.Init(key.data(), 256, nullptr);
    crypto::SecureZero(key.data(), key.size());

    ContainerHeader fields;
    fields.tamperFlag = addTamperCode ? 1 : 0;
    fields.tamperCode.fill(0xFF); // the placeholder until the code is known
    fields.algorithm = algorithm;
    fields.passwordCheck = MakePasswordCheck(cipher, text_, passwordBytes);
    fields.hintText = text_.EncryptHeaderText(hintBytes);
    fields.nameText = text_.EncryptHeaderText(nameBytes);
    fields.fileDate = state_.SourceFileDate;
    fields.sourceSize = size;
    const std::vector<std::uint8_t> header = WriteHeader(fields);
    dst.WriteAll(header.data(), header.size());

    // The tamper code covers the bytes from offset 53 on as they are written.
    std::optional<TamperHasher> tamper;
    if (addTamperCode) {
      tamper.emplace(passwordBytes);
      tamper->Inner().Update(header.data() + TamperCoveredOffset,
                             static_cast<std::int32_t>(header.size() - TamperCoveredOffset));
    }
    ProofDigest plainHash(proofKey_);
    plainHash.Init();
    {
      // Slot buffers: 0 the source's bytes, 1 the encrypted bytes.
      HashWorker worker = HashWorker::ForFile(2, size);
      std::int64_t written = 0;
      std::int64_t taken = 0; // bytes read from the source
      // Where the next encrypted piece goes in the container.
      auto dataAt = static_cast<std::int64_t>(header.size());
      PieceSizes pieces = worker.Pieces();
      bool more = true;
      while (more) {
        worker.Next();
        std::uint8_t* plain = worker.Buffer(0);
        std::uint8_t* sealed = worker.Buffer(1);
        // The first piece is read here; a file longer than that is read ahead by the worker.
        const bool readAhead = worker.ReadingAhead();
        const std::size_t request = readAhead ? worker.FilledRequest() : pieces.Next();
        const std::size_t n = readAhead ? worker.FilledBytes() : src.Read(plain, request);
        more = n == request;
        taken += static_cast<std::int64_t>(n);
        // A source that grows while it is read is not the file whose size is recorded.
        if (taken > size) throw SourceChangedError();
        // Only the final piece is zero-padded to whole blocks of 16.
        const std::size_t padded = RoundUp16(n);
        std::memset(plain + n, 0, padded - n);
        cipher.EncryptCBC(plain, sealed, static_cast<std::int32_t>(padded));
        worker.Submit({{nullptr, 1, padded, &dst, dataAt},
                       {&plainHash, 0, n},
                       {tamper ? &tamper->Inner() : nullptr, 1, padded}},
                      !more);
        dataAt += static_cast<std::int64_t>(padded);
        if (more && !readAhead) worker.ReadAhead(src, pieces);
        ForEachChunk(n, request, [&](std::size_t chunk) {
          written += static_cast<std::int64_t>(RoundUp16(chunk));
          if (size != 0) host_.ShowProgress(ProgressText("暗号化中：", written, size));
          PumpMaybe();
          return true;
        });
      }
      worker.Drain();
      // Nor is one that ends before its recorded size.
      if (taken != size) throw SourceChangedError();
    }

    cipher.EraseKey();
    plainHash.Final(lastPlainDigest_.data());
    src.Close();
    if (tamper) {
      const TamperCode code = tamper->Finish();
      dst.Seek(static_cast<std::int64_t>(TamperCodeOffset));
      dst.WriteAll(code.data(), code.size());
    }
    dst.Sync();
    dst.Close();
    result.outcome = Outcome::Encrypted;
    result.output = out;
  } catch (const std::exception& e) {
    if (cipher.Initialized()) cipher.EraseKey();
    if (created) platform::DeleteFile(out);
    result.outcome = dynamic_cast<const SourceChangedError*>(&e) ? Outcome::SourceChanged
                                                                 : Outcome::EncryptFailed;
    result.error = ErrorNumber(e);
  }
  state_.LastSourceName = source;
  state_.LastOutputName = out;
  return result;
}

FileResult FileEngine::DecryptFile(const std::string& container,
                                   const platform::SecretText& password) {
  return Decrypt(container, password, Pass::Write, nullptr);
}

FileResult FileEngine::VerifyContainer(const std::string& container,
                                       const platform::SecretText& password) {
  return Decrypt(container, password, Pass::Verify, nullptr);
}

bool FileEngine::VerifyEncryption(const std::string& container,
                                  const platform::SecretText& password) {
  const PlainDigest expected = lastPlainDigest_;
  PlainDigest proved{};
  const bool ok = Succeeded(Decrypt(container, password, Pass::Prove, &proved).outcome);
  return ok && proved == expected;
}

bool FileEngine::VerifyDecryption(const std::string& output) {
  try {
    File file = File::OpenShared(output);
    file.DropCache();
    ProofDigest sha(proofKey_);
    sha.Init();
    HashRestOfFile(file, sha, [](std::size_t, std::size_t) {});
    PlainDigest digest{};
    sha.Final(digest.data());
    return digest == lastPlainDigest_;
  } catch (const std::exception&) {
    return false;
  }
}

FileResult FileEngine::Decrypt(const std::string& container, const platform::SecretText& password,
                               Pass pass, PlainDigest* proved) {
  const bool writing = pass == Pass::Write;
  // Refusals report the container alone; the run state stays as it was.
  const auto refused = [&](Outcome outcome, int error = 0) {
    return FileResult{outcome, container, {}, error, SourceWipe::NotAsked};
  };
  std::string passwordBytes = platform::ToSystemCodePage(password.View());
  Scrub scrubPassword{passwordBytes};
  KeyGuard keyGuard;
  KeyGuard laneGuard;
  std::string out;
  File dst;
  std::int64_t kept = 0; // plaintext bytes written to dst
  bool named = false;
  ProofDigest plainHash(proofKey_);
  plainHash.Init();
  Outcome success = Outcome::DecryptedNoTamperCode;
  try {
    File in = File::OpenShared(container);
    // Proofs read what is on the disk, not what the page cache still holds.
    if (!writing) in.DropCache();
    HeaderRead read;
    const std::vector<std::uint8_t> head = ReadHeaderBytes(in, read);
    const ContainerHeader& header = read.header;
    switch (read.status) {
    case HeaderStatus::OldFormat:
      return refused(Outcome::OldFormat);
    case HeaderStatus::UnknownFormat:
      return refused(Outcome::InvalidFormat);
    case HeaderStatus::CutInFixedPart:
      throw platform::IoError("container cut short in its header", EIO);
    default:
      break;
    }
    const bool hasTamperCode = header.HasTamperCode();
    // The decryption policy; proofs check what was written, whatever it says.
    if (writing && settings_.SkipNonHMAC && !hasTamperCode) return refused(Outcome::NoTamperCode);

    crypto::TDCP_blockcipher& cipher = CipherFor(header.algorithm);
    keyGuard.cipher = &cipher;
    FileKey key = MakeFileKey(passwordBytes);
    cipher.Init(key.data(), 256, nullptr);
    crypto::SecureZero(key.data(), key.size());
    const auto expected = MakePasswordCheck(cipher, text_, passwordBytes);
    if (std::memcmp(header.passwordCheck.data(), expected.data(), expected.size()) != 0)
      return refused(Outcome::WrongPassword);

    // What the header says of itself and of the data, before a byte of the data is read. With a
    // tamper code a flaw is reported only once the code is proved, as a changed byte is.
    std::optional<Outcome> flaw;
    std::string name;
    int flawError = 0;
    if (read.status == HeaderStatus::CutInTexts) {
      flaw = Outcome::DecryptFailed;
      flawError = EIO;
    } else if (read.status != HeaderStatus::Ok) {
      flaw = Outcome::InvalidFile;
    } else {
      try {
        const std::string nameBytes = text_.DecryptHeaderText(header.nameText);
        name = platform::FromStoredText(nameBytes);
        // A crafted name must never lead outside the container's folder.
        if (!ValidStoredName(nameBytes) || !ValidStoredName(name)) flaw = Outcome::InvalidFile;
      } catch (const std::exception&) {
        flaw = Outcome::DecryptFailed; // a scrambled text no writer makes
      }
    }
    const std::int64_t fileSize = in.Size();
    const std::int64_t dataLength = fileSize - static_cast<std::int64_t>(head.size());
    // Without a stored size (V3) the data is kept whole, padding and all.
    const bool hasSize = header.HasSourceSize();
    const std::int64_t size = hasSize ? header.sourceSize : fileSize;
    // A size the data cannot hold (no writer makes one; the container was cut or crafted) is
    // refused before anything is written.
    if (!flaw && hasSize && !DataHoldsSourceSize(size, dataLength)) flaw = Outcome::InvalidFile;
    if (flaw && !hasTamperCode) return refused(*flaw, flawError);

    const bool overridden = writing && !state_.OutputNameOverride.empty();
    bool renameAfter = false;
    if (writing && !flaw) {
      out = overridden ? state_.OutputNameOverride
                       : DecryptedOutputPath(container, name, renameAfter);
      // Replacing the container by its own plaintext would lose it.
      if (overridden && platform::SamePath(out, container))
        throw platform::IoError("output is the input", EINVAL);
      // The output has no name until the code is proved and every byte is on the disk.
      dst = File::CreateHidden(platform::ExtractFilePath(out));
      if (hasSize && size > 0) dst.Reserve(0, size);
    }

    // One pass over the data: the bytes read are hashed for the code and deciphered as they are,
    // so the code proves exactly the bytes that were deciphered.
    std::optional<TamperHasher> tamper;
    if (hasTamperCode) {
      tamper.emplace(passwordBytes);
      tamper->Inner().Update(head.data() + TamperCoveredOffset,
                             static_cast<std::int32_t>(head.size() - TamperCoveredOffset));
    }
    const bool deciphering = !flaw;
    const char* word = !deciphering ? "改ざん検知データ計算中："
                       : writing    ? "復号中："
                                    : "検証中：";
    const std::int64_t total = deciphering ? size : fileSize;
    std::int64_t dataRead = 0;
    {
      // Slot buffers: 0 the container's bytes, 1 the plaintext.
      HashWorker worker = HashWorker::ForFile(2, dataLength);
      PieceSizes pieces = worker.Pieces();
      // Sixteenths of a piece the worker deciphers with the second cipher: one more after it
      // waited for work, one fewer after it had none to wait for, so that both threads stay busy.
      std::size_t laneShare = 0;
      bool more = true;
      while (more) {
        worker.Next();
        std::uint8_t* sealed = worker.Buffer(0);
        std::uint8_t* plain = worker.Buffer(1);
        const std::size_t request = pieces.Next();
        const std::size_t got = in.Read(sealed, request);
        more = got == request;
        std::size_t keep = 0;
        HashWorker::Decipher lane;
        if (deciphering && more) {
          // Only whole pieces are shared; the last one, which may end in a part block, is not.
          laneShare = worker.Idled() ? std::min<std::size_t>(laneShare + 1, 12)
                                     : (laneShare > 0 ? laneShare - 1 : 0);
          const std::size_t own = got - got * laneShare / 16 / 16 * 16;
          if (own < got && !laneGuard.cipher) {
            crypto::TDCP_blockcipher& second = CipherFor(header.algorithm, true);
            laneGuard.cipher = &second;
            FileKey laneKey = MakeFileKey(passwordBytes);
            second.Init(laneKey.data(), 256, nullptr);
            crypto::SecureZero(laneKey.data(), laneKey.size());
          }
          lane = SharePiece(cipher, laneGuard.cipher, own, sealed, plain, got);
        } else if (deciphering) {
          cipher.DecryptCBC(sealed, plain, static_cast<std::int32_t>(got));
        }
        if (deciphering) {
          // Everything up to the stored size is kept; the padding of the last block, and
          // anything after it, is not.
          keep = !hasSize || dataRead >= size
                     ? (hasSize ? 0 : got)
                     : static_cast<std::size_t>(
                           std::min<std::int64_t>(static_cast<std::int64_t>(got), size - dataRead));
        }
        worker.Submit({{nullptr, 1, keep, dst.IsOpen() ? &dst : nullptr, kept},
                       {deciphering ? &plainHash : nullptr, 1, keep},
                       {tamper ? &tamper->Inner() : nullptr, 0, got}},
                      !more, lane);
        kept += static_cast<std::int64_t>(keep);
        const std::int64_t start =
            dataRead + (deciphering ? 0 : static_cast<std::int64_t>(head.size()));
        dataRead += static_cast<std::int64_t>(got);
        // Progress and events once per chunk.
        std::int64_t at = start;
        ForEachChunk(got, request, [&](std::size_t chunk) {
          at += static_cast<std::int64_t>(chunk);
          // A proof counts the padding of the last block too, but never shows more than all.
          const std::int64_t shown = writing ? at : std::min(at, total);
          if (total != 0) host_.ShowProgress(ProgressText(word, shown, total));
          PumpMaybe();
          return true;
        });
      }
      worker.Drain();
    }
    in.Close();

    if (tamper) {
      const TamperCode computed = tamper->Finish();
      TamperCode stored{};
      std::copy(header.tamperCode.begin(), header.tamperCode.end(), stored.begin());
      if (!SameTamperCode(stored, computed)) {
        OverwriteUnnamed(dst, kept);
        return refused(Outcome::TamperMismatch);
      }
      success = Outcome::Decrypted;
    }
    if (flaw) return refused(*flaw, flawError);
    // Data that ended before the stored size (it changed while it was read) is a damaged
    // container, not a shorter file.
    if (hasSize && !DataHoldsSourceSize(size, dataRead))
      throw platform::IoError("container cut short", EIO);
    cipher.EraseKey();

    if (writing) {
      dst.Sync();
      // Named only now, as the default naming would name it (never over an existing file), or at
      // the given output, replacing only a file of the user's own.
      if (overridden) {
        named = dst.PublishReplacing(out);
        if (!named) throw platform::IoError("cannot name the output", errno);
      } else {
        for (int attempt = 0; attempt < 8 && !named; ++attempt) {
          if (attempt > 0) out = DecryptedOutputPath(container, name, renameAfter);
          named = dst.Publish(out);
        }
        if (!named) throw platform::IoError("cannot name the output", EEXIST);
      }
      dst.Close();
      state_.RenameAfterDecrypt = renameAfter;
      state_.SourceFileDate = header.fileDate;
    }
  } catch (const std::exception& e) {
    if (keyGuard.cipher && keyGuard.cipher->Initialized()) keyGuard.cipher->EraseKey();
    if (named) {
      // Named, and then failed: the output goes the way a partial output goes.
      dst = File();
      try {
        WipeFile(out);
      } catch (const std::exception&) {
        platform::DeleteFile(out);
      }
    } else {
      OverwriteUnnamed(dst, kept);
    }
    FileResult failed = refused(Outcome::DecryptFailed, ErrorNumber(e));
    if (!writing) return failed;
    state_.LastSourceName = container;
    state_.LastOutputName = out;
    return failed;
  }
  PlainDigest digest{};
  plainHash.Final(digest.data());
  if (pass == Pass::Prove) *proved = digest;
  if (pass == Pass::Verify) {
    return refused(success == Outcome::Decrypted ? Outcome::Verified
                                                 : Outcome::VerifiedNoTamperCode);
  }
  if (!writing) return refused(success);
  lastPlainDigest_ = digest;
  state_.LastSourceName = container;
  state_.LastOutputName = out;
  return FileResult{success, container, out, 0, SourceWipe::NotAsked};
}

void FileEngine::WipeFile(const std::string& path) {
  engine::WipeFile(path, host_, settings_, random_, state_.SkipWipe);
}

} // namespace qk::engine
