// The Message button of the Communications tab and the quick-mail form's
// logic, each with the dialogue it runs.

#include "outgoing/flash_panel.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "app/app_fixture.h"
#include "outgoing/command_mail.h"
#include "outgoing/quick_mail.h"
#include "outgoing/send_mail.h"
#include "settings/ini_file.h"
#include "support/smtp_test_server.h"

namespace kelvrin::outgoing {
namespace {

class FlashPanelTest : public test::AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    kv->KVWForm1->setText("KVWsmtphost", "127.0.0.1");
    kv->State.SmtpConfigured = true;
    sender = std::make_unique<MailSender>(*kv);
    sender->SmtpClient1.SetClock(protocols::DefaultClock());
    panel = std::make_unique<FlashPanel>(*kv, *sender);
    kv->Favourites1->Clear();
    for (const char* entry : {"a@example.net", "b@example.net,192.0.2.1", "c@example.net"})
      kv->Favourites1->Add(entry);
  }
  void selectAll() {
    kv->Favourites1->setMultiSelect(true);
    for (int i = 0; i < kv->Favourites1->Count(); ++i)
      kv->Favourites1->setSelected(i, true);
  }
  std::unique_ptr<MailSender> sender;
  std::unique_ptr<FlashPanel> panel;
};

TEST_F(FlashPanelTest, FlashToThreeFavouritesShowsEachStepAndWhoWasReached) {
  if (!test::SmtpTestServer::Available()) GTEST_SKIP() << "needs python3-aiosmtpd";
  test::SmtpTestServer smtp(test::SmtpTestServer::Mode::Plain);
  kv->KVWForm1->setText("SmtpPort", std::to_string(smtp.Port()));
  selectAll();
  prompter.AnswerInput("see you");
  std::vector<std::string> steps;
  pump.onCall = [&](int) {
    const std::string& st = kv->dfsStatus.Status();
    const std::string step = st + " " + std::to_string(kv->dfsStatus.Gauge());
    if (st.rfind("Status: Message #", 0) == 0 && (steps.empty() || steps.back() != step)) {
      steps.push_back(step);
    }
  };
  panel->FlashButtonClick(FlashType::Flash, "", 1024, {});
  EXPECT_EQ(steps,
            (std::vector<std::string>{"Status: Message #1 of 3 33", "Status: Message #2 of 3 67",
                                      "Status: Message #3 of 3 100"}));
  EXPECT_EQ(status(), "Status: message sent to a@example.net,b@example.net,c@example.net");
  EXPECT_FALSE(kv->State.CheckInProgress);
  int flashes = 0;
  for (const std::string& e : smtp.Events())
    flashes += e.rfind("mail from=me@example.com", 0) == 0;
  EXPECT_EQ(flashes, 3);
}

TEST_F(FlashPanelTest, CancelledFlashInputSendsNothing) {
  selectAll();
  prompter.CancelInput();
  panel->FlashButtonClick(FlashType::Flash, "", 1024, {});
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_FALSE(sender->SmtpClient1.Connected());
  EXPECT_TRUE(prompter.Boxes().empty()) << "no failure box after a cancel";
}

TEST_F(FlashPanelTest, NoFavouriteSelectedIsRefusedWithABox) {
  panel->FlashButtonClick(FlashType::Greeting, "hi", 1024, {});
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text,
            "Message request failed:\rSelect destination(s) in Favourites");
}

class QuickMailTest : public FlashPanelTest {};

TEST_F(QuickMailTest, ReplySwapsTheAddressesAndKeepsTheSubject) {
  QuickMail form(*kv, *sender);
  filter::MessageNode record;
  record.From = "Pal <pal@example.net>";
  record.SendTo = "Me <me@example.com>";
  record.Subject = "Re: plans";
  const QuickMailFields f = form.Open(&record, "", false);
  EXPECT_EQ(f.From, "me@example.com");
  EXPECT_EQ(f.To, "pal@example.net");
  EXPECT_EQ(f.Subject, "Re: plans");
  EXPECT_EQ(f.Body, kBodyPlaceholder);
}

TEST_F(QuickMailTest, UnwrittenBodySendsNothingAndACancelledBodyComesBack) {
  QuickMail form(*kv, *sender);
  QuickMailFields f = form.Open(nullptr, "", false);
  EXPECT_FALSE(form.Close(true, f));
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "      Comms Error\rStatus: message NOT sent");
  EXPECT_EQ(status(), "Status: message NOT sent");
  f.Body = "half written";
  EXPECT_FALSE(form.Close(false, f));
  EXPECT_EQ(form.Open(nullptr, "quoted text", false).Body, "half written")
      << "the kept body wins over a quote";
}

TEST(AddressHistoryTest, KeepsTheFirstAndTheNineMostRecentButStoresEveryKey) {
  test::TempDir dir("kelvrin-history-");
  settings::IniFile file(dir.File("kelvrin.ini"));
  AddressHistory history(file, "ComboBox2");
  for (int i = 0; i < 11; ++i)
    history.Save("a" + std::to_string(i) + "@example.net");
  history.Save("a10@example.net");
  EXPECT_EQ(file.readSection("ComboBox2").size(), 11u) << "the same address is stored once";
  history.Save("new@example.net");
  ASSERT_EQ(history.Items().size(), 10u);
  EXPECT_EQ(history.Items().front(), "a0@example.net");
  EXPECT_EQ(history.Items()[1], "a3@example.net");
  EXPECT_EQ(history.Items().back(), "new@example.net");
  EXPECT_EQ(file.readSection("ComboBox2").size(), 12u);
  history.Reload();
  EXPECT_EQ(history.Items().size(), 12u);
}

}  // namespace
}  // namespace kelvrin::outgoing
