// qk-make-containers: writes the known-answer containers of tests/data/containers.
//
//   qk-make-containers DIR         writes the containers and their expectations into DIR
//   qk-make-containers --explain   prints every value of the worked example
//
// Everything is computed here with Crypto++ and the standard library alone, from the byte layout
// in docs/container-format.md; nothing of the program is linked in. The containers then prove
// that the program reads what another implementation of the format writes. Texts that enter a
// container (passwords, names, hints) are given here as their CP932 bytes, as a Japanese Windows
// system stores them, beside the UTF-8 text a user would type.
//
// Beside each container X.enc, X.txt gives the password to give, the outcome expected (the
// program's stable English key), the SHA-1 of the bytes the decryption writes, and the name and
// packed date it restores.
#include <cryptopp/aes.h>
#include <cryptopp/gost.h>
#include <cryptopp/sha.h>
#include <cryptopp/twofish.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::string;

Bytes Sha1(const Bytes& data) {
  Bytes digest(CryptoPP::SHA1::DIGESTSIZE, '\0');
  CryptoPP::SHA1().CalculateDigest(reinterpret_cast<CryptoPP::byte*>(digest.data()),
                                   reinterpret_cast<const CryptoPP::byte*>(data.data()),
                                   data.size());
  return digest;
}

Bytes Hex(const Bytes& bytes, bool upper = false) {
  static const char* lower = "0123456789abcdef";
  static const char* capital = "0123456789ABCDEF";
  const char* digits = upper ? capital : lower;
  Bytes out;
  for (const unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

Bytes FromHex(const Bytes& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

Bytes Int32(std::int32_t value) {
  Bytes out(4, '\0');
  const auto u = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  return out;
}

Bytes Int64(std::int64_t value) {
  Bytes out(8, '\0');
  const auto u = static_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i) out[i] = static_cast<char>((u >> (8 * i)) & 0xFF);
  return out;
}

// A block cipher in the encryption direction; CBC and CFB are built on its single blocks.
class Block {
public:
  Block(int algorithm, const Bytes& key) {
    const auto* k = reinterpret_cast<const CryptoPP::byte*>(key.data());
    switch (algorithm) {
    case 1:
      cipher_ = std::make_unique<CryptoPP::AES::Encryption>(k, key.size());
      break;
    case 2:
      cipher_ = std::make_unique<CryptoPP::GOST::Encryption>(k, key.size());
      break;
    default:
      cipher_ = std::make_unique<CryptoPP::Twofish::Encryption>(k, key.size());
    }
  }
  std::size_t Size() const { return cipher_->BlockSize(); }
  Bytes Encrypt(const Bytes& block) const {
    Bytes out(block.size(), '\0');
    cipher_->ProcessBlock(reinterpret_cast<const CryptoPP::byte*>(block.data()),
                          reinterpret_cast<CryptoPP::byte*>(out.data()));
    return out;
  }
  // The chaining start of every run: a block of 0xFF bytes, encrypted.
  Bytes Iv() const { return Encrypt(Bytes(Size(), '\xFF')); }

private:
  std::unique_ptr<CryptoPP::BlockCipher> cipher_;
};

Bytes Xor(Bytes a, const Bytes& b) {
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>(a[i] ^ b[i]);
  return a;
}

// CBC over whole blocks; a shorter piece at the end is XORed with the start of the encrypted
// last chaining block (no writer of the format makes one: its data is padded to 16 bytes).
Bytes EncryptCbc(const Block& block, const Bytes& data) {
  const std::size_t n = block.Size();
  Bytes chain = block.Iv();
  Bytes out;
  for (std::size_t at = 0; at < data.size(); at += n) {
    const Bytes piece = data.substr(at, n);
    if (piece.size() < n) return out + Xor(piece, block.Encrypt(chain));
    chain = block.Encrypt(Xor(piece, chain));
    out += chain;
  }
  return out;
}

// The base64 of the format: a final group of one or two bytes takes the missing bytes from the
// group before it (zero when there is none); the bits they give are then covered by "=".
Bytes FormatBase64(const Bytes& data) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  Bytes out;
  unsigned char g[3] = {0, 0, 0};
  for (std::size_t i = 0; i < data.size(); i += 3) {
    for (std::size_t j = 0; j < 3 && i + j < data.size(); ++j)
      g[j] = static_cast<unsigned char>(data[i + j]);
    out += alphabet[g[0] >> 2];
    out += alphabet[((g[0] & 3) << 4) | (g[1] >> 4)];
    out += alphabet[((g[1] & 15) << 2) | (g[2] >> 6)];
    out += alphabet[g[2] & 63];
  }
  if (data.size() % 3 == 1) out.replace(out.size() - 2, 2, "==");
  if (data.size() % 3 == 2) out.replace(out.size() - 1, 1, "=");
  return out;
}

// Header text scrambling: Twofish with SHA-1(key text) as a 192-bit key (four zero bytes
// appended), 8-bit CFB from the encrypted 0xFF block, then the format's base64.
Bytes ScrambleText(const Bytes& text, const Bytes& keyText) {
  const Block block(0, Sha1(keyText) + Bytes(4, '\0'));
  Bytes chain = block.Iv();
  Bytes out;
  for (const char c : text) {
    const char e = static_cast<char>(c ^ block.Encrypt(chain)[0]);
    out += e;
    chain = chain.substr(1) + e;
  }
  return FormatBase64(out);
}

const Bytes kHeaderTextKey = "604918273";

// The 8 upper-case hex digits that prove a password: the last word of SHA-1 over the scrambled
// text "5830174" keyed by the password.
Bytes VerificationValue(const Bytes& password) {
  return Hex(Sha1(ScrambleText("5830174", password)).substr(16, 4), true);
}

Bytes FileKey(const Bytes& password) {
  return Sha1(password) + Bytes(12, '\xFF');
}

// The value proved against: for a 16-byte block the 8 bytes are XORed with the start of the
// encrypted chaining start; for GOST's 8-byte block it is one CBC block.
Bytes PasswordCheck(const Block& block, const Bytes& password) {
  const Bytes value = VerificationValue(password);
  if (block.Size() == 16) return Xor(value, block.Encrypt(block.Iv()).substr(0, 8));
  return block.Encrypt(Xor(value, block.Iv()));
}

// SHA-1 of (I xor 0x5C, I), I = SHA-1((key xor 0x36, padded to 64 with 0x36) + covered bytes),
// both as 20 bytes and twelve 0xFF.
Bytes TamperCode(const Bytes& password, const Bytes& covered) {
  Bytes pad(64, '\0');
  const Bytes key = FileKey(password);
  for (int i = 0; i < 32; ++i) pad[i] = key[i];
  for (auto& c : pad) c = static_cast<char>(c ^ 0x36);
  const Bytes inner = Sha1(pad + covered) + Bytes(12, '\xFF');
  Bytes outer(64, '\0');
  for (int i = 0; i < 32; ++i) {
    outer[i] = static_cast<char>(inner[i] ^ 0x5C);
    outer[32 + i] = inner[i];
  }
  return Sha1(outer) + Bytes(12, '\xFF');
}

// Year, month, day, hour, minute, second packed as the format's date.
std::int32_t PackedDate(int year, int month, int day, int hour, int minute, int second) {
  const auto packed = static_cast<std::uint32_t>((year - 1980) << 25 | month << 21 | day << 16 |
                                                 hour << 11 | minute << 5 | second / 2);
  return static_cast<std::int32_t>(packed);
}

struct Container {
  int generation = 5; // 3, 4 or 5
  std::int32_t algorithm = 0;
  bool code = true;
  unsigned char flag = 1; // the tamper flag written when code is on
  Bytes password = "pw";  // key bytes
  Bytes hint;             // stored bytes
  Bytes name = "a.txt";   // stored bytes
  std::int32_t date = PackedDate(2024, 3, 15, 12, 34, 56);
  Bytes plain;
  bool pad = true; // false: the data is the plaintext as it is, whatever its length
  Bytes after;     // bytes after the data (covered by the code, when there is one)
  // Optional replacements for fields, written as they are.
  std::function<Bytes(const Bytes&)> hintField; // receives the scrambled hint
  std::function<Bytes(const Bytes&)> nameField; // receives the scrambled name
  std::function<Bytes(std::int64_t)> sizeField; // receives the true size
};

Bytes Write(const Container& c) {
  const Block block(c.algorithm, FileKey(c.password));
  const Bytes hint = ScrambleText(c.hint, kHeaderTextKey);
  const Bytes name = ScrambleText(c.name, kHeaderTextKey);
  Bytes rest = Int32(c.algorithm) + PasswordCheck(block, c.password);
  rest += c.hintField ? c.hintField(hint) : Int32(static_cast<std::int32_t>(hint.size())) + hint;
  rest += c.nameField ? c.nameField(name) : Int32(static_cast<std::int32_t>(name.size())) + name;
  rest += Int32(c.date);
  const auto size = static_cast<std::int64_t>(c.plain.size());
  if (c.generation >= 4) rest += c.sizeField ? c.sizeField(size) : Int64(size);
  Bytes padded = c.plain;
  if (c.pad) padded.resize((padded.size() + 15) / 16 * 16, '\0');
  rest += EncryptCbc(block, padded) + c.after;

  switch (c.generation) {
  case 3:
    return "ENCRYPTED BY V3.X QK" + rest;
  case 4:
    return "ENCRYPTED BY V4.X QK" + rest;
  default:
    if (!c.code) return "ENCRYPTED BY V5.X QK" + Bytes(1, '\0') + rest;
    return "ENCRYPTED BY V5.X QK" + Bytes(1, static_cast<char>(c.flag)) +
           TamperCode(c.password, rest) + rest;
  }
}

// Deterministic filler for plaintexts.
Bytes Filler(std::size_t n, std::uint32_t seed) {
  Bytes out(n, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& c : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    c = static_cast<char>(x & 0xFF);
  }
  return out;
}

struct Expectation {
  Bytes password = "pw"; // as given to the program (UTF-8)
  Bytes outcome;         // the program's stable key
  Bytes written;         // the bytes the decryption writes, when it writes
  Bytes name;            // the restored name (UTF-8), when it writes
  std::int32_t date = 0;
  Bytes hint;  // as the program shows it (UTF-8); "-" when it cannot read one
  Bytes about; // one line on what the container is
};

struct Case {
  Bytes file;
  Bytes bytes;
  Expectation expect;
};

void Save(const Bytes& dir, const Case& c) {
  std::ofstream(dir + "/" + c.file + ".enc", std::ios::binary) << c.bytes;
  std::ofstream text(dir + "/" + c.file + ".txt", std::ios::binary);
  const Expectation& e = c.expect;
  text << "# " << e.about << "\n";
  text << "password: " << e.password << "\n";
  text << "outcome: " << e.outcome << "\n";
  if (e.outcome.rfind("decrypted", 0) == 0) {
    text << "sha1: " << Hex(Sha1(e.written)) << "\n";
    text << "size: " << e.written.size() << "\n";
    text << "name: " << e.name << "\n";
    text << "date: " << e.date << "\n";
  }
  if (!e.hint.empty()) text << "hint: " << e.hint << "\n";
}

const char* CipherName(int algorithm) {
  switch (algorithm) {
  case 1:
    return "rijndael";
  case 2:
    return "gost";
  default:
    return "twofish";
  }
}

// The worked example of docs/container-format.md.
Container Example() {
  Container c;
  c.hint = "hi";
  c.plain = "hello";
  return c;
}

// Prints every intermediate value of the worked example.
void Explain() {
  const Container c = Example();
  const Bytes key = FileKey(c.password);
  const Block block(c.algorithm, key);
  std::printf("SHA-1(password)        %s\n", Hex(Sha1(c.password)).c_str());
  std::printf("FileKey                %s\n", Hex(key).c_str());
  std::printf("IV = E(FF..FF)         %s\n", Hex(block.Iv()).c_str());
  std::printf("E(IV)                  %s\n", Hex(block.Encrypt(block.Iv())).c_str());
  std::printf("verification value     %s\n", VerificationValue(c.password).c_str());
  std::printf("PasswordCheck          %s\n", Hex(PasswordCheck(block, c.password)).c_str());
  const Block text(0, Sha1(kHeaderTextKey) + Bytes(4, '\0'));
  std::printf("text key               %s\n", Hex(Sha1(kHeaderTextKey) + Bytes(4, '\0')).c_str());
  std::printf("text IV                %s\n", Hex(text.Iv()).c_str());
  std::printf("HintText               %s\n", ScrambleText(c.hint, kHeaderTextKey).c_str());
  std::printf("NameText               %s\n", ScrambleText(c.name, kHeaderTextKey).c_str());
  std::printf("scrambled \"5830174\"    %s\n", ScrambleText("5830174", c.password).c_str());
  Bytes padded = c.plain;
  padded.resize(16, '\0');
  std::printf("Data                   %s\n", Hex(EncryptCbc(block, padded)).c_str());
  const Bytes whole = Write(c);
  std::printf("TamperCode             %s\n", Hex(whole.substr(21, 32)).c_str());
  for (std::size_t at = 0; at < whole.size(); at += 16)
    std::printf("%04zx  %s\n", at, Hex(whole.substr(at, 16)).c_str());
}

std::vector<Case> AllCases() {
  std::vector<Case> cases;
  {
    const Container c = Example();
    cases.push_back({"example",
                     Write(c),
                     {"pw", "decrypted", c.plain, c.name, c.date, c.hint,
                      "the worked example of docs/container-format.md"}});
  }
  // Sound containers: every generation and cipher, V5 with and without the code.
  const std::size_t sizes[] = {1000, 37, 8200};
  for (int generation : {3, 4, 5}) {
    for (int algorithm : {0, 1, 2}) {
      for (bool code : {false, true}) {
        if (code && generation != 5) continue;
        Container c;
        c.generation = generation;
        c.algorithm = algorithm;
        c.code = code;
        c.plain = Filler(sizes[algorithm], static_cast<std::uint32_t>(generation * 10 + algorithm));
        c.hint = "hint";
        Case k;
        k.file =
            "v" + std::to_string(generation) + "-" + CipherName(algorithm) + (code ? "-code" : "");
        k.bytes = Write(c);
        Bytes written = c.plain;
        if (generation == 3) written.resize((written.size() + 15) / 16 * 16, '\0');
        k.expect = {"pw",
                    code ? "decrypted" : "decrypted-without-tamper-code",
                    written,
                    "a.txt",
                    c.date,
                    "hint",
                    "V" + std::to_string(generation) + ", " + CipherName(algorithm) +
                        (code ? ", with a tamper code" : ", without a tamper code") +
                        (generation == 3 ? "; V3 stores no size, so the zero padding stays" : "")};
        cases.push_back(k);
      }
    }
  }

  // What a container written elsewhere holds: CP932 texts, look-alike characters, UTF-8 names,
  // unusual cipher numbers and flags, boundary sizes.
  const auto sound = [&](const Bytes& file, const Container& c, const Bytes& password,
                         const Bytes& name, const Bytes& hint, const Bytes& about) {
    Case k;
    k.file = file;
    k.bytes = Write(c);
    k.expect = {password, c.code ? "decrypted" : "decrypted-without-tamper-code",
                c.plain,  name,
                c.date,   hint,
                about};
    cases.push_back(k);
  };
  {
    Container c;
    c.password = FromHex("83708358838f815b8368"); // パスワード
    c.name = FromHex("8e9197bf81608dc58f4994c52e646f6378");
    c.hint = FromHex("837183938367");
    c.plain = Filler(300, 1);
    sound("v5-cp932-texts", c, "パスワード", "資料～最終版.docx", "ヒント",
          "password, name and hint in CP932 as a Japanese Windows system writes them");
  }
  {
    Container c;
    c.algorithm = 1;
    c.password = FromHex("8e9197bf8160"); // 0x8160, as the wave dash types there
    c.name = FromHex("c2b12e747874");     // half-width katakana, also UTF-8 of "±.txt"
    c.hint = FromHex("817c35818e");       // 0x817C, the minus sign
    c.plain = Filler(64, 2);
    sound("v5-look-alikes", c, "資料〜", "ﾂｱ.txt", "－5℃",
          "a password with the wave dash U+301C (0x8160), a half-width name whose bytes are "
          "also UTF-8");
  }
  {
    Container c;
    c.algorithm = 2;
    c.password = FromHex("817c35818e");                  // −5℃ with U+2212, typed as 0x817C
    c.name = "\xe8\xb3\x87\xe6\x96\x99\xe3\x80\x9c.txt"; // UTF-8: CP932 would lose U+301C
    c.hint = "\xf0\x9f\x94\x91";                         // an emoji, UTF-8
    c.plain = Filler(16, 3);
    sound("v5-utf8-texts", c, "−5℃", "資料〜.txt", "🔑",
          "name and hint stored as UTF-8 (texts CP932 cannot give back), 16 bytes: no padding");
  }
  {
    Container c;
    c.code = false;
    c.password = FromHex("b1b2b3"); // ｱｲｳ
    c.plain = "";
    sound("v5-empty", c, "ｱｲｳ", "a.txt", "", "an empty source: no data bytes at all");
  }
  {
    Container c;
    c.algorithm = 7;
    c.plain = Filler(100, 4);
    sound("v5-algorithm-7", c, "pw", "a.txt", "", "cipher number 7, read as Twofish");
  }
  {
    Container c;
    c.algorithm = -1;
    c.code = false;
    c.generation = 4;
    c.plain = Filler(100, 5);
    sound("v4-algorithm-minus-1", c, "pw", "a.txt", "", "cipher number -1, read as Twofish");
  }
  {
    Container c;
    c.flag = 2;
    c.plain = Filler(50, 6);
    sound("v5-flag-2", c, "pw", "a.txt", "", "tamper flag 2: any value but 0 means a code");
  }
  {
    Container c;
    c.hint = Bytes(750, 'h');
    c.plain = Filler(20, 7);
    sound("v5-hint-length-1000", c, "pw", "a.txt", Bytes(750, 'h'),
          "a hint of 750 bytes: HintLength 1000, the largest accepted");
  }

  {
    Container c;
    c.code = false;
    c.hint = "hint";
    c.hintField = [](const Bytes& scrambled) { return Int32(5) + scrambled.substr(0, 5); };
    c.plain = Filler(30, 13);
    sound("hint-not-base64", c, "pw", "a.txt", "-",
          "a HintText of 5 characters: not base64, so no hint to show; the decryption does not "
          "read it");
  }

  // Data of other lengths than a writer gives: a V3 reader keeps all of it, a part block at the
  // end included; V4 and V5 keep SourceSize bytes and ignore what follows the padded data.
  for (const int algorithm : {0, 2}) {
    Container c;
    c.generation = 3;
    c.algorithm = algorithm;
    c.code = false;
    c.pad = false;
    c.plain = Filler(algorithm == 0 ? 1005 : 8212, 9);
    sound(Bytes("v3-") + CipherName(algorithm) + "-part-block", c, "pw", "a.txt", "",
          "V3 data ending in a part block, which is kept, deciphered as CBC ciphers a part "
          "block");
  }
  {
    Container c;
    c.generation = 4;
    c.code = false;
    c.plain = Filler(100, 10);
    c.after = Filler(7, 11);
    sound("v4-bytes-after-data", c, "pw", "a.txt", "",
          "V4, 7 bytes after the padded data: ignored");
    c.generation = 5;
    c.code = true;
    c.after = Filler(40, 12);
    sound("v5-bytes-after-data-code", c, "pw", "a.txt", "",
          "V5, 40 bytes after the padded data, covered by the code: ignored");
  }

  // Malformed containers: each refused with its own outcome, nothing written.
  const auto refused = [&](const Bytes& file, const Bytes& bytes, const Bytes& outcome,
                           const Bytes& about, const Bytes& password = "pw") {
    Case k;
    k.file = file;
    k.bytes = bytes;
    k.expect.password = password;
    k.expect.outcome = outcome;
    k.expect.about = about;
    cases.push_back(k);
  };
  Container base;
  base.plain = Filler(100, 8);
  base.hint = "hint";
  Container plainBase = base;
  plainBase.code = false;
  const Bytes sound5 = Write(base);
  const Bytes sound5NoCode = Write(plainBase);

  refused("bad-marker", "ENCRYPTED BY V6.X QK" + sound5NoCode.substr(20), "invalid-format",
          "an unknown generation in the marker");
  refused("bad-marker-after-nul", Bytes("abc\0ENCRYPTED BY QK", 19) + Bytes(100, 'x'),
          "invalid-format", "a zero byte ends the marker text before the old marker");
  refused("old-v2", "ENCRYPTED BY V2.X QK" + Bytes(100, 'x'), "old-format", "a V2 container");
  refused("old-unversioned", "12345ENCRYPTED BY QK" + Bytes(100, 'x'), "old-format",
          "the unversioned marker, found anywhere in the first 20 bytes");
  refused("truncated-marker", sound5.substr(0, 15), "decrypt-failed",
          "15 bytes: shorter than the marker");
  refused("truncated-header", sound5NoCode.substr(0, 55), "decrypt-failed",
          "cut inside the stored name");
  refused("truncated-size", sound5NoCode.substr(0, sound5NoCode.size() - 112 - 3), "decrypt-failed",
          "cut inside the size field");
  refused("truncated-data-code", sound5.substr(0, sound5.size() - 5), "tamper-mismatch",
          "with a tamper code, the last 5 data bytes cut off");
  refused("truncated-data", sound5NoCode.substr(0, sound5NoCode.size() - 16), "invalid-file",
          "without a tamper code, the last data block cut off: the data cannot hold the size");
  refused("extended-data-code", sound5 + Bytes(16, 'x'), "tamper-mismatch",
          "with a tamper code, 16 bytes added at the end");
  refused("flipped-data-code", Xor(sound5, Bytes(sound5.size() - 1, '\0') + "\x01"),
          "tamper-mismatch", "with a tamper code, one bit of the last data byte flipped");
  {
    Bytes flipped = sound5;
    flipped[30] = static_cast<char>(flipped[30] ^ 0x80);
    refused("flipped-code", flipped, "tamper-mismatch", "one bit of the tamper code flipped");
  }
  refused("wrong-password", sound5NoCode, "wrong-password", "a sound container, another password",
          "wrong");
  refused("wrong-password-code", sound5, "wrong-password",
          "with a tamper code: the password is proved first", "pW");

  const auto withHint = [&](const Bytes& file, Bytes field, const Bytes& about) {
    Container c = plainBase;
    c.hintField = [field](const Bytes&) { return field; };
    refused(file, Write(c), "invalid-file", about);
  };
  withHint("hint-length-negative", Int32(-1), "HintLength -1");
  withHint("hint-length-1001", Int32(1001) + Bytes(1001, 'A'), "HintLength 1001, one past");
  withHint("hint-length-max", Int32(INT32_MAX), "HintLength 2^31-1");
  withHint("hint-length-min", Int32(INT32_MIN), "HintLength -2^31");
  const auto withName = [&](const Bytes& file, const Bytes& outcome,
                            std::function<Bytes(const Bytes&)> field, const Bytes& about) {
    Container c = plainBase;
    c.nameField = std::move(field);
    refused(file, Write(c), outcome, about);
  };
  const auto lengthOnly = [](std::int32_t n) { return [n](const Bytes&) { return Int32(n); }; };
  withName("name-length-negative", "invalid-file", lengthOnly(-1), "NameLength -1");
  withName(
      "name-length-1001", "invalid-file",
      [](const Bytes&) { return Int32(1001) + Bytes(1001, 'A'); }, "NameLength 1001");
  withName("name-length-max", "invalid-file", lengthOnly(INT32_MAX), "NameLength 2^31-1");
  withName(
      "name-not-base64", "decrypt-failed",
      [](const Bytes& scrambled) { return Int32(5) + scrambled.substr(0, 5); },
      "a NameText of 5 characters: not base64");
  const auto badName = [&](const Bytes& file, const Bytes& name, const Bytes& about) {
    Container c = plainBase;
    c.name = name;
    refused(file, Write(c), "invalid-file", about);
  };
  badName("name-parent", "../x", "the stored name ../x");
  badName("name-slash", "a/b", "a stored name with a folder");
  badName("name-empty", "", "an empty stored name");
  badName("name-dot", ".", "the stored name .");
  badName("name-dotdot", "..", "the stored name ..");
  badName("name-nul", Bytes("a\0b", 3), "a stored name with a zero byte");
  const auto withSize = [&](const Bytes& file, std::int64_t size, const Bytes& about) {
    Container c = plainBase;
    c.sizeField = [size](std::int64_t) { return Int64(size); };
    refused(file, Write(c), "invalid-file", about);
  };
  withSize("size-negative", -1, "SourceSize -1");
  withSize("size-min", INT64_MIN, "SourceSize -2^63");
  withSize("size-max", INT64_MAX, "SourceSize 2^63-1, which no data can hold");
  withSize("size-beyond-data", 113, "SourceSize 113 over 112 data bytes");
  {
    Container c = plainBase;
    c.generation = 4;
    const Bytes v4 = Write(c);
    refused("v4-truncated-data", v4.substr(0, v4.size() - 16), "invalid-file",
            "V4, the last data block cut off");
    c.sizeField = [](std::int64_t) { return Int64(INT64_MAX); };
    refused("v4-size-max", Write(c), "invalid-file", "V4, SourceSize 2^63-1");
  }
  return cases;
}

} // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qk-make-containers DIR | --explain\n");
    return 2;
  }
  if (Bytes(argv[1]) == "--explain") {
    Explain();
    return 0;
  }
  for (const Case& c : AllCases()) Save(argv[1], c);
  return 0;
}
