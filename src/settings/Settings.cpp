#include "settings/Settings.h"

#include "settings/IniUnit.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <variant>
#include <vector>

namespace qk::settings {

namespace {

// Defaults, taken from a default-constructed model so that they are written down once.
const SettingsModel kDefaults;

bool IsWindowExtent(std::int32_t extent) {
  return extent > 0 && extent <= kMaxWindowExtent;
}

// A size is taken whole or not at all: a hand-edited or damaged value (none, not a number, zero,
// negative, larger than any screen) leaves the window at its own size, and a model without a size
// leaves what the file holds.
bool HasListSize(const SettingsModel& m) {
  return IsWindowExtent(m.ListWidth) && IsWindowExtent(m.ListHeight);
}

// A folder is written once there is one.
bool HasLastFolder(const SettingsModel& m) {
  return !m.LastFolder.empty();
}

// The hint is kept, read and written only while SaveHint is on.
bool KeepsHint(const SettingsModel& m) {
  return m.SaveHint;
}

// When a key is read: at program start (ReadDbChk), by LoadL1 or by LoadL2.
enum class Stage { Start, L1, L2 };
// What Save writes for a key: the model's value, nothing, or always false.
enum class Saved { Value, Never, False };

using Member = std::variant<bool SettingsModel::*, std::int32_t SettingsModel::*,
                            std::string SettingsModel::*>;

// One key of QK.ini and the model member it holds; the default is the member's value in a
// default-constructed model.
struct Key {
  const char* section;
  const char* name;
  Member member;
  Stage stage;
  Saved saved = Saved::Value;
  // When given and false for the model, the key is not written, and after loading the member
  // holds its default.
  bool (*applies)(const SettingsModel&) = nullptr;
};

// Every key, in the order Save writes them.
const Key kKeys[] = {
    {kSectionWindowPos, "X", &SettingsModel::X, Stage::L1},
    {kSectionWindowPos, "Y", &SettingsModel::Y, Stage::L1},
    {kSectionWindowPos, "LISTWIDTH", &SettingsModel::ListWidth, Stage::L1, Saved::Value,
     HasListSize},
    {kSectionWindowPos, "LISTHEIGHT", &SettingsModel::ListHeight, Stage::L1, Saved::Value,
     HasListSize},
    {kSectionSystem, "DBCHK", &SettingsModel::DbChk, Stage::Start, Saved::Never},
    {kSectionSystem, "INCSUBFOLDER", &SettingsModel::Recurse, Stage::L1},
    {kSectionSystem, "WIPESOURCE", &SettingsModel::WipeSource, Stage::L2},
    {kSectionSystem, "WIPEDECSOURCE", &SettingsModel::WipeDecSource, Stage::L2},
    {kSectionSystem, "MAINTOP", &SettingsModel::MainTop, Stage::L2},
    {kSectionSystem, "DONTCLEARPASSBOX", &SettingsModel::DontClearPassBox, Stage::L2},
    {kSectionSystem, "SAVEHINT", &SettingsModel::SaveHint, Stage::L2},
    {kSectionSystem, "REENC", &SettingsModel::ReEnc, Stage::L2},
    {kSectionSystem, "TOPWIPE", &SettingsModel::TopWipe, Stage::L2},
    {kSectionSystem, "TEXTQKBTN", &SettingsModel::TextQKBtn, Stage::L2},
    {kSectionSystem, "ADDHMAC", &SettingsModel::AddHMAC, Stage::L2},
    {kSectionSystem, "SKIPNONHMAC", &SettingsModel::SkipNonHMAC, Stage::L2},
    {kSectionSystem, "PASSHINT", &SettingsModel::PasswordHint, Stage::L2, Saved::Value, KeepsHint},
    {kSectionSystem, "PASSHASH", &SettingsModel::PassHash, Stage::L1},
    {kSectionSystem, "SECLEVEL", &SettingsModel::SecLevel, Stage::L1},
    {kSectionSystem, "PROCESSMSGINTV", &SettingsModel::ProcessMsgInterval, Stage::L1, Saved::Never},
    {kSectionSystem, "DEFAULT_EXT", &SettingsModel::DefaultExt, Stage::L2},
    {kSectionSystem, "OWN_EXT", &SettingsModel::OwnExt, Stage::L2},
    {kSectionSystem, "RANDOM_EXT", &SettingsModel::RandomExt, Stage::L2},
    {kSectionSystem, "OWN_EXT_STR", &SettingsModel::OwnExtStr, Stage::L2},
    {kSectionSystem, "ALGORITHM", &SettingsModel::Algorithm, Stage::L2},
    {kSectionSystem, "FIRSTEXEC", &SettingsModel::FirstExec, Stage::L1, Saved::False},
    {kSectionSystem, "LASTFOLDER", &SettingsModel::LastFolder, Stage::L1, Saved::Value,
     HasLastFolder},
};

const Key& KeyOf(Member member) {
  for (const Key& key : kKeys) {
    if (key.member == member) return key;
  }
  throw std::logic_error("no settings key for the member");
}

bool Get(const IniDocument& doc, const Key& key, bool def) {
  return doc.GetBool(key.section, key.name, def);
}
std::int32_t Get(const IniDocument& doc, const Key& key, std::int32_t def) {
  return doc.GetInteger(key.section, key.name, def);
}
std::string Get(const IniDocument& doc, const Key& key, const std::string& def) {
  return doc.GetString(key.section, key.name, def);
}

void Put(IniDocument& doc, const Key& key, bool value) {
  doc.SetBool(key.section, key.name, value);
}
void Put(IniDocument& doc, const Key& key, std::int32_t value) {
  doc.SetInteger(key.section, key.name, value);
}
void Put(IniDocument& doc, const Key& key, const std::string& value) {
  doc.Set(key.section, key.name, value);
}

// The keys of one stage, from one reading of the file.
void Load(const std::string& path, Stage stage, SettingsModel& m) {
  const IniDocument doc = IniDocument::Load(path);
  for (const Key& key : kKeys) {
    if (key.stage != stage) continue;
    std::visit([&](auto member) { m.*member = Get(doc, key, kDefaults.*member); }, key.member);
  }
  for (const Key& key : kKeys) {
    if (key.stage != stage || !key.applies || key.applies(m)) continue;
    std::visit([&](auto member) { m.*member = kDefaults.*member; }, key.member);
  }
}

} // namespace

std::int32_t SettingsModel::NameMode() const {
  if (DefaultExt) return kNameDefaultExt;
  if (OwnExt) return kNameOwnExt;
  if (RandomExt) return kNameRandom;
  return kNameDefaultExt;
}

bool SettingsStore::ReadDbChk() const {
  SettingsModel m;
  Load(path_, Stage::Start, m);
  return m.DbChk;
}

void SettingsStore::LoadL1(SettingsModel& m) const {
  Load(path_, Stage::L1, m);
}

void SettingsStore::LoadL2(SettingsModel& m) const {
  Load(path_, Stage::L2, m);
}

void SettingsStore::Save(const SettingsModel& m) const {
  auto doc = IniDocument::LoadForUpdate(path_);
  for (const Key& key : kKeys) {
    if (key.saved == Saved::Never || (key.applies && !key.applies(m))) continue;
    if (key.saved == Saved::False) {
      Put(doc, key, false);
    } else {
      std::visit([&](auto member) { Put(doc, key, m.*member); }, key.member);
    }
  }
  doc.Save(path_);
}

void SettingsStore::Clear() const {
  auto doc = IniDocument::LoadForUpdate(path_);
  for (const Member member :
       {Member(&SettingsModel::PassHash), Member(&SettingsModel::PasswordHint)})
    Put(doc, KeyOf(member), std::string());
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
