// Reading and writing the settings INI file: section headers in square brackets, one KEY=value
// line per key.
//
// Reading: sections and keys are matched without regard to ASCII letter case; the first section
// of a name and the first key of a name within it count. Values are trimmed of blanks and tabs,
// and one pair of surrounding quotes (both single or both double) is removed. Lines may end in
// LF or CRLF. A missing or unreadable file reads as empty: every key gives its default.
//
// Writing: an update keeps every other byte of the file; the key's line is replaced in place, or
// the key is added at the end of its section, or a new section is added at the end of the file.
// New lines take the line ending the file already uses (LF for a new file). The file is replaced
// atomically: a temporary file in the same folder is written and flushed to the disk, renamed
// over the old one, and the folder is flushed. A missing folder is created. A symbolic link at
// the file's name is refused, never written through. A failing write
// raises SettingsWriteError and leaves the old file as it was.
//
// Nothing is cached: every helper call reads or replaces the file anew.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qk::settings {

// Longest string value a read returns, in bytes; longer stored values are cut.
inline constexpr std::size_t kMaxIniString = 2047;

// A write the system refused. what() is the path followed by " に書き込めません".
class SettingsWriteError : public std::runtime_error {
public:
  SettingsWriteError(const std::string& path, int errorCode);
  const std::string& Path() const { return path_; }
  // The errno value of the refused call.
  int ErrorCode() const { return errorCode_; }

private:
  std::string path_;
  int errorCode_;
};

// Integer text as stored: longer than two characters and beginning "0x" or "0X", or beginning
// "$": hexadecimal of at most 32 bits (taken as signed, so "$FFFFFFFF" is -1); otherwise signed
// decimal within 32 bits. Anything else (empty, stray characters, overflow) gives def.
std::int32_t DecodeIniInteger(std::string_view text, std::int32_t def);

// The lines of one INI file, for looking values up and updating them in memory.
class IniDocument {
public:
  IniDocument() = default;
  explicit IniDocument(std::string_view text);

  // The file at path; missing or unreadable gives an empty document.
  static IniDocument Load(const std::string& path);
  // The file at path for an update: a missing file (or folder) gives an empty document, any
  // other failure raises SettingsWriteError.
  static IniDocument LoadForUpdate(const std::string& path);

  // The decoded value (trimmed, quotes removed, not yet cut); nullopt when the key is missing.
  std::optional<std::string> Get(std::string_view section, std::string_view key) const;
  // The value cut to kMaxIniString bytes (never inside a UTF-8 character); stored text that is
  // not UTF-8, as written on a CP932 system, is converted to UTF-8. def when missing.
  std::string GetString(std::string_view section, std::string_view key,
                        const std::string& def) const;
  std::int32_t GetInteger(std::string_view section, std::string_view key, std::int32_t def) const;
  bool GetBool(std::string_view section, std::string_view key, bool def) const;

  // Stores value under section and key. A value is stored up to its first line break or NUL (a
  // line cannot hold more). A value that would not read back as itself (blanks at either end,
  // or enclosed in a pair of quotes) is written inside double quotes.
  void Set(std::string_view section, std::string_view key, std::string_view value);
  void SetInteger(std::string_view section, std::string_view key, std::int32_t value);
  void SetBool(std::string_view section, std::string_view key, bool value);

  // The whole file as it would be written.
  std::string Text() const;
  // Replaces the file at path atomically with Text(); raises SettingsWriteError.
  void Save(const std::string& path) const;

private:
  struct Line {
    std::string text; // without its line ending
    std::string eol;  // "\n", "\r\n", or "" for a last line without one
  };
  // Index of the first header line of the section, or npos.
  std::size_t FindSection(std::string_view section) const;
  // One past the last line of the section whose header is at index header.
  std::size_t SectionEnd(std::size_t header) const;
  std::size_t FindKey(std::size_t header, std::string_view key) const;
  std::string NewLineEnding() const;
  void EndLastLine();

  std::vector<Line> lines_;
};

// The six helpers: one read or one atomic write of the file at iniPath each.
bool ReadIniBool(const std::string& iniPath, const std::string& section, const std::string& key,
                 bool def);
std::string ReadIniString(const std::string& iniPath, const std::string& section,
                          const std::string& key, const std::string& def);
std::int32_t ReadIniInteger(const std::string& iniPath, const std::string& section,
                            const std::string& key, std::int32_t def);
void WriteIniBool(const std::string& iniPath, const std::string& section, const std::string& key,
                  bool value);
void WriteIniString(const std::string& iniPath, const std::string& section, const std::string& key,
                    const std::string& value);
void WriteIniInteger(const std::string& iniPath, const std::string& section, const std::string& key,
                     std::int32_t value);

} // namespace qk::settings
