#include "engine/FileEngine.h"

#include "engine/Container.h"
#include "engine/OutputNames.h"
#include "engine/PieceRing.h"
#include "engine/Progress.h"
#include "engine/ReadBackDigest.h"
#include "engine/TamperCode.h"
#include "engine/Wipe.h"
#include "platform/CodePage.h"
#include "platform/Durable.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hardening.h"
#include "platform/PathText.h"
#include "platform/SecretText.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <stdexcept>
#include <vector>

namespace qk::engine {

namespace {

using platform::File;

// Clears a secret copy (its whole buffer) however the scope is left.
struct Scrub {
  std::string& text;
  ~Scrub() { platform::SecureClear(text); }
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
PieceRing::Decipher SharePiece(crypto::TDCP_blockcipher& cipher, crypto::TDCP_blockcipher* lane,
                               std::size_t own, const std::uint8_t* sealed, std::uint8_t* plain,
                               std::size_t got) {
  const auto blockBytes = static_cast<std::size_t>(cipher.BlockSize() / 8);
  PieceRing::Decipher share;
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

void FileEngine::PublishOutput(File& dst, std::string& out, platform::Naming naming,
                               std::function<std::string()> another,
                               std::shared_ptr<bool> renameAfter) {
  // A held output waits nameless: its data is flushed together with the others', and only then
  // is it named.
  if (hold_) {
    held_.emplace(Held{{std::move(dst), out, naming, std::move(another)}, std::move(renameAfter)});
    return;
  }
  // Data flushed, name given, folder flushed (platform/Durable.h): only then may anything the
  // output stands for be touched. A name taken meanwhile is replaced by another, never
  // overwritten.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (attempt > 0) out = another();
    if (platform::PublishDurably(dst, out, naming)) return;
    if (naming == platform::Naming::Replacing || errno != EEXIST) break;
  }
  throw platform::IoError("cannot name the output", errno != 0 ? errno : EEXIST);
}

void FileEngine::HoldOutputs(bool hold) {
  hold_ = hold;
  expected_ = 0;
  if (!hold) {
    ahead_.reset();
  } else if (!ahead_) {
    ahead_ = std::make_unique<platform::HiddenAhead>();
  }
}

File FileEngine::NewOutput(const std::string& out) {
  const std::string folder = platform::ExtractFilePath(out);
  return ahead_ ? ahead_->Take(folder, expected_) : File::CreateHidden(folder);
}

void FileEngine::DropNameless(File& file) {
  if (!file.IsOpen() || file.Published()) return;
  std::int64_t size = 0;
  try {
    size = file.Size();
  } catch (const std::exception&) {
  }
  OverwriteUnnamed(file, size);
  file = File();
}

void FileEngine::SealData(File& src, File& dst, crypto::TDCP_blockcipher& cipher,
                          std::int64_t dataAt, std::int64_t size, TamperHasher* tamper) {
  ReadBackDigest plainHash(proofKey_);
  plainHash.Init();
  // Slot buffers: 0 the source's bytes, 1 the encrypted bytes.
  PieceRing worker = PieceRing::ForFile(2, size);
  std::int64_t written = 0;
  std::int64_t taken = 0; // bytes read from the source
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
      StopPoint();
      return true;
    });
  }
  worker.Drain();
  // Nor is one that ends before its recorded size.
  if (taken != size) throw SourceChangedError();
  plainHash.Final(lastPlainDigest_.data());
}

