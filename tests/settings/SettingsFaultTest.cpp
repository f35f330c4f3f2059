// A save that fails at any file operation leaves the old settings file whole; one that succeeds
// leaves the new one. Never a mix, never a stray temporary file.
#include "platform/File.h"
#include "settings/IniUnit.h"
#include "settings/Settings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <iostream>

namespace qk::test {
namespace {

TEST(SettingsFaults, SaveIsOldOrNew) {
  int points = 0;
  for (int n = 1; n < 100; ++n) {
    TempDir dir;
    const std::string ini = dir / "QK.ini";
    const std::string old = "; kept by hand\n[SYSTEM]\nSECLEVEL=3\nPROCESSMSGINTV=7\n";
    WriteAll(ini, old);
    settings::SettingsModel model;
    model.SecLevel = 4;
    model.PassHash = "0123ABCD";
    int calls = 0;
    bool fired = false;
    platform::FileOperation firedAt = platform::FileOperation::Open;
    platform::SetFaultHook([&](platform::FileOperation op, const std::string&) {
      if (++calls != n) return 0;
      fired = true;
      firedAt = op;
      return n % 2 ? ENOSPC : EIO;
    });
    bool failed = false;
    try {
      settings::SettingsStore(ini).Save(model);
    } catch (const settings::SettingsWriteError& e) {
      failed = true;
      EXPECT_EQ(std::string(e.what()), ini + " に書き込めません");
    }
    platform::SetFaultHook(nullptr);
    if (!fired) break;
    ++points;
    const std::string now = ReadAll(ini);
    // A folder flush that fails comes after the rename: the new file is in place, but it may not
    // survive a power cut, and the save says so.
    if (failed && firedAt != platform::FileOperation::FolderSync) {
      EXPECT_EQ(now, old) << "fault " << n;
    } else {
      settings::SettingsModel back;
      settings::SettingsStore(ini).LoadL1(back);
      EXPECT_EQ(back.SecLevel, 4);
      EXPECT_EQ(back.PassHash, "0123ABCD");
    }
    std::size_t entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
      (void)e;
      ++entries;
    }
    EXPECT_EQ(entries, 1u) << "a temporary file was left at fault " << n;
  }
  std::cout << "fault points injected: " << points << "\n";
  EXPECT_GE(points, 4);
}

} // namespace
} // namespace qk::test
