#include "settings/forms.h"

#include <gtest/gtest.h>

#include <set>

#include "settings/settings_error.h"

namespace kelvrin::settings {
namespace {

TEST(KVmainForm, HoldsTheOptionsWithTheirDesignValuesAndCaptions) {
  const auto form = makeKVmainForm();
  EXPECT_EQ(form->name(), "KVmain");
  EXPECT_TRUE(form->checked("MinCheck1"));
  EXPECT_FALSE(form->checked("WinStart1"));
  EXPECT_TRUE(form->checked("ExtraAdds1"));
  EXPECT_FALSE(form->checked("NonInterDel1"));
  EXPECT_TRUE(form->checked("Paccount"));
  EXPECT_FALSE(form->checked("SecAccount"));
  EXPECT_EQ(form->caption("WarnDelNoSpam1"), "Warn Delete && NoSpam");
  EXPECT_EQ(form->caption("AutoSR"), "Automatic (email) Send/Receive ");
  EXPECT_EQ(form->text("FlashGreetEdit"),
            "Flash Greeting (saved for future use) type here...............up to 160 characters");
}

TEST(KVmainForm, StoresTheCommandsAsUncheckedAfterTheOptions) {
  const auto form = makeKVmainForm();
  std::size_t lastOption = 0;
  std::size_t firstCommand = form->properties().size();
  for (std::size_t i = 0; i < form->properties().size(); ++i) {
    const std::string& name = form->properties()[i].name;
    if (name == "DisableCheckWhenIdle1") lastOption = i;
    if (name == "btOpen") firstCommand = i;
  }
  EXPECT_LT(lastOption, firstCommand);
  for (const char* command :
       {"btOpen", "BtCancel", "BtDelete", "btDelall1", "CheckNow1", "SendRcv", "MarkAll1",
        "DeleteAll1", "DeleteSpam1", "SendReceive1", "General1", "Disconnect1"}) {
    const FormProperty& p = form->property(command);
    EXPECT_EQ(p.kind, PropertyKind::Checked) << command;
    EXPECT_EQ(p.design, PropertyValue(false)) << command;
    EXPECT_TRUE(p.stored) << command;
  }
}

TEST(KVWForm1Form, HoldsTheWizardFieldsWithPlaceholdersAndDefaults) {
  const auto form = makeKVWForm1Form();
  EXPECT_EQ(form->name(), "KVWForm1");
  EXPECT_EQ(form->text("KVWMainEmail1"), kPlaceholderMainEmail);
  EXPECT_EQ(form->text("KVWEdhost"), "pop.example.com");
  EXPECT_EQ(form->text("KVWsmtphost"), "smtp.example.com");
  EXPECT_EQ(form->text("KVWedUser"), "YourUserName");
  EXPECT_EQ(form->text("KVWedPassword"), "xxxxxxxxx");
  EXPECT_EQ(form->text("PopPort"), " 110");
  EXPECT_EQ(form->text("SmtpPort"), " 25 ");
  EXPECT_EQ(form->value("Interval1"), 3);
  EXPECT_EQ(form->value("IdleSecs1"), 60);
  EXPECT_EQ(form->value("SpinEdit2"), 50);
  EXPECT_EQ(form->value("SpinEdit3"), 50);
  EXPECT_FALSE(form->checked("SpamOnSubject"));
  EXPECT_TRUE(form->checked("PossSpamSubj"));
  EXPECT_EQ(form->value("PopSecurity"), kSecurityNone);
  EXPECT_EQ(form->value("SmtpSecurity"), kSecurityNone);
  EXPECT_EQ(form->text("CaFile"), "");
  EXPECT_EQ(form->value("KVWccntypeGroup"), 1);
  EXPECT_FALSE(form->property("KVWccntypeGroup").stored);
}

TEST(DefaultSecurityForPort, ImplicitTlsOnlyForTheTlsPorts) {
  EXPECT_EQ(defaultSecurityForPort(995), kSecurityImplicitTls);
  EXPECT_EQ(defaultSecurityForPort(465), kSecurityImplicitTls);
  EXPECT_EQ(defaultSecurityForPort(110), kSecurityNone);
  EXPECT_EQ(defaultSecurityForPort(587), kSecurityNone);
  EXPECT_EQ(defaultSecurityForPort(" 995 "), kSecurityImplicitTls);
  EXPECT_EQ(defaultSecurityForPort(" 110"), kSecurityNone);
  EXPECT_EQ(defaultSecurityForPort("pop"), kSecurityNone);
}

TEST(Form, NamesAreUniqueWithoutRegardToCaseAndKindsAreChecked) {
  Form form("F");
  form.addChecked("Option1", true);
  form.addValue("Count", 3);
  EXPECT_THROW(form.addText("OPTION1", "x"), SettingsError);
  EXPECT_TRUE(form.checked("option1"));
  EXPECT_THROW(form.text("Option1"), SettingsError);
  EXPECT_THROW(form.setCurrent("Count", PropertyValue(std::string("3"))), SettingsError);
  EXPECT_THROW(form.checked("Missing"), SettingsError);
}

TEST(Form, ObserversHearOfRealChangesOnly) {
  Form form("F");
  form.addChecked("Option1", false);
  form.addText("Field", "a");
  std::vector<std::string> heard;
  form.addObserver([&](const FormProperty& p) { heard.push_back(p.name); });
  form.setChecked("Option1", false);
  form.toggle("Option1");
  form.setText("Field", "a");
  form.setText("Field", "b");
  form.resetToDesign();
  EXPECT_EQ(heard, (std::vector<std::string>{"Option1", "Field", "Option1", "Field"}));
  EXPECT_FALSE(form.checked("Option1"));
  EXPECT_EQ(form.text("Field"), "a");
}

}  // namespace
}  // namespace kelvrin::settings