FileResult FileEngine::EncryptFile(const std::string& source, const std::string& output,
                                   const platform::SecretText& password, const std::string& hint,
                                   std::int32_t algorithm, bool addTamperCode,
                                   std::optional<std::uint32_t> mode) {
  // The name asked for first; one taken already is found when the container is named, and another
  // made then (PublishOutput).
  std::string out = output;
  FileResult result{Outcome::EncryptFailed, source, {}, 0, SourceWipe::NotAsked};
  std::string passwordBytes = platform::ToSystemCodePage(password.View());
  Scrub scrubPassword{passwordBytes};
  crypto::TDCP_blockcipher& cipher = CipherFor(algorithm);
  KeyGuard keyGuard{&cipher};
  File dst;
  lastSource_ = {};
  held_.reset();
  try {
    // Open and check: the source as it is now, its container made without a name, the key.
    const std::string hintBytes = platform::ToStoredText(hint);
    const std::string nameBytes = platform::ToStoredText(platform::ExtractFileName(source));
    // A longer header text would make a container that no reader accepts.
    if (Base64Length(hintBytes.size()) > MaxHeaderTextLength ||
        Base64Length(nameBytes.size()) > MaxHeaderTextLength) {
      throw platform::IoError("header text too long", 0);
    }
    File src = File::OpenShared(source);
    // The source as the open saw it, before a byte of it was read: its size and date for the
    // header, and what a wipe of it later checks it against.
    const platform::FileStamp stamp = src.OpenedStamp();
    const std::int64_t size = stamp.size;
    dst = NewOutput(out);
    // The container is as readable as the source was (or as asked); outputs start private.
    result.sourceMode = src.OpenedMode();
    dst.SetMode(mode.value_or(result.sourceMode));

    // The file key, derived once: the cipher's key and the tamper code's.
    FileKey key = MakeFileKey(passwordBytes);
    cipher.Init(key.data(), 256, nullptr);
    std::optional<TamperHasher> tamper;
    if (addTamperCode) tamper.emplace(key);
    platform::SecureZero(key.data(), key.size());

    ContainerHeader fields;
    fields.tamperFlag = addTamperCode ? 1 : 0;
    fields.tamperCode.fill(0xFF); // the placeholder until the code is known
    fields.algorithm = algorithm;
    fields.passwordCheck = MakePasswordCheck(cipher, text_, passwordBytes);
    fields.hintText = text_.EncryptHeaderText(hintBytes);
    fields.nameText = text_.EncryptHeaderText(nameBytes);
    fields.fileDate = platform::PackFileDate(stamp.modifiedSeconds);
    fields.sourceSize = size;
    const std::vector<std::uint8_t> header = WriteHeader(fields);
    dst.WriteAll(header.data(), header.size());
    // The tamper code covers the bytes from offset 53 on as they are written.
    if (tamper) {
      tamper->Inner().Update(header.data() + TamperCoveredOffset,
                             static_cast<std::int32_t>(header.size() - TamperCoveredOffset));
    }

    // Stream.
    SealData(src, dst, cipher, static_cast<std::int64_t>(header.size()), size,
             tamper ? &*tamper : nullptr);
    cipher.EraseKey();
    src.Close();
    if (tamper) {
      const TamperCode code = tamper->Finish();
      dst.Seek(static_cast<std::int64_t>(TamperCodeOffset));
      dst.WriteAll(code.data(), code.size());
    }

    // Publish.
    PublishOutput(dst, out, platform::Naming::New, [output] { return MakeUniquePath(output); });
    dst.Close();
    lastSource_ = stamp;
    result.outcome = Outcome::Encrypted;
    result.output = out;
  } catch (const std::exception& e) {
    if (cipher.Initialized()) cipher.EraseKey();
    // A nameless container goes with its descriptor; a named one that failed after its name
    // was given is removed.
    if (dst.Published()) {
      dst = File();
      platform::DeleteFile(out);
    }
    dst = File();
    if (dynamic_cast<const RunStopped*>(&e) != nullptr) throw;
    result.outcome = dynamic_cast<const SourceChangedError*>(&e) ? Outcome::SourceChanged
                                                                 : Outcome::EncryptFailed;
    result.error = ErrorNumber(e);
  }
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
                                  const platform::SecretText& password, const PlainDigest* given,
                                  bool readBackBegun) {
  const PlainDigest expected = given != nullptr ? *given : lastPlainDigest_;
  PlainDigest proved{};
  const bool ok =
      Succeeded(Decrypt(container, password, Pass::Prove, &proved, readBackBegun).outcome);
  return ok && proved == expected;
}

