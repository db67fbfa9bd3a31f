#include "settings/wizard.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/forms.h"
#include "settings/temp_dir.h"

namespace kelvrin::settings {
namespace {

class RecordingHost : public WizardHost {
 public:
  void InfoBox(const std::string& text) override { boxes.push_back("info: " + text); }
  void StopBox(const std::string& text) override { boxes.push_back("stop: " + text); }
  bool AskYesNo(const std::string& text) override {
    boxes.push_back("ask: " + text);
    return answerYes;
  }
  void IntervalChanged(int minutes) override { intervals.push_back(minutes); }
  void ConnectionTypeApplied(int type) override { types.push_back(type); }
  void DialUpChosen() override { ++dialUpChosen; }
  void HotKeyCleared() override { ++hotKeyCleared; }
  std::string CertificateFileProblem(const std::string&) override { return certificateProblem; }

  std::vector<std::string> boxes;
  std::vector<int> intervals;
  std::vector<int> types;
  int hotKeyCleared = 0;
  int dialUpChosen = 0;
  bool answerYes = true;
  std::string certificateProblem;
};

class WizardTest : public ::testing::Test {
 protected:
  WizardTest() : file(dir.path() / "kelvrin.ini") {
    lbAllowEM.setSorted(true);
    wizard.FormCreate();
    wizard.FormShow();
  }

  // The draft made sound, as a user would leave it before Finish.
  void fillIn() {
    wizard.setText("KVWMainEmail1", "me@mail.net");
    wizard.setText("KVWEdhost", "pop3.mail.net");
    wizard.setText("KVWsmtphost", "smtp.mail.net");
  }

  testing::TempDir dir;
  std::unique_ptr<Form> fields = makeKVWForm1Form();
  filter::TEditListBox lbAllowEM;
  IniFile file;
  RecordingHost host;
  bool firstRun = false;
  TKVWForm1 wizard{*fields, lbAllowEM, file, host, [this] { return firstRun; }};
};

TEST_F(WizardTest, FirstRunLeadsPastAdvancedAndEnablesFinishOnlyOnTheLastPage) {
  firstRun = true;
  wizard.FormCreate();
  EXPECT_FALSE(wizard.finishEnabled());
  EXPECT_FALSE(wizard.backEnabled());
  std::vector<int> visited;
  while (wizard.nextEnabled()) {
    wizard.NextBtnClick();
    visited.push_back(wizard.page());
    if (wizard.page() != kPageFinish) {
      EXPECT_FALSE(wizard.finishEnabled());
    }
  }
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 6}));
  EXPECT_TRUE(wizard.finishEnabled());
  wizard.BackBtnClick();
  EXPECT_EQ(wizard.page(), kPageAdvanced);
  EXPECT_TRUE(wizard.nextEnabled());
  EXPECT_TRUE(wizard.finishEnabled()) << "once reached, Finish stays enabled";
  for (int i = 0; i < 8; ++i)
    wizard.BackBtnClick();
  EXPECT_EQ(wizard.page(), kPageAddress);
  EXPECT_FALSE(wizard.backEnabled());
}

TEST_F(WizardTest, LaterOpeningsWalkEveryPageAndOpenWhereSelectPageSays) {
  EXPECT_TRUE(wizard.finishEnabled());
  for (int i = 0; i < 6; ++i)
    wizard.NextBtnClick();
  EXPECT_EQ(wizard.page(), kPageFinish);
  wizard.SelectPage("TabSheet5");
  EXPECT_EQ(wizard.page(), kPageConnect);
  EXPECT_STREQ(kWizardPages[kPageConnect].tab, "Connect");
}

struct SmtpProposal {
  const char* pop;
  const char* smtpBefore;
  const char* smtpAfter;
};

class SmtpFromPop : public WizardTest, public ::testing::WithParamInterface<SmtpProposal> {};

