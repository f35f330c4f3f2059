#include "engine/FileEngine.h"

#include "engine/Container.h"
#include "engine/HashWorker.h"
#include "engine/OutputNames.h"
#include "engine/ProofDigest.h"
#include "engine/Wipe.h"
#include "platform/CodePage.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Hardening.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
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

std::size_t Base64Length(std::size_t n) {
  return 4 * ((n + 2) / 3);
}

// A stored name is used as a file name in the container's folder only when it is one.
bool ValidStoredName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

std::int64_t RoundUp16(std::int64_t n) {
  return (n + 15) / 16 * 16;
}

void ReadInt32(File& file, std::int32_t& value) {
  std::uint8_t bytes[4];
  file.ReadExact(bytes, sizeof bytes);
  value = GetInt32(bytes);
}

// The header fields after the password check, up to the data.
struct HeaderRest {
  std::string name; // the stored name, decoded
  std::int32_t fileDate = 0;
  std::int64_t size = 0;    // only in containers that store it
  bool invalid = false;     // a length, name or size no writer makes
  std::exception_ptr error; // what reading it raised, when it did
  bool Usable() const { return !invalid && !error; }
};

// Reads the header fields after the password check; never raises. The file is left at the data.
HeaderRest ReadHeaderRest(File& in, TextCrypt& text, bool hasSize) {
  HeaderRest rest;
  try {
    std::int32_t hintLength = 0;
    ReadInt32(in, hintLength);
    if (!ValidHeaderTextLength(hintLength)) {
      rest.invalid = true;
      return rest;
    }
    std::string skipped(static_cast<std::size_t>(hintLength), '\0');
    in.ReadExact(skipped.data(), skipped.size());

    std::int32_t nameLength = 0;
    ReadInt32(in, nameLength);
    if (!ValidHeaderTextLength(nameLength)) {
      rest.invalid = true;
      return rest;
    }
    std::string nameText(static_cast<std::size_t>(nameLength), '\0');
    in.ReadExact(nameText.data(), nameText.size());
    const std::string nameBytes = text.DecryptHeaderText(nameText);
    rest.name = platform::FromStoredText(nameBytes);
    // A crafted name must never lead outside the container's folder.
    if (!ValidStoredName(nameBytes) || !ValidStoredName(rest.name)) {
      rest.invalid = true;
      return rest;
    }

    ReadInt32(in, rest.fileDate);
    if (hasSize) {
      std::uint8_t sizeBytes[8];
      in.ReadExact(sizeBytes, sizeof sizeBytes);
      rest.size = GetInt64(sizeBytes);
      if (rest.size < 0) rest.invalid = true;
    }
  } catch (...) {
    rest.error = std::current_exception();
  }
  return rest;
}

// The system's error number behind a failure, 0 when it was no system call's.
int ErrorNumber(const std::exception& e) {
  const auto* io = dynamic_cast<const platform::IoError*>(&e);
  return io ? io->errorCode() : 0;
}

} // namespace

FileEngine::FileEngine(EngineHost& host, RunState& state, const EngineSettings& settings,
                       Random& random)
    : host_(host), state_(state), settings_(settings), random_(random),
      tamper_(host, settings, random) {
  // The ciphers' key schedules live in this object: kept out of swap where the limit allows.
  platform::LockMemory(this, sizeof *this);
}

FileEngine::~FileEngine() {
  platform::UnlockMemory(this, sizeof *this);
}

crypto::TDCP_blockcipher& FileEngine::CipherFor(std::int32_t algorithm) {
  switch (algorithm) {
  case AlgoRijndael:
    return DCP_rijndael;
  case AlgoGost:
    return DCP_gost;
  default:
    return DCP_twofish;
  }
}

void FileEngine::PumpMaybe() {
  if (ShouldPump(random_, settings_.ProcessMsgInterval)) host_.ProcessMessages();
}

StoredHint FileEngine::ReadStoredHint(const std::string& path) {
  return engine::ReadStoredHint(path, text_);
}