FileEngine::PlainDigest FileEngine::DigestOf(File& file) {
  ReadBackDigest sha(proofKey_);
  sha.Init();
  HashRestOfFile(
      file, sha, [](std::size_t, std::size_t) {}, file.OpenedStamp().size);
  PlainDigest digest{};
  sha.Final(digest.data());
  return digest;
}

void FileEngine::StopPoint() const {
  if (state_.Stopping()) throw RunStopped();
}

bool FileEngine::VerifyDecryption(const std::string& output, const PlainDigest* expected,
                                  bool readBackBegun) {
  try {
    File file = File::OpenShared(output);
    if (!readBackBegun) file.DropCache();
    return DigestOf(file) == (expected != nullptr ? *expected : lastPlainDigest_);
  } catch (const std::exception&) {
    return false;
  }
}

std::optional<bool> FileEngine::IsContainer(const std::string& path) {
  try {
    File in = File::OpenShared(path);
    std::array<std::uint8_t, MarkerLength> marker{};
    if (in.Read(marker.data(), marker.size()) != marker.size()) return false;
    return ReadHeader(marker).status != HeaderStatus::UnknownFormat;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

std::optional<FileEngine::DoneBefore>
FileEngine::EncryptedBefore(const std::string& source, const std::string& output,
                            const platform::SecretText& password) {
  if (!platform::FileExists(output)) return std::nullopt;
  try {
    File src = File::OpenShared(source);
    DoneBefore done{output, DigestOf(src), src.OpenedStamp()};
    src.Close();
    PlainDigest proved{};
    if (!Succeeded(Decrypt(output, password, Pass::Prove, &proved).outcome) ||
        proved != done.digest)
      return std::nullopt;
    return done;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

// One pass over a container as it goes: what its header said, the key, and the output taking
// shape.
struct FileEngine::Unsealing {
  Unsealing(const std::string& path, Pass given, const ReadBackDigest::Key& proofKey)
      : container(path), pass(given), writing(given == Pass::Write), plainHash(proofKey) {
    plainHash.Init();
  }
  ~Unsealing() { platform::SecureZero(key.data(), key.size()); }
  Unsealing(const Unsealing&) = delete;
  Unsealing& operator=(const Unsealing&) = delete;

  const std::string& container;
  Pass pass;
  bool writing;
  bool readBackBegun = false; // a proof whose reading from the disk was begun before
  File in;
  HeaderRead read;
  std::vector<std::uint8_t> head;
  FileKey key{};
  KeyGuard keyGuard;
  KeyGuard laneGuard;
  // What the header says of itself and of the data, found before a byte of the data is read.
  // With a tamper code a flaw is reported only once the code is proved, as a changed byte is.
  std::optional<Outcome> flaw;
  int flawError = 0;
  std::string name;
  std::int64_t fileSize = 0;
  std::int64_t dataLength = 0;
  bool hasSize = false;
  std::int64_t size = 0;
  bool overridden = false;
  bool renameAfter = false;
  std::string out;
  File dst;
  std::int64_t kept = 0;     // plaintext bytes written to dst
  std::int64_t dataRead = 0; // container bytes read after the header
  std::optional<TamperHasher> tamper;
  ReadBackDigest plainHash;
  platform::FileStamp stamp;
};

std::optional<FileResult> FileEngine::OpenContainer(Unsealing& u, std::string_view passwordBytes) {
  const auto refused = [&](Outcome outcome, int error = 0) {
    return FileResult{outcome, u.container, {}, error, SourceWipe::NotAsked};
  };
  u.in = File::OpenShared(u.container);
  // What a wipe of the container later checks it against: the container before a byte was read.
  u.stamp = u.in.OpenedStamp();
  // Proofs read what is on the disk, not what the page cache still holds.
  if (!u.writing && !u.readBackBegun) u.in.DropCache();
  u.head = ReadHeaderBytes(u.in, u.read);
  const ContainerHeader& header = u.read.header;
  switch (u.read.status) {
  case HeaderStatus::OldFormat:
    return refused(Outcome::OldFormat);
  case HeaderStatus::UnknownFormat:
    return refused(Outcome::InvalidFormat);
  case HeaderStatus::CutInFixedPart:
    throw platform::IoError("container cut short in its header", ContainerCutShort);
  default:
    break;
  }
  const bool hasTamperCode = header.HasTamperCode();
  // The decryption policy; proofs check what was written, whatever it says.
  if (u.writing && settings_.SkipNonHMAC && !hasTamperCode) return refused(Outcome::NoTamperCode);

  // The file key, derived once: the cipher's, the second lane's and the tamper code's.
  crypto::TDCP_blockcipher& cipher = CipherFor(header.algorithm);
  u.keyGuard.cipher = &cipher;
  u.key = MakeFileKey(passwordBytes);
  cipher.Init(u.key.data(), 256, nullptr);
  const auto expected = MakePasswordCheck(cipher, text_, passwordBytes);
  if (std::memcmp(header.passwordCheck.data(), expected.data(), expected.size()) != 0)
    return refused(Outcome::WrongPassword);

  if (u.read.status == HeaderStatus::CutInTexts) {
    u.flaw = Outcome::DecryptFailed;
    u.flawError = ContainerCutShort;
  } else if (u.read.status != HeaderStatus::Ok) {
    u.flaw = Outcome::InvalidFile;
  } else {
    try {
      const std::string nameBytes = text_.DecryptHeaderText(header.nameText);
      u.name = platform::FromStoredText(nameBytes);
      // A crafted name must never lead outside the container's folder.
      if (!ValidStoredName(nameBytes) || !ValidStoredName(u.name)) u.flaw = Outcome::InvalidFile;
    } catch (const std::exception&) {
      u.flaw = Outcome::DecryptFailed; // a scrambled text no writer makes
    }
  }
  // The size the open saw: the data read is checked against it, whatever happens meanwhile.
  u.fileSize = u.stamp.size;
  u.dataLength = u.fileSize - static_cast<std::int64_t>(u.head.size());
  // Without a stored size (V3) the data is kept whole, padding and all.
  u.hasSize = header.HasSourceSize();
  u.size = u.hasSize ? header.sourceSize : u.fileSize;
  // A size the data cannot hold (no writer makes one; the container was cut or crafted) is
  // refused before anything is written.
  if (!u.flaw && u.hasSize && !DataHoldsSourceSize(u.size, u.dataLength))
    u.flaw = Outcome::InvalidFile;
  if (u.flaw && !hasTamperCode) return refused(*u.flaw, u.flawError);

  if (hasTamperCode) {
    u.tamper.emplace(u.key);
    u.tamper->Inner().Update(u.head.data() + TamperCoveredOffset,
                             static_cast<std::int32_t>(u.head.size() - TamperCoveredOffset));
  }
  u.overridden = u.writing && !state_.OutputNameOverride.empty();
  if (u.writing && !u.flaw) {
    // The stored name is asked for first, as an encryption asks for its own (PublishOutput).
    u.out = u.overridden ? state_.OutputNameOverride
                         : FirstDecryptedPath(u.container, u.name, u.renameAfter);
    // Replacing the container by its own plaintext would lose it.
    if (u.overridden && platform::SamePath(u.out, u.container))
      throw platform::IoError("output is the input", EINVAL);
    // The output has no name until the code is proved and every byte is on the disk.
    u.dst = NewOutput(u.out);
    if (u.hasSize && u.size > 0) u.dst.Reserve(0, u.size);
  }
  return std::nullopt;
}

void FileEngine::UnsealData(Unsealing& u) {
  // One pass over the data: the bytes read are hashed for the code and deciphered as they are,
  // so the code proves exactly the bytes that were deciphered.
  crypto::TDCP_blockcipher& cipher = *u.keyGuard.cipher;
  const bool deciphering = !u.flaw;
  const char* word = !deciphering ? "改ざん検知データ計算中："
                     : u.writing  ? "復号中："
                                  : "検証中：";
  const std::int64_t total = deciphering ? u.size : u.fileSize;
  // Slot buffers: 0 the container's bytes, 1 the plaintext.
  PieceRing worker = PieceRing::ForFile(2, u.dataLength);
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
    const std::size_t got = u.in.Read(sealed, request);
    more = got == request;
    std::size_t keep = 0;
    PieceRing::Decipher lane;
    if (deciphering && more) {
      // Only whole pieces are shared; the last one, which may end in a part block, is not.
      laneShare = worker.Idled() ? std::min<std::size_t>(laneShare + 1, 12)
                                 : (laneShare > 0 ? laneShare - 1 : 0);
      const std::size_t own = got - got * laneShare / 16 / 16 * 16;
      if (own < got && !u.laneGuard.cipher) {
        crypto::TDCP_blockcipher& second = CipherFor(u.read.header.algorithm, true);
        u.laneGuard.cipher = &second;
        second.Init(u.key.data(), 256, nullptr);
      }
      lane = SharePiece(cipher, u.laneGuard.cipher, own, sealed, plain, got);
    } else if (deciphering) {
      cipher.DecryptCBC(sealed, plain, static_cast<std::int32_t>(got));
    }
    if (deciphering) {
      // Everything up to the stored size is kept; the padding of the last block, and
      // anything after it, is not.
      keep = !u.hasSize || u.dataRead >= u.size
                 ? (u.hasSize ? 0 : got)
                 : static_cast<std::size_t>(
                       std::min<std::int64_t>(static_cast<std::int64_t>(got), u.size - u.dataRead));
    }
    worker.Submit({{nullptr, 1, keep, u.dst.IsOpen() ? &u.dst : nullptr, u.kept},
                   {deciphering ? &u.plainHash : nullptr, 1, keep},
                   {u.tamper ? &u.tamper->Inner() : nullptr, 0, got}},
                  !more, lane);
    u.kept += static_cast<std::int64_t>(keep);
    const std::int64_t start =
        u.dataRead + (deciphering ? 0 : static_cast<std::int64_t>(u.head.size()));
    u.dataRead += static_cast<std::int64_t>(got);
    // Progress and events once per chunk.
    std::int64_t at = start;
    ForEachChunk(got, request, [&](std::size_t chunk) {
      at += static_cast<std::int64_t>(chunk);
      // A proof counts the padding of the last block too, but never shows more than all.
      const std::int64_t shown = u.writing ? at : std::min(at, total);
      if (total != 0) host_.ShowProgress(ProgressText(word, shown, total));
      PumpMaybe();
      StopPoint();
      return true;
    });
  }
  worker.Drain();
}

FileResult FileEngine::Decrypt(const std::string& container, const platform::SecretText& password,
                               Pass pass, PlainDigest* proved, bool readBackBegun) {
  // Refusals report the container alone; the run state stays as it was.
  const auto refused = [&](Outcome outcome, int error = 0) {
    return FileResult{outcome, container, {}, error, SourceWipe::NotAsked};
  };
  std::string passwordBytes = platform::ToSystemCodePage(password.View());
  Scrub scrubPassword{passwordBytes};
  Unsealing u(container, pass, proofKey_);
  u.readBackBegun = readBackBegun;
  Outcome success = Outcome::DecryptedNoTamperCode;
  if (pass == Pass::Write) held_.reset();
  try {
    // Open and check.
    if (auto refusal = OpenContainer(u, passwordBytes)) return *refusal;
    // Stream.
    UnsealData(u);
    u.in.Close();
    if (u.tamper) {
      const TamperCode computed = u.tamper->Finish();
      TamperCode stored{};
      std::copy(u.read.header.tamperCode.begin(), u.read.header.tamperCode.end(), stored.begin());
      if (!SameTamperCode(stored, computed)) {
        OverwriteUnnamed(u.dst, u.kept);
        return refused(Outcome::TamperMismatch);
      }
      success = Outcome::Decrypted;
    }
    if (u.flaw) return refused(*u.flaw, u.flawError);
    // Data that ended before the stored size (it changed while it was read) is a damaged
    // container, not a shorter file.
    if (u.hasSize && !DataHoldsSourceSize(u.size, u.dataRead))
      throw platform::IoError("container cut short", ContainerCutShort);
    u.keyGuard.cipher->EraseKey();

    // Publish: named only now, as the default naming would name it (never over an existing
    // file), or at the given output, replacing only a file of the user's own.
    if (u.writing) {
      auto renameAfter = std::make_shared<bool>(u.renameAfter);
      PublishOutput(
          u.dst, u.out, u.overridden ? platform::Naming::Replacing : platform::Naming::New,
          [container, name = u.name, renameAfter] {
            return DecryptedOutputPath(container, name, *renameAfter);
          },
          renameAfter);
      u.renameAfter = *renameAfter;
      u.dst.Close();
    }
  } catch (const std::exception& e) {
    if (u.keyGuard.cipher && u.keyGuard.cipher->Initialized()) u.keyGuard.cipher->EraseKey();
    if (u.dst.Published()) {
      // Named, and then failed: the output goes the way a partial output goes.
      u.dst = File();
      try {
        WipeFile(u.out);
      } catch (const std::exception&) {
        platform::DeleteFile(u.out);
      }
    } else {
      OverwriteUnnamed(u.dst, u.kept);
    }
    if (dynamic_cast<const RunStopped*>(&e) != nullptr) throw;
    return refused(Outcome::DecryptFailed, ErrorNumber(e));
  }
  PlainDigest digest{};
  u.plainHash.Final(digest.data());
  if (pass == Pass::Prove) *proved = digest;
  if (pass == Pass::Verify) {
    return refused(success == Outcome::Decrypted ? Outcome::Verified
                                                 : Outcome::VerifiedNoTamperCode);
  }
  if (!u.writing) return refused(success);
  lastPlainDigest_ = digest;
  lastSource_ = u.stamp;
  FileResult done{success, container, u.out, 0, SourceWipe::NotAsked};
  done.fileDate = u.read.header.fileDate;
  done.renameAfter = u.renameAfter;
  done.sourceMode = u.in.OpenedMode();
  return done;
}

void FileEngine::WipeFile(const std::string& path, const platform::FileStamp* expected) {
  engine::WipeFile(path, host_, settings_, random_, state_.SkipWipe, expected);
}

File FileEngine::OverwriteFile(const std::string& path, const platform::FileStamp* expected) {
  return engine::OverwriteFile(path, host_, settings_, random_, state_.SkipWipe, expected);
}

std::optional<FileEngine::DoneBefore>
FileEngine::DecryptedBefore(const std::string& container, const platform::SecretText& password,
                            bool& notContainer) {
  notContainer = false;
  try {
    DoneBefore done;
    // The header alone names the output: only when that is there is the data deciphered.
    {
      File in = File::OpenShared(container);
      done.stamp = in.OpenedStamp();
      HeaderRead read;
      ReadHeaderBytes(in, read);
      notContainer = read.status == HeaderStatus::UnknownFormat ||
                     (read.status == HeaderStatus::CutInFixedPart &&
                      done.stamp.size < static_cast<std::int64_t>(MarkerLength));
      if (read.status != HeaderStatus::Ok) return std::nullopt;
      const std::string nameBytes = text_.DecryptHeaderText(read.header.nameText);
      const std::string name = platform::FromStoredText(nameBytes);
      if (!ValidStoredName(nameBytes) || !ValidStoredName(name)) return std::nullopt;
      bool aside = false;
      done.output = FirstDecryptedPath(container, name, aside);
      // A plaintext of the container's own name is still to take it.
      if (aside || !platform::FileExists(done.output)) return std::nullopt;
    }
    if (!Succeeded(Decrypt(container, password, Pass::Prove, &done.digest).outcome))
      return std::nullopt;
    File output = File::OpenShared(done.output);
    if (DigestOf(output) != done.digest) return std::nullopt;
    return done;
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

} // namespace qk::engine
