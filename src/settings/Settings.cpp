#include "settings/Settings.h"

#include "settings/IniUnit.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qk::settings {

namespace {

const std::string kWin = kSectionWindowPos;
const std::string kSys = kSectionSystem;
// Defaults, taken from a default-constructed model so that they are written down once.
const SettingsModel kDefaults;

bool IsWindowExtent(std::int32_t extent) {
  return extent > 0 && extent <= kMaxWindowExtent;
}

} // namespace

std::int32_t SettingsModel::NameMode() const {
  if (DefaultExt) return kNameDefaultExt;
  if (OwnExt) return kNameOwnExt;
  if (RandomExt) return kNameRandom;
  return kNameDefaultExt;
}

bool SettingsStore::ReadDbChk() const {
  return ReadIniBool(path_, kSys, "DBCHK", kDefaults.DbChk);
}

void SettingsStore::LoadL1(SettingsModel& m) const {
  m.X = ReadIniInteger(path_, kWin, "X", kDefaults.X);
  m.Y = ReadIniInteger(path_, kWin, "Y", kDefaults.Y);
  // A size is taken whole or not at all: a hand-edited or damaged value (none, not a number, zero,
  // negative, larger than any screen) leaves the window at its own size.
  const std::int32_t width = ReadIniInteger(path_, kWin, "LISTWIDTH", 0);
  const std::int32_t height = ReadIniInteger(path_, kWin, "LISTHEIGHT", 0);
  const bool usable = IsWindowExtent(width) && IsWindowExtent(height);
  m.ListWidth = usable ? width : kDefaults.ListWidth;
  m.ListHeight = usable ? height : kDefaults.ListHeight;
  m.Recurse = ReadIniBool(path_, kSys, "INCSUBFOLDER", kDefaults.Recurse);
  m.PassHash = ReadIniString(path_, kSys, "PASSHASH", kDefaults.PassHash);
  m.SecLevel = ReadIniInteger(path_, kSys, "SECLEVEL", kDefaults.SecLevel);
  m.ProcessMsgInterval =
      ReadIniInteger(path_, kSys, "PROCESSMSGINTV", kDefaults.ProcessMsgInterval);
  m.FirstExec = ReadIniBool(path_, kSys, "FIRSTEXEC", kDefaults.FirstExec);
}

void SettingsStore::LoadL2(SettingsModel& m) const {
  m.WipeSource = ReadIniBool(path_, kSys, "WIPESOURCE", kDefaults.WipeSource);
  m.WipeDecSource = ReadIniBool(path_, kSys, "WIPEDECSOURCE", kDefaults.WipeDecSource);
  m.MainTop = ReadIniBool(path_, kSys, "MAINTOP", kDefaults.MainTop);
  m.DontClearPassBox = ReadIniBool(path_, kSys, "DONTCLEARPASSBOX", kDefaults.DontClearPassBox);
  m.SaveHint = ReadIniBool(path_, kSys, "SAVEHINT", kDefaults.SaveHint);
  m.ReEnc = ReadIniBool(path_, kSys, "REENC", kDefaults.ReEnc);
  m.TopWipe = ReadIniBool(path_, kSys, "TOPWIPE", kDefaults.TopWipe);
  m.TextQKBtn = ReadIniBool(path_, kSys, "TEXTQKBTN", kDefaults.TextQKBtn);
  m.AddHMAC = ReadIniBool(path_, kSys, "ADDHMAC", kDefaults.AddHMAC);
  m.SkipNonHMAC = ReadIniBool(path_, kSys, "SKIPNONHMAC", kDefaults.SkipNonHMAC);
  m.PasswordHint =
      m.SaveHint ? ReadIniString(path_, kSys, "PASSHINT", kDefaults.PasswordHint) : std::string();
  m.DefaultExt = ReadIniBool(path_, kSys, "DEFAULT_EXT", kDefaults.DefaultExt);
  m.OwnExt = ReadIniBool(path_, kSys, "OWN_EXT", kDefaults.OwnExt);
  m.RandomExt = ReadIniBool(path_, kSys, "RANDOM_EXT", kDefaults.RandomExt);
  m.OwnExtStr = ReadIniString(path_, kSys, "OWN_EXT_STR", kDefaults.OwnExtStr);
  m.Algorithm = ReadIniInteger(path_, kSys, "ALGORITHM", kDefaults.Algorithm);
}

