#include "settings/IniUnit.h"

#include "platform/Durable.h"
#include "platform/File.h"

#include "platform/CodePage.h"
#include "platform/Utf8.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace qk::settings {

namespace {

constexpr std::string_view kBlanks = " \t";
constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(kBlanks);
  return s.substr(first, last - first + 1);
}

char AsciiLower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

bool IsQuote(char c) {
  return c == '"' || c == '\'';
}

bool IsEnclosedInQuotes(std::string_view s) {
  return s.size() >= 2 && IsQuote(s.front()) && s.front() == s.back();
}

std::string_view Unquote(std::string_view s) {
  return IsEnclosedInQuotes(s) ? s.substr(1, s.size() - 2) : s;
}

// The name of a section header line ("[NAME]", blanks allowed around and inside the brackets),
// or nullopt for any other line. A header without its closing bracket runs to the end of the line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  return Trim(line.substr(0, line.find(']')));
}

// Splits a "KEY=value" line into its trimmed key and its trimmed value; false without "=".
bool SplitKeyLine(std::string_view line, std::string_view& key, std::string_view& value) {
  const auto eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  key = Trim(line.substr(0, eq));
  value = Trim(line.substr(eq + 1));
  return true;
}

// The first kMaxIniString bytes of a stored value; a UTF-8 value is never cut inside a character.
std::string_view CutStored(std::string_view s) {
  if (s.size() <= kMaxIniString) return s;
  std::size_t cut = kMaxIniString;
  if (platform::utf8::IsValid(s)) {
    while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;
  }
  return s.substr(0, cut);
}

// What a value becomes on its line: cut at a line break or NUL, quoted when reading would
// otherwise change it.
std::string EncodeValue(std::string_view value) {
  value = value.substr(0, value.find_first_of(std::string_view("\r\n\0", 3)));
  const bool blankEnds = !value.empty() && (kBlanks.find(value.front()) != std::string_view::npos ||
                                            kBlanks.find(value.back()) != std::string_view::npos);
  std::string encoded;
  encoded.reserve(value.size() + 2);
  const bool quote = blankEnds || IsEnclosedInQuotes(value);
  if (quote) encoded += '"';
  encoded += value;
  if (quote) encoded += '"';
  return encoded;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads the whole file into out; returns 0 or the errno value of the failing call.
int ReadWholeFile(const std::string& path, std::string& out) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  out.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return err;
    }
    out.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return 0;
}

// Replaces the file at path with contents: temporary file beside it, flushed, renamed over the
// old one, folder flushed. A symbolic link at the name is refused, never followed nor replaced:
// the temporary file is made with O_EXCL (never through a link) and the rename replaces the name
// itself. The new file is 0600 always; the old file's owner carries over. A file without the
// owner-write bit counts as read-only and is refused, also for root.
void ReplaceFileAtomically(const std::string& path, const std::string& contents) {
  const auto fail = [&](int err) { throw SettingsWriteError(path, err); };

  const std::string& target = path;
  struct stat st {};
  const auto slash = target.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash ? slash : 1);
  const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
  if (name.empty()) fail(EISDIR);

  bool existing = false;
  if (::lstat(target.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) fail(ELOOP);
    if (S_ISDIR(st.st_mode)) fail(EISDIR);
    if (!S_ISREG(st.st_mode)) fail(EINVAL);
    if ((st.st_mode & S_IWUSR) == 0) fail(EACCES);
    existing = true;
  } else if (errno == ENOENT) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) fail(ec.value());
  } else {
    fail(errno);
  }

  // A file without a name beside the old one, then made durable under the name in one step
  // (platform/Durable.h): a save cut at any moment leaves the old file or the new one.
  try {
    platform::File temp = platform::File::CreateHidden(dir);
    temp.WriteAll(contents.data(), contents.size());
    // 0600 whatever the old file's mode was: PASSHASH and PASSHINT are nobody else's business.
    temp.SetMode(0600);
    if (existing && (st.st_uid != ::geteuid() || st.st_gid != ::getegid())) {
      // Best effort: only a privileged process may give the file back to its owner.
      temp.GiveTo(st.st_uid, st.st_gid);
    }
    if (!platform::PublishDurably(temp, target, platform::Naming::Replacing)) fail(errno);
  } catch (const platform::IoError& e) {
    fail(e.errorCode() != 0 ? e.errorCode() : EIO);
  }
}

} // namespace

SettingsWriteError::SettingsWriteError(const std::string& path, int errorCode)
    : std::runtime_error(path + " に書き込めません"), path_(path), errorCode_(errorCode) {}

std::int32_t DecodeIniInteger(std::string_view text, std::int32_t def) {
  std::string_view hex;
  bool isHex = false;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    isHex = true;
    hex = text.substr(2);
  } else if (!text.empty() && text[0] == '$') {
    isHex = true;
    hex = text.substr(1);
  }
  if (isHex) {
    if (hex.empty()) return def;
    std::uint64_t value = 0;
    for (char c : hex) {
      const int digit = HexDigit(c);
      if (digit < 0) return def;
      value = value * 16 + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFu) return def;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
  }

  std::size_t i = 0;
  bool negative = false;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return def;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return def;
    value = value * 10 + (text[i] - '0');
    if (value > std::int64_t{INT32_MAX} + 1) return def;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return def;
  return static_cast<std::int32_t>(value);
}