FileResult FileEngine::EncryptFile(const std::string& source, const std::string& output,
                                   const std::string& password, const std::string& hint,
                                   std::int32_t algorithm, bool addTamperCode) {
  const std::string out = MakeUniquePath(output);
  FileResult result{Outcome::EncryptFailed, source, {}, 0, SourceWipe::NotAsked};
  bool created = false;
  std::string passwordBytes = platform::ToSystemCodePage(password);
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

    const std::string hintText = text_.EncryptHeaderText(hintBytes);
    const std::string nameText = text_.EncryptHeaderText(nameBytes);
    const auto check = MakePasswordCheck(cipher, text_, passwordBytes);

    std::vector<std::uint8_t> header(MarkerV5.begin(), MarkerV5.end());
    header.push_back(addTamperCode ? 1 : 0);
    if (addTamperCode) header.insert(header.end(), TamperCodeLength, 0xFF);
    std::uint8_t number[8];
    PutInt32(number, algorithm);
    header.insert(header.end(), number, number + 4);
    header.insert(header.end(), check.begin(), check.end());
    for (const std::string* text : {&hintText, &nameText}) {
      PutInt32(number, static_cast<std::int32_t>(text->size()));
      header.insert(header.end(), number, number + 4);
      header.insert(header.end(), text->begin(), text->end());
    }
    PutInt32(number, state_.SourceFileDate);
    header.insert(header.end(), number, number + 4);
    PutInt64(number, size);
    header.insert(header.end(), number, number + 8);
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
      HashWorker worker(2, DataPiece);
      std::int64_t written = 0;
      PieceSizes pieces;
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
        // Only the final piece is zero-padded to whole blocks of 16.
        const std::size_t padded =
            static_cast<std::size_t>(RoundUp16(static_cast<std::int64_t>(n)));
        std::memset(plain + n, 0, padded - n);
        cipher.EncryptCBC(plain, sealed, static_cast<std::int32_t>(padded));
        worker.Submit({{nullptr, 1, padded, &dst},
                       {&plainHash, 0, n},
                       {tamper ? &tamper->Inner() : nullptr, 1, padded}},
                      !more);
        if (more && !readAhead) worker.ReadAhead(src, pieces);
        ForEachChunk(n, request, [&](std::size_t chunk) {
          written += RoundUp16(static_cast<std::int64_t>(chunk));
          if (size != 0) host_.ShowProgress(ProgressText("暗号化中：", written, size));
          PumpMaybe();
          return true;
        });
      }
      worker.Drain();
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
    result.outcome = Outcome::EncryptFailed;
    result.error = ErrorNumber(e);
  }
  state_.LastSourceName = source;
  state_.LastOutputName = out;
  return result;
}

FileResult FileEngine::DecryptFile(const std::string& container, const std::string& password) {
  return Decrypt(container, password, nullptr);
}

