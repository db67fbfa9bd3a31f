#include "settings/settings_section.h"

#include <gtest/gtest.h>

#include "temp_dir.h"

namespace kelvrin::settings {
namespace {

TEST(SettingsSection, MissingKeysGiveTheirDefaults) {
  testing::TempDir dir;
  const SettingsSection settings(IniFile(dir.path() / "kelvrin.ini"));
  EXPECT_EQ(settings.KeySetA(), "");
  EXPECT_EQ(settings.KeySetB(), "");
  EXPECT_EQ(settings.EmailProg(), "");
  EXPECT_EQ(settings.Column(), 0);
  EXPECT_FALSE(settings.Comms());
  EXPECT_EQ(settings.UpdateCount(), 0);
}

TEST(SettingsSection, KeepsEightBitKeyCodesAndTheOtherKindsUnderSectionSettings) {
  testing::TempDir dir;
  const auto path = dir.path() / "kelvrin.ini";
  SettingsSection settings{IniFile(path)};
  const std::string ctrlM =
      "\xFC"
      "M";  // Ctrl down, then M
  settings.setKeySetA(ctrlM);
  settings.setKeySetB("\xFD");
  settings.setEmailProg("Mail - Inbox");
  settings.setColumn(3);
  settings.setComms(true);
  settings.setUpdateCount(12);

  EXPECT_EQ(settings.KeySetA(), ctrlM);
  EXPECT_EQ(settings.KeySetB(), "\xFD");
  EXPECT_EQ(settings.EmailProg(), "Mail - Inbox");
  EXPECT_EQ(settings.Column(), 3);
  EXPECT_TRUE(settings.Comms());
  EXPECT_EQ(settings.UpdateCount(), 12);
  EXPECT_EQ(IniFile(path).readSection("settings").size(), 6u);
}

}  // namespace
}  // namespace kelvrin::settings