TEST_P(SmtpFromPop, LeavingThePopHostProposesAnUntouchedSmtpHost) {
  const auto& row = GetParam();
  wizard.setText("KVWsmtphost", row.smtpBefore);
  wizard.setText("KVWEdhost", row.pop);
  wizard.KVWEdhostExit("KVWEdhost");
  EXPECT_EQ(wizard.draft().text("KVWsmtphost"), row.smtpAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SmtpFromPop,
    ::testing::Values(SmtpProposal{"pop3.isp.net", "smtp.example.com", "smtp.isp.net"},
                      SmtpProposal{"mail.isp.net", "smtp.example.com", "smtp.isp.net"},
                      // always exactly five characters go
                      SmtpProposal{"po.isp.net", "smtp.example.com", "smtp.p.net"},
                      SmtpProposal{"pop3.isp.net", "out.isp.net", "out.isp.net"},
                      SmtpProposal{"pop.example.com", "smtp.example.com", "smtp.example.com"},
                      // nothing after the five characters: no proposal
                      SmtpProposal{"pop3.", "smtp.example.com", "smtp.example.com"}));

TEST_F(WizardTest, ClickIntoAHostFieldClearsOnlyTheExampleText) {
  wizard.EditClick("KVWEdhost");
  EXPECT_EQ(wizard.draft().text("KVWEdhost"), "");
  wizard.setText("KVWEdhost", "pop3.isp.net");
  wizard.EditClick("KVWEdhost");
  EXPECT_EQ(wizard.draft().text("KVWEdhost"), "pop3.isp.net");
  wizard.KVWClick("MacroEdit1");
  EXPECT_EQ(wizard.draft().text("MacroEdit1"), "") << "a click records a new hot-key";
}

TEST_F(WizardTest, LeavingTheAddressFieldAllowsTheAddressOnce) {
  wizard.KVWMainEmail1Exit();
  EXPECT_EQ(host.boxes, (std::vector<std::string>{"info: Incorrect main email address"}));
  EXPECT_EQ(lbAllowEM.Count(), 0);
  wizard.KVWMainEmail1KeyUpEnter();
  EXPECT_EQ(lbAllowEM.Count(), 0) << "the example address is never allowed";

  wizard.setText("KVWMainEmail1", "Me@Mail.net");
  wizard.KVWMainEmail1Exit();
  wizard.setText("KVWMainEmail1", "me@mail.NET");
  wizard.KVWMainEmail1KeyUpEnter();
  ASSERT_EQ(lbAllowEM.Count(), 1);
  EXPECT_EQ(lbAllowEM.Items(0), "Me@Mail.net");
  EXPECT_TRUE(wizard.allowBoxVisible());
  EXPECT_FALSE(wizard.addressBold());
}

TEST_F(WizardTest, NumberFieldsKeepTheirRangeAndSteps) {
  wizard.setNumber("Interval1", -4);
  EXPECT_EQ(wizard.draft().value("Interval1"), 0);
  wizard.stepNumber("Interval1", -1);
  EXPECT_EQ(wizard.draft().value("Interval1"), 0);
  wizard.stepNumber("Interval1", +1);
  EXPECT_EQ(wizard.draft().value("Interval1"), 1);
  wizard.setNumber("IdleSecs1", 5000);
  EXPECT_EQ(wizard.draft().value("IdleSecs1"), 5000) << "no upper bound";

  wizard.stepNumber("SpinEdit2", +1);
  EXPECT_EQ(wizard.draft().value("SpinEdit2"), 60);
  wizard.setNumber("SpinEdit3", 95);
  wizard.stepNumber("SpinEdit3", +1);
  EXPECT_EQ(wizard.draft().value("SpinEdit3"), 100);
  wizard.setNumber("OnlineInt1", -10);
  EXPECT_EQ(wizard.draft().value("OnlineInt1"), 0);
}

TEST_F(WizardTest, PortsProposeTheirSecurity) {
  const struct {
    const char* field;
    const char* port;
    int security;
  } rows[] = {
      {"PopPort", "995", kSecurityImplicitTls},  {"PopPort", " 110", kSecurityNone},
      {"SmtpPort", "587", kSecurityStartTls},    {"SmtpPort", "25", kSecurityStartTls},
      {"SmtpPort", "465", kSecurityImplicitTls}, {"SmtpPort", "2525", kSecurityNone},
  };
  for (const auto& row : rows) {
    wizard.setText(row.field, row.port);
    const char* security =
        std::string_view(row.field) == "PopPort" ? "PopSecurity" : "SmtpSecurity";
    EXPECT_EQ(wizard.draft().value(security), row.security) << row.field << " " << row.port;
  }
}

TEST_F(WizardTest, ConnectionTypeShowsTheDialUpGroupAndItsIdleLabel) {
  wizard.KVWccntypeGroupClick(0);
  EXPECT_FALSE(wizard.dialUpBoxVisible());
  EXPECT_EQ(wizard.idleLabel(), kIdleLabelCable);
  wizard.KVWccntypeGroupClick(1);
  EXPECT_TRUE(wizard.dialUpBoxVisible());
  EXPECT_EQ(wizard.idleLabel(), kIdleLabelDialUp);
  EXPECT_TRUE(host.types.empty()) << "nothing takes effect before Finish";
  EXPECT_EQ(host.dialUpChosen, 1) << "only picking dial-up asks whether it can work";
}

TEST_F(WizardTest, CancelLeavesTheFieldsAndTheFileAlone) {
  fillIn();
  wizard.CancelBtnClick();
  EXPECT_EQ(fields->text("KVWEdhost"), kPlaceholderPopHost);
  EXPECT_FALSE(file.exists());
  wizard.FormShow();
  EXPECT_EQ(wizard.draft().text("KVWEdhost"), kPlaceholderPopHost);
}

TEST_F(WizardTest, FinishStoresTheDraftAndAppliesItsEffects) {
  fillIn();
  wizard.setNumber("Interval1", 0);
  wizard.KVWccntypeGroupClick(0);
  wizard.setText("MacroEdit1", "");
  ASSERT_TRUE(wizard.FinishBtnClick());
  EXPECT_EQ(fields->text("KVWEdhost"), "pop3.mail.net");
  EXPECT_EQ(fields->value("Interval1"), 0);
  EXPECT_EQ(host.intervals, (std::vector<int>{0}));
  EXPECT_EQ(host.types, (std::vector<int>{0}));
  EXPECT_EQ(host.hotKeyCleared, 1);
  EXPECT_EQ(file.readInteger(kWizardFormName, "KVWccntypeGroup", 9), 0);
  EXPECT_TRUE(file.valueExists("Settings", "KeySetA"));
}

TEST_F(WizardTest, FinishWithTheExampleAddressWritesTheTypeAndStaysOpen) {
  wizard.setNumber("Interval1", 7);
  wizard.selectTab(kPageConnect);
  EXPECT_FALSE(wizard.FinishBtnClick());
  EXPECT_EQ(host.boxes,
            (std::vector<std::string>{"stop: Incorrect main email address\rOptions, item 1 please "
                                      "enter"}));
  EXPECT_EQ(wizard.page(), kPageAddress);
  EXPECT_EQ(wizard.takeFocus(), "KVWMainEmail1");
  EXPECT_EQ(file.readInteger(kWizardFormName, "KVWccntypeGroup", 9), 1);
  EXPECT_EQ(fields->value("Interval1"), 3);
}

struct Refusal {
  const char* field;
  const char* value;
  int page;
  const char* text;
};

class FinishRefuses : public WizardTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(FinishRefuses, AnUnsoundFieldWithAClearText) {
  const auto& row = GetParam();
  fillIn();
  wizard.setText(row.field, row.value);
  EXPECT_FALSE(wizard.FinishBtnClick());
  ASSERT_EQ(host.boxes.size(), 1u);
  EXPECT_EQ(host.boxes[0], std::string("stop: ") + row.text);
  EXPECT_EQ(wizard.page(), row.page);
  EXPECT_EQ(wizard.takeFocus(), row.field);
  EXPECT_EQ(fields->text("KVWMainEmail1"), kPlaceholderMainEmail) << "nothing stored";
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FinishRefuses,
    ::testing::Values(
        Refusal{"KVWMainEmail1", "  ", kPageAddress, "Please enter your main email address"},
        Refusal{"KVWsecsmtphost", "smtp .isp.net", kPageServer,
                "A host name must not contain blanks:\r\"smtp .isp.net\""},
        Refusal{"PopPort", "0", kPageConnect, "The POP3 port must be a number from 1 to 65535"},
        Refusal{"SmtpPort", "65536", kPageConnect,
                "The SMTP port must be a number from 1 to 65535"},
        Refusal{"PopPort", "11O", kPageConnect, "The POP3 port must be a number from 1 to 65535"},
        Refusal{"CaFile", "/nonexistent/ca.pem", kPageConnect,
                "The CA file does not exist:\r/nonexistent/ca.pem"}));

TEST_F(WizardTest, ACaFileThatIsNoCertificateIsRefused) {
  fillIn();
  const auto path = (dir.path() / "ca.pem").string();
  std::ofstream(path) << "not a certificate\n";
  host.certificateProblem = "no PEM certificate in the file";
  wizard.setText("CaFile", path);
  EXPECT_FALSE(wizard.FinishBtnClick());
  EXPECT_EQ(host.boxes.back(),
            "stop: The CA file cannot be used:\r" + path + "\rno PEM certificate in the file");
  host.certificateProblem.clear();
  EXPECT_TRUE(wizard.FinishBtnClick());
  EXPECT_EQ(fields->text("CaFile"), path);
}

TEST_F(WizardTest, AServiceUnlikeThePopHostIsAskedAbout) {
  file.writeString(kWizardFormName, "KVWServiceComboBox", "Old ISP");
  fillIn();
  wizard.setServiceEntries({"Other Line", "My Mail Net"}, true);
  wizard.chooseService(false, -1);
  host.answerYes = false;
  EXPECT_FALSE(wizard.FinishBtnClick());
  EXPECT_EQ(host.boxes.back(), std::string("ask: ") + kServiceDiffers);
  EXPECT_EQ(wizard.page(), kPageConnect);
  EXPECT_EQ(wizard.takeFocus(), "KVWServiceComboBox");

  // The provider ("mail") in the chosen entry's name: no question.
  wizard.chooseService(false, 1);
  host.boxes.clear();
  EXPECT_TRUE(wizard.FinishBtnClick());
  EXPECT_TRUE(host.boxes.empty());
  EXPECT_EQ(fields->text("KVWServiceComboBox"), "My Mail Net");
  EXPECT_EQ(file.readString(kWizardFormName, "KVWServiceComboBox", ""), "My Mail Net");
}

TEST_F(WizardTest, WithoutAPhoneBookTheStoredServiceStays) {
  fields->setText("KVWServiceComboBox", "My Mail Net");
  wizard.setServiceEntries({}, false);
  wizard.FormShow();
  EXPECT_FALSE(wizard.primaryServices().enabled);
  fillIn();
  ASSERT_TRUE(wizard.FinishBtnClick());
  EXPECT_EQ(fields->text("KVWServiceComboBox"), "My Mail Net");
}

TEST_F(WizardTest, TheDialUpListsChooseTheStoredEntryElseTheFirst) {
  wizard.setServiceEntries({"Alpha", "Beta"}, true);
  wizard.FormShow();
  EXPECT_EQ(wizard.primaryServices().text(), "Alpha");
  fields->setText("KVWsecServiceComboBox", "Beta");
  fields->setText("KVWServiceComboBox", "Gone");
  wizard.FormShow();
  EXPECT_EQ(wizard.secondaryServices().text(), "Beta");
  EXPECT_EQ(wizard.primaryServices().selected, -1);
}

}  // namespace
}  // namespace kelvrin::settings
