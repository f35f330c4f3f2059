// The program's settings in QK.ini: every key with its default, the moments at which they are
// loaded and saved, and where the file lives.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace qk::settings {

inline constexpr const char* kIniFileName = "QK.ini";
inline constexpr const char* kSectionWindowPos = "WINDOWPOS";
inline constexpr const char* kSectionSystem = "SYSTEM";
// The largest width or height of a window taken from the file, in pixels.
inline constexpr std::int32_t kMaxWindowExtent = 16384;

// Names of the naming choices, as NameMode() returns them.
enum NameModeValue : std::int32_t {
  kNameDefaultExt = 0, // source name + ".enc"
  kNameOwnExt = 1,     // source name + own extension
  kNameRandom = 2,     // random name + own extension
};

// Every setting with its default, as the rest of the program holds it while it runs.
struct SettingsModel {
  // WINDOWPOS
  std::int32_t X = 100; // main window's left edge
  std::int32_t Y = 100; // main window's top edge
  // LISTWIDTH, LISTHEIGHT: the list window's size as the user left it; 0 for both while there is
  // none (never shown, or the file held no usable pair), and the window keeps its own.
  std::int32_t ListWidth = 0;
  std::int32_t ListHeight = 0;
  // SYSTEM
  bool DbChk = true;    // DBCHK: refuse a second instance; read at start, never written
  bool Recurse = true;  // INCSUBFOLDER
  std::string PassHash; // PASSHASH: registered verification hash, empty when none
  std::int32_t SecLevel = 2;
  std::int32_t ProcessMsgInterval = 30; // PROCESSMSGINTV: read only, never written
  bool FirstExec = true;
  bool WipeSource = true;
  bool WipeDecSource = true;
  bool MainTop = false;
  bool DontClearPassBox = false;
  bool SaveHint = true;
  bool ReEnc = true;
  bool TopWipe = false;
  bool TextQKBtn = false;
  bool AddHMAC = true;
  bool SkipNonHMAC = false;
  std::string PasswordHint; // PASSHINT, kept only while SaveHint is on
  bool DefaultExt = true;   // DEFAULT_EXT
  bool OwnExt = false;      // OWN_EXT
  bool RandomExt = false;   // RANDOM_EXT
  std::string OwnExtStr = ".bmp";
  std::int32_t Algorithm = 0; // 0 Twofish, 1 Rijndael, 2 GOST; -1 when nothing is selected
  // LASTFOLDER: the folder of the last choice in a file dialog, where the next one opens; empty
  // while there is none.
  std::string LastFolder;

  // The naming of encrypted files from the three radio flags: the first set one of DefaultExt,
  // OwnExt, RandomExt wins, in that order. With none set (only a hand-edited file can do that) the
  // standard ".enc" naming applies, the safest of the three.
  std::int32_t NameMode() const;

  bool operator==(const SettingsModel&) const = default;
};

// An own extension may not hold a character that file names refuse on the systems that share
// these containers (\ / : , ; * ? " < > |).
bool CheckAdaptForFileName(std::string_view text);
// An own extension is usable when, without blanks and control characters at both ends, it is
// neither empty nor a lone ".", and the text as typed passes CheckAdaptForFileName.
bool IsValidOwnExtension(std::string_view text);

// Loads and saves the settings in one INI file, every key through one table. Every operation reads
// the file once, or replaces it, anew.
class SettingsStore {
public:
  explicit SettingsStore(std::string iniPath) : path_(std::move(iniPath)) {}
  const std::string& Path() const { return path_; }

  // DBCHK, read at program start before any window exists.
  bool ReadDbChk() const;
  // Main-window creation: X, Y, LISTWIDTH and LISTHEIGHT (a pair, both in 1..kMaxWindowExtent, or
  // none), INCSUBFOLDER, PASSHASH, SECLEVEL, PROCESSMSGINTV, FIRSTEXEC.
  void LoadL1(SettingsModel& model) const;
  // First start-up message: the option flags, then PASSHINT (only while SaveHint is on, else
  // PasswordHint is emptied), the naming flags and own extension, then ALGORITHM.
  void LoadL2(SettingsModel& model) const;
  // Closing of the main window: every key except DBCHK and PROCESSMSGINTV (LISTWIDTH and
  // LISTHEIGHT only when the model holds a size); PASSHINT only while
  // SaveHint is on (else the stored hint stays as it is); FIRSTEXEC always as 0. All keys go into
  // the file in one atomic replace: on failure SettingsWriteError is raised and the old file
  // stays whole, none of the keys written.
  void Save(const SettingsModel& model) const;
  // The clear button: PASSHASH and PASSHINT written as empty strings, in one atomic replace.
  void Clear() const;

private:
  std::string path_;
};

// The folder of the running executable, from /proc/self/exe, without a trailing "/"; empty when
// it cannot be found.
std::string ExecutableDir();
// Whether executableDir holds a portable copy whose QK.ini lives beside it: a folder of the
// user's own (effective user id) that the user can write to and that neither its group nor
// anybody else can, not below /usr (where installed programs live).
bool IsPortableFolder(const std::string& executableDir);
// QK.ini in executableDir for a portable copy (IsPortableFolder); otherwise in
// $XDG_CONFIG_HOME/qk (default ~/.config/qk), which the first write creates. A shared folder
// would let whoever else can write there supply every setting.
std::string DefaultIniPath(const std::string& executableDir);

} // namespace qk::settings