bool FileEngine::VerifyEncryption(const std::string& container, const std::string& password) {
  const PlainDigest expected = lastPlainDigest_;
  PlainDigest proved{};
  const bool ok = Succeeded(Decrypt(container, password, &proved).outcome);
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

FileResult FileEngine::Decrypt(const std::string& container, const std::string& password,
                               PlainDigest* verify) {
  // Refusals report the container alone; the run state stays as it was.
  const auto refused = [&](Outcome outcome) {
    return FileResult{outcome, container, {}, 0, SourceWipe::NotAsked};
  };
  Outcome success = Outcome::DecryptedNoTamperCode;
  std::int64_t size = platform::GetFileSize64(container);
  std::string passwordBytes = platform::ToSystemCodePage(password);
  Scrub scrubPassword{passwordBytes};
  KeyGuard keyGuard;
  std::string out;
  bool created = false;
  ProofDigest plainHash(proofKey_);
  plainHash.Init();
  try {
    File in = File::OpenShared(container);
    // A proof reads what is on the disk, not what the page cache still holds.
    if (verify) in.DropCache();
    std::uint8_t marker[MarkerLength];
    in.ReadExact(marker, sizeof marker);
    const Generation generation = RecogniseGeneration(marker);
    if (generation == Generation::Old) return refused(Outcome::OldFormat);
    if (generation == Generation::Unknown) return refused(Outcome::InvalidFormat);

    bool hasTamperCode = false;
    TamperCode stored{};
    if (generation == Generation::V5) {
      std::uint8_t flag = 0;
      in.ReadExact(&flag, 1);
      if (flag != 0) {
        hasTamperCode = true;
        in.ReadExact(stored.data(), stored.size());
      }
    }
    if (settings_.SkipNonHMAC && !hasTamperCode) return refused(Outcome::NoTamperCode);

    std::int32_t algorithm = 0;
    ReadInt32(in, algorithm);
    crypto::TDCP_blockcipher& cipher = CipherFor(algorithm);
    keyGuard.cipher = &cipher;
    FileKey key = MakeFileKey(passwordBytes);
    cipher.Init(key.data(), 256, nullptr);
    crypto::SecureZero(key.data(), key.size());

    const auto expected = MakePasswordCheck(cipher, text_, passwordBytes);
    std::uint8_t check[8];
    in.ReadExact(check, sizeof check);
    if (std::memcmp(check, expected.data(), sizeof check) != 0)
      return refused(Outcome::WrongPassword);

    // The rest of the header is read ahead of the proof, so that the output can be set up while
    // the proof runs; what is wrong with it is reported after the proof, as always.
    const bool hasSize = generation != Generation::V3;
    const HeaderRest rest = ReadHeaderRest(in, text_, hasSize);
    if (hasSize && rest.Usable()) size = rest.size;

    const bool overridden = !verify && !state_.OutputNameOverride.empty();
    bool renameAfter = false;
    if (!verify && rest.Usable()) {
      if (overridden) {
        out = state_.OutputNameOverride;
      } else {
        out = DecryptedOutputPath(container, rest.name, renameAfter);
      }
    }

    File dst;
    // The output is made while the proof runs, still without a name, and its space reserved beside
    // the hash so that the writes after the proof go quicker. It gets its name only once the
    // proof holds; until then nothing can see it, and it goes with its descriptor.
    std::int64_t reserved = 0;
    bool reserving = true;
    const auto reserve = [&](std::int64_t hashed) {
      const std::int64_t upTo = std::min(hashed, size);
      if (!reserving || upTo <= reserved) return;
      reserving = dst.Reserve(reserved, upTo - reserved);
      reserved = upTo;
    };
    if (hasTamperCode && !out.empty() && hasSize && size > 0) {
      try {
        dst = File::CreateHidden(platform::ExtractFilePath(out));
      } catch (const platform::IoError&) {
        // A file system without nameless files: the output is made after the proof.
      }
    }

    if (hasTamperCode) {
      const auto computed = tamper_.ComputeTamperCode(passwordBytes, container, TamperCoveredOffset,
                                                      dst.IsOpen() ? TamperCoder::Beside(reserve)
                                                                   : TamperCoder::Beside());
      if (!computed || !SameTamperCode(stored, *computed)) return refused(Outcome::TamperMismatch);
      success = Outcome::Decrypted;
    }

    if (rest.error) std::rethrow_exception(rest.error);
    if (rest.invalid) return refused(Outcome::InvalidFile);
    // Replacing the container by its own plaintext would lose it.
    if (overridden && platform::SamePath(out, container))
      throw platform::IoError("output is the input", 0);
    if (!verify) {
      state_.RenameAfterDecrypt = renameAfter;
      state_.SourceFileDate = rest.fileDate;
      // Named like CreateNew would make it; without a nameless file, with a name taken meanwhile
      // or an override naming an existing file, the output is made the usual way.
      if (!dst.Publish(out)) dst = overridden ? File::CreateAlways(out) : File::CreateNew(out);
      created = true;
    } else {
      in.DropCache();
    }

    std::int64_t read = 0;
    {
      HashWorker worker(1, DataPiece);
      PieceSizes pieces;
      bool more = true;
      while (more) {
        worker.Next();
        std::uint8_t* data = worker.Buffer(0);
        const std::size_t request = pieces.Next();
        const std::size_t got = in.Read(data, request);
        cipher.DecryptCBC(data, data, static_cast<std::int32_t>(got));
        // The bytes kept: everything up to the stored size (the padding of the last block and
        // anything after it is dropped).
        const std::int64_t start = read;
        std::size_t keep = 0;
        std::size_t chunks = 0;
        more = ForEachChunk(got, request, [&](std::size_t chunk) {
          ++chunks;
          const std::int64_t before = read;
          read += static_cast<std::int64_t>(chunk);
          std::size_t n = chunk;
          if (hasSize && read > size) n -= static_cast<std::size_t>(read - size);
          keep = static_cast<std::size_t>(before - start) + n;
          return n == DataChunk;
        });
        worker.Submit({{nullptr, 0, keep, verify ? nullptr : &dst}, {&plainHash, 0, keep}}, !more);
        // Progress and events once per chunk, once its bytes are on their way to the output.
        std::int64_t at = start;
        for (std::size_t i = 0; i < chunks; ++i) {
          at = std::min(at + static_cast<std::int64_t>(DataChunk),
                        start + static_cast<std::int64_t>(got));
          if (size != 0)
            host_.ShowProgress(ProgressText(verify ? "検証中：" : "復号中：", at, size));
          PumpMaybe();
        }
      }
      worker.Drain();
    }
    // Data that ends before the stored size is a damaged container, not a shorter file.
    if (hasSize && read < RoundUp16(size)) throw platform::IoError("container cut short", 0);

    cipher.EraseKey();
    in.Close();
    if (!verify) {
      dst.Sync();
      dst.Close();
    }
  } catch (const std::exception& e) {
    if (keyGuard.cipher && keyGuard.cipher->Initialized()) keyGuard.cipher->EraseKey();
    FileResult failed = refused(Outcome::DecryptFailed);
    failed.error = ErrorNumber(e);
    if (verify) return failed;
    state_.LastSourceName = container;
    state_.LastOutputName = out;
    if (created) {
      // The partial output may hold decrypted fragments.
      try {
        WipeFile(out);
      } catch (const std::exception&) {
        platform::DeleteFile(out);
      }
    }
    return failed;
  }
  PlainDigest digest{};
  plainHash.Final(digest.data());
  if (verify) {
    *verify = digest;
  } else {
    lastPlainDigest_ = digest;
    state_.LastSourceName = container;
    state_.LastOutputName = out;
  }
  return FileResult{success, container, verify ? std::string() : out, 0, SourceWipe::NotAsked};
}

void FileEngine::WipeFile(const std::string& path) {
  engine::WipeFile(path, host_, settings_, random_, state_.SkipWipe);
}

} // namespace qk::engine
