#include "settings/ini_val.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "settings/forms.h"
#include "settings/ini_file.h"
#include "settings/settings_error.h"

#include "temp_dir.h"

namespace kelvrin::settings {
namespace {

using testing::TempDir;

struct NameCase {
  const char* given;
  const char* effective;
};

class EffectiveIniFileName : public ::testing::TestWithParam<NameCase> {};

TEST_P(EffectiveIniFileName, AppendsIniOnlyWithoutAnyDotAndKeepsTheCase) {
  EXPECT_EQ(effectiveIniFileName(GetParam().given), GetParam().effective);
}

INSTANTIATE_TEST_SUITE_P(Names, EffectiveIniFileName,
                         ::testing::Values(NameCase{"kelvrin", "kelvrin.INI"},
                                           NameCase{"/my.dir/kelvrin", "/my.dir/kelvrin"},
                                           NameCase{"  /home/sam/kelvrin.ini \t",
                                                    "/home/sam/kelvrin.ini"},
                                           NameCase{"/home/Sam/Kelvrin", "/home/Sam/Kelvrin.INI"},
                                           NameCase{"", ".INI"}));

class TIniValTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string fileName_ = (dir_.path() / "kelvrin.ini").string();
};

TEST_F(TIniValTest, LoadAllLeavesAPropertyUnchangedWhenItsKeyIsMissing) {
  std::ofstream(fileName_) << "[KVmain]\nSndEnable1=0\nHints1=2\nFlashGreetEdit=  hello  \n";
  auto form = makeKVmainForm();
  form->setChecked("CloseToTray1", true);  // changed before the load: no key, stays
  TIniVal iniVal(*form);
  iniVal.IniFileName = fileName_;
  iniVal.LoadAll();

  EXPECT_FALSE(form->checked("SndEnable1"));
  EXPECT_TRUE(form->checked("Hints1")) << "\"2\" reads as checked";
  EXPECT_EQ(form->text("FlashGreetEdit"), "hello");
  EXPECT_TRUE(form->checked("CloseToTray1"));
  EXPECT_TRUE(form->checked("MinCheck1"));
}

TEST_F(TIniValTest, LoadAllKeepsTheCurrentValueWhenANumberDoesNotParse) {
  std::ofstream(fileName_) << "[KVWForm1]\nInterval1=ten\nSpinEdit2=70\nHangup1=maybe\n";
  auto form = makeKVWForm1Form();
  TIniVal iniVal(*form);
  iniVal.IniFileName = fileName_;
  iniVal.LoadAll();
  EXPECT_EQ(form->value("Interval1"), 3);
  EXPECT_EQ(form->value("SpinEdit2"), 70);
  EXPECT_TRUE(form->checked("Hangup1"));
}

TEST_F(TIniValTest, LoadAllOfAMissingFileChangesNothing) {
  auto form = makeKVWForm1Form();
  form->setText("KVWEdhost", "pop.kelvrin.example");
  TIniVal iniVal(*form);
  iniVal.IniFileName = fileName_;
  iniVal.LoadAll();
  EXPECT_EQ(form->text("KVWEdhost"), "pop.kelvrin.example");
}

// Sets every stored property of a form to a value that differs from its design.
void changeEverything(Form& form) {
  int n = 0;
  for (const FormProperty& p : form.properties()) {
    ++n;
    switch (p.kind) {
      case PropertyKind::Checked:
        form.setChecked(p.name, !std::get<bool>(p.design));
        break;
      case PropertyKind::IntValue:
        form.setValue(p.name, std::get<int>(p.design) + n);
        break;
      case PropertyKind::Text:
        form.setText(p.name, "text " + std::to_string(n) + " \"q\" of " + p.name);
        break;
      case PropertyKind::StringValue:
        form.setStringValue(p.name, "value " + std::to_string(n));
        break;
    }
  }
}

class FormRoundTrip : public TIniValTest,
                      public ::testing::WithParamInterface<std::unique_ptr<Form> (*)()> {};

TEST_P(FormRoundTrip, SaveAllThenLoadAllRestoresEveryStoredProperty) {
  auto saved = GetParam()();
  changeEverything(*saved);
  TIniVal saver(*saved);
  saver.IniFileName = fileName_;
  saver.SaveAll();

  auto loaded = GetParam()();
  TIniVal loader(*loaded);
  loader.IniFileName = fileName_;
  loader.LoadAll();

  ASSERT_EQ(saved->properties().size(), loaded->properties().size());
  for (std::size_t i = 0; i < saved->properties().size(); ++i) {
    const FormProperty& s = saved->properties()[i];
    const FormProperty& l = loaded->properties()[i];
    if (s.stored) {
      EXPECT_EQ(l.current, s.current) << s.name;
    } else {
      EXPECT_EQ(l.current, l.design) << s.name << " is written only explicitly";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(BothForms, FormRoundTrip,
                         ::testing::Values(&makeKVmainForm, &makeKVWForm1Form));

TEST_F(TIniValTest, SaveAllWritesTheKindsInCreationOrder) {
  auto form = makeKVWForm1Form();
  TIniVal iniVal(*form);
  iniVal.IniFileName = fileName_;
  iniVal.SaveAll();
  const IniFile file(fileName_);
  const std::vector<std::string> keys = file.readSection("KVWForm1");
  ASSERT_GE(keys.size(), 3u);
  EXPECT_EQ(keys[0], "KVWMainEmail1");
  EXPECT_EQ(keys[1], "EmailProg1");
  EXPECT_EQ(std::count(keys.begin(), keys.end(), "KVWccntypeGroup"), 0);
  const IniDocument doc = file.load();
  EXPECT_EQ(doc.value("KVWForm1", "Hangup1"), "1");
  EXPECT_EQ(doc.value("KVWForm1", "SpinEdit3"), "50");
  EXPECT_EQ(doc.value("KVWForm1", "SmtpPort"), "25");
  EXPECT_EQ(doc.value("KVWForm1", "KVWedPassword"), "xxxxxxxxx");
}

TEST_F(TIniValTest, LoadedNamesTheFileAfterTheComponentWhenNoneIsGiven) {
  auto form = makeKVmainForm();
  TIniVal iniVal(*form);
  iniVal.Loaded("/home/sam/kelvrin/");
  EXPECT_EQ(iniVal.IniFileName, "/home/sam/kelvrin/IniVal1");
  EXPECT_EQ(iniVal.effectiveFileName(), "/home/sam/kelvrin/IniVal1.INI");
  EXPECT_TRUE(iniVal.hooked());

  TIniVal named(*form);
  named.IniFileName = "/etc/kelvrin.ini";
  named.Loaded("/home/sam/kelvrin/");
  EXPECT_EQ(named.IniFileName, "/etc/kelvrin.ini");
}

TEST_F(TIniValTest, HooksRunTheOwnerHandlersAroundLoadAndSave) {
  std::ofstream(fileName_) << "[KVmain]\nSndEnable1=0\n";
  auto form = makeKVmainForm();
  TIniVal iniVal(*form);
  std::vector<std::string> calls;
  iniVal.SavedOnCreate = [&] {
    calls.push_back("create, sound " + std::to_string(form->checked("SndEnable1")));
  };
  iniVal.SavedOnDestroy = [&] { calls.push_back("destroy"); };
  iniVal.IniFileName = fileName_;
  iniVal.Loaded("/unused/");

  iniVal.ownerCreated();
  EXPECT_FALSE(form->checked("SndEnable1")) << "LoadAll runs after the creation handler";
  form->setChecked("Hints1", false);
  iniVal.ownerDestroyed();

  EXPECT_EQ(calls, (std::vector<std::string>{"create, sound 1", "destroy"}));
  EXPECT_FALSE(IniFile(fileName_).readBool("KVmain", "Hints1", true));
}

TEST_F(TIniValTest, ClearingAutomaticAfterCreationStopsTheSaveAtDestruction) {
  auto form = makeKVmainForm();
  TIniVal iniVal(*form);
  bool destroyed = false;
  iniVal.SavedOnDestroy = [&] { destroyed = true; };
  iniVal.IniFileName = fileName_;
  iniVal.Loaded("/unused/");
  iniVal.ownerCreated();
  iniVal.Automatic = false;  // the first-run wizard was cancelled
  iniVal.ownerDestroyed();
  EXPECT_TRUE(destroyed);
  EXPECT_FALSE(IniFile(fileName_).exists());
}

TEST_F(TIniValTest, NotAutomaticWhenLoadedMeansNoHooks) {
  std::ofstream(fileName_) << "[KVmain]\nSndEnable1=0\n";
  auto form = makeKVmainForm();
  TIniVal iniVal(*form);
  iniVal.Automatic = false;
  iniVal.IniFileName = fileName_;
  iniVal.Loaded("/unused/");
  iniVal.Automatic = true;
  iniVal.ownerCreated();
  EXPECT_FALSE(iniVal.hooked());
  EXPECT_TRUE(form->checked("SndEnable1"));
}

TEST_F(TIniValTest, AFailedSaveStillRunsTheOwnersDestructionHandler) {
  auto form = makeKVmainForm();
  TIniVal iniVal(*form);
  bool destroyed = false;
  iniVal.SavedOnDestroy = [&] { destroyed = true; };
  std::filesystem::create_directory(dir_.path() / "kelvrin.ini");  // cannot be replaced by a file
  iniVal.IniFileName = fileName_;
  iniVal.Loaded("/unused/");
  EXPECT_THROW(iniVal.ownerDestroyed(), SettingsError);
  EXPECT_TRUE(destroyed);
}

}  // namespace
}  // namespace kelvrin::settings