void SettingsStore::Save(const SettingsModel& m) const {
  auto doc = IniDocument::LoadForUpdate(path_);
  doc.SetInteger(kWin, "X", m.X);
  doc.SetInteger(kWin, "Y", m.Y);
  if (IsWindowExtent(m.ListWidth) && IsWindowExtent(m.ListHeight)) {
    doc.SetInteger(kWin, "LISTWIDTH", m.ListWidth);
    doc.SetInteger(kWin, "LISTHEIGHT", m.ListHeight);
  }
  doc.SetBool(kSys, "INCSUBFOLDER", m.Recurse);
  doc.SetBool(kSys, "WIPESOURCE", m.WipeSource);
  doc.SetBool(kSys, "WIPEDECSOURCE", m.WipeDecSource);
  doc.SetBool(kSys, "MAINTOP", m.MainTop);
  doc.SetBool(kSys, "DONTCLEARPASSBOX", m.DontClearPassBox);
  doc.SetBool(kSys, "SAVEHINT", m.SaveHint);
  doc.SetBool(kSys, "REENC", m.ReEnc);
  doc.SetBool(kSys, "TOPWIPE", m.TopWipe);
  doc.SetBool(kSys, "TEXTQKBTN", m.TextQKBtn);
  doc.SetBool(kSys, "ADDHMAC", m.AddHMAC);
  doc.SetBool(kSys, "SKIPNONHMAC", m.SkipNonHMAC);
  if (m.SaveHint) doc.Set(kSys, "PASSHINT", m.PasswordHint);
  doc.Set(kSys, "PASSHASH", m.PassHash);
  doc.SetInteger(kSys, "SECLEVEL", m.SecLevel);
  doc.SetBool(kSys, "DEFAULT_EXT", m.DefaultExt);
  doc.SetBool(kSys, "OWN_EXT", m.OwnExt);
  doc.SetBool(kSys, "RANDOM_EXT", m.RandomExt);
  doc.Set(kSys, "OWN_EXT_STR", m.OwnExtStr);
  doc.SetInteger(kSys, "ALGORITHM", m.Algorithm);
  doc.SetBool(kSys, "FIRSTEXEC", false);
  doc.Save(path_);
}

void SettingsStore::Clear() const {
  auto doc = IniDocument::LoadForUpdate(path_);
  doc.Set(kSys, "PASSHASH", "");
  doc.Set(kSys, "PASSHINT", "");
  doc.Save(path_);
}

std::string ExecutableDir() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) {
      const std::string exe(buffer.data(), static_cast<std::size_t>(n));
      const auto slash = exe.rfind('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? "/" : exe.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);
  }
}

bool IsPortableFolder(const std::string& executableDir) {
  if (executableDir.empty()) return false;
  // Installed programs live below /usr; that folder is the system's, even for root.
  if (executableDir == "/usr" || executableDir.rfind("/usr/", 0) == 0) return false;
  struct stat st {};
  if (::stat(executableDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  if (st.st_uid != ::geteuid()) return false;
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0) return false;
  if ((st.st_mode & S_IWUSR) == 0 || ::access(executableDir.c_str(), W_OK) != 0) return false;
  // Nobody else may replace the folder either: every folder above it belongs to root or the user
  // and is writable by nobody else, or has the sticky bit (as /tmp), which keeps others from
  // renaming what is not theirs.
  std::string dir = executableDir;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  while (dir.size() > 1) {
    const auto slash = dir.rfind('/');
    if (slash == std::string::npos) return false;
    dir = slash == 0 ? "/" : dir.substr(0, slash);
    struct stat parent {};
    if (::lstat(dir.c_str(), &parent) != 0 || !S_ISDIR(parent.st_mode)) return false;
    if (parent.st_uid != 0 && parent.st_uid != ::geteuid()) return false;
    if ((parent.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (parent.st_mode & S_ISVTX) == 0)
      return false;
  }
  return true;
}

std::string DefaultIniPath(const std::string& executableDir) {
  if (IsPortableFolder(executableDir)) {
    return executableDir + (executableDir.back() == '/' ? "" : "/") + kIniFileName;
  }
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else {
    std::string home;
    if (const char* env = std::getenv("HOME"); env && *env) {
      home = env;
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) {
      home = pw->pw_dir;
    }
    config = home + "/.config";
  }
  return config + "/qk/" + kIniFileName;
}

bool CheckAdaptForFileName(std::string_view text) {
  return text.find_first_of("\\/:,;*?\"<>|") == std::string_view::npos;
}

bool IsValidOwnExtension(std::string_view text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && static_cast<unsigned char>(text[begin]) <= 0x20) ++begin;
  while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 0x20) --end;
  const std::string_view trimmed = text.substr(begin, end - begin);
  return !trimmed.empty() && trimmed != "." && CheckAdaptForFileName(text);
}

} // namespace qk::settings