IniDocument::IniDocument(std::string_view text) {
  while (!text.empty()) {
    const auto nl = text.find('\n');
    std::string_view piece = text.substr(0, nl);
    std::string_view eol;
    if (nl == std::string_view::npos) {
      text = {};
      // Carriage returns closing the file end the line as a line break would; kept in the text
      // they would make the line read differently once a line is added after it.
      while (!piece.empty() && piece.back() == '\r') piece.remove_suffix(1);
    } else {
      text.remove_prefix(nl + 1);
      eol = "\n";
      if (!piece.empty() && piece.back() == '\r') {
        piece.remove_suffix(1);
        eol = "\r\n";
      }
    }
    lines_.push_back(Line{std::string(piece), std::string(eol)});
  }
}

IniDocument IniDocument::Load(const std::string& path) {
  std::string text;
  if (ReadWholeFile(path, text) != 0) return IniDocument();
  return IniDocument(text);
}

IniDocument IniDocument::LoadForUpdate(const std::string& path) {
  std::string text;
  const int err = ReadWholeFile(path, text);
  if (err == ENOENT) return IniDocument();
  if (err != 0) throw SettingsWriteError(path, err);
  return IniDocument(text);
}

std::size_t IniDocument::FindSection(std::string_view section) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    std::string_view text = lines_[i].text;
    if (i == 0 && text.starts_with(kUtf8Bom)) text.remove_prefix(kUtf8Bom.size());
    const auto name = SectionName(text);
    if (name && EqualsNoCase(*name, section)) return i;
  }
  return std::string::npos;
}

std::size_t IniDocument::SectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && !SectionName(lines_[i].text)) ++i;
  return i;
}

std::size_t IniDocument::FindKey(std::size_t header, std::string_view key) const {
  const std::size_t end = SectionEnd(header);
  for (std::size_t i = header + 1; i < end; ++i) {
    std::string_view lineKey, value;
    if (SplitKeyLine(lines_[i].text, lineKey, value) && EqualsNoCase(lineKey, key)) return i;
  }
  return std::string::npos;
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
  const std::size_t header = FindSection(section);
  if (header == std::string::npos) return std::nullopt;
  const std::size_t at = FindKey(header, key);
  if (at == std::string::npos) return std::nullopt;
  std::string_view lineKey, value;
  SplitKeyLine(lines_[at].text, lineKey, value);
  return std::string(Unquote(value));
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   const std::string& def) const {
  const auto value = Get(section, key);
  if (!value) return def;
  return platform::FromSystemCodePage(CutStored(*value));
}

std::int32_t IniDocument::GetInteger(std::string_view section, std::string_view key,
                                     std::int32_t def) const {
  const auto value = Get(section, key);
  if (!value) return def;
  return DecodeIniInteger(CutStored(*value), def);
}

bool IniDocument::GetBool(std::string_view section, std::string_view key, bool def) const {
  return GetInteger(section, key, def ? 1 : 0) != 0;
}

std::string IniDocument::NewLineEnding() const {
  for (const auto& line : lines_) {
    if (!line.eol.empty()) return line.eol;
  }
  return "\n";
}

void IniDocument::EndLastLine() {
  if (!lines_.empty() && lines_.back().eol.empty()) lines_.back().eol = NewLineEnding();
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
  std::string text(key);
  text += '=';
  text += EncodeValue(value);
  const std::string eol = NewLineEnding();
  const std::size_t header = FindSection(section);
  if (header == std::string::npos) {
    EndLastLine();
    std::string head = "[";
    head += section;
    head += ']';
    lines_.push_back(Line{std::move(head), eol});
    lines_.push_back(Line{std::move(text), eol});
    return;
  }
  const std::size_t existing = FindKey(header, key);
  if (existing != std::string::npos) {
    lines_[existing].text = std::move(text);
    return;
  }
  // After the section's last non-blank line, so that blank lines before the next section stay.
  std::size_t at = SectionEnd(header);
  while (at > header + 1 && Trim(lines_[at - 1].text).empty()) --at;
  if (at == lines_.size()) EndLastLine();
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{std::move(text), eol});
}

void IniDocument::SetInteger(std::string_view section, std::string_view key, std::int32_t value) {
  Set(section, key, std::to_string(value));
}

void IniDocument::SetBool(std::string_view section, std::string_view key, bool value) {
  Set(section, key, value ? "1" : "0");
}

std::string IniDocument::Text() const {
  std::string out;
  for (const auto& line : lines_) {
    out += line.text;
    out += line.eol;
  }
  return out;
}

void IniDocument::Save(const std::string& path) const {
  ReplaceFileAtomically(path, Text());
}

bool ReadIniBool(const std::string& iniPath, const std::string& section, const std::string& key,
                 bool def) {
  return IniDocument::Load(iniPath).GetBool(section, key, def);
}

std::string ReadIniString(const std::string& iniPath, const std::string& section,
                          const std::string& key, const std::string& def) {
  return IniDocument::Load(iniPath).GetString(section, key, def);
}

std::int32_t ReadIniInteger(const std::string& iniPath, const std::string& section,
                            const std::string& key, std::int32_t def) {
  return IniDocument::Load(iniPath).GetInteger(section, key, def);
}

void WriteIniBool(const std::string& iniPath, const std::string& section, const std::string& key,
                  bool value) {
  auto doc = IniDocument::LoadForUpdate(iniPath);
  doc.SetBool(section, key, value);
  doc.Save(iniPath);
}

void WriteIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                    const std::string& value) {
  auto doc = IniDocument::LoadForUpdate(iniPath);
  doc.Set(section, key, value);
  doc.Save(iniPath);
}

void WriteIniInteger(const std::string& iniPath, const std::string& section, const std::string& key,
                     std::int32_t value) {
  auto doc = IniDocument::LoadForUpdate(iniPath);
  doc.SetInteger(section, key, value);
  doc.Save(iniPath);
}

} // namespace qk::settings
