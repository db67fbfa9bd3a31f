// The body display: its text rules, and the dialogue and buttons of
// DisplayBody.

#include "app/body_display.h"

#include <gtest/gtest.h>

#include "app/app_fixture.h"
#include "app/message_view_handlers.h"

namespace kelvrin::test {
namespace {

int countOf(const std::string& text, char c) {
  return static_cast<int>(std::count(text.begin(), text.end(), c));
}

TEST(WrapBody, BreaksAfterTheFirstBlankFollowingEachRunOfMoreThan120Characters) {
  std::string line;
  while (line.size() < 300)
    line += "abcdefghi ";  // a blank every 10th character
  const std::string wrapped = app::wrapBody(line + "\r\n");
  // Breaks after the blanks at 130 and 260; the final LF is left out.
  std::string expected = line;
  expected.insert(260, "\r");
  expected.insert(130, "\r");
  EXPECT_EQ(wrapped, expected + "\r");
}

TEST(WrapBody, ShortLinesAndLineEndsResetTheCount) {
  const std::string text = std::string(100, 'x') + "\r\n" + std::string(100, 'y') + " z\r\n";
  EXPECT_EQ(countOf(app::wrapBody(text), '\r'), 2) << "no break: each line is short";
}

TEST(WrapBody, LongLineWithoutBlanksIsNotBroken) {
  const std::string text = std::string(400, 'x') + "\r\n";
  EXPECT_EQ(app::wrapBody(text), std::string(400, 'x') + "\r");
}

TEST(DisplayText, ViewOf491PixelsShowsAtMost38Lines) {
  std::string text;
  for (int i = 0; i < 60; ++i)
    text += "line " + std::to_string(i) + "\r\n";
  const std::string shown = app::displayText(app::wrapBody(text), 491);
  EXPECT_EQ(countOf(shown, '\r'), 38);
  EXPECT_EQ(shown.substr(0, 7), "line 0\r");
  EXPECT_NE(shown.find("line 37\r"), std::string::npos);
  EXPECT_EQ(shown.find("line 38"), std::string::npos);
}

TEST(DisplayText, BlankLinesCountButAreNotShownAndLinesAreTrimmed) {
  const std::string wrapped = "  one  \r\n\r\n   \r\ntwo\r\nlast";
  EXPECT_EQ(app::displayText(wrapped, 1000), "one\rtwo\rlast");
  // Three pieces × 13 = 39 > 30: stop after the third (blank) piece.
  EXPECT_EQ(app::displayText(wrapped, 30), "one\r");
}

TEST(BodyText, JoinsLinesWithCrLfAndDropsNbsp) {
  mail::TMailMessage m;
  m.Text = {"a&nbsp;b", "&nbsp;&nbsp;c"};
  EXPECT_EQ(app::bodyText(m), "ab\r\nc\r\n");
}

TEST(ReplyQuote, LongBodyIsCutAt250WithTheTruncationLine) {
  const std::string quote = app::replyQuote(std::string(400, 'q'));
  const std::string tail = "\r-------- truncated here --------\r";
  ASSERT_EQ(quote.size(), 250 + tail.size());
  EXPECT_EQ(quote.substr(0, 36), "\r-------- Original Message --------\r");
  EXPECT_EQ(quote.substr(250), tail);
  EXPECT_EQ(app::replyQuote("hi"), "\r-------- Original Message --------\rhi");
}

class RecordingQuickReply final : public app::QuickReply {
 public:
  explicit RecordingQuickReply(std::vector<std::string>& quotes) : quotes_(quotes) {}
  void ShowDemForm(const filter::MessageNode* record, const std::string& quote,
                   bool support) override {
    EXPECT_NE(record, nullptr) << "a reply names its message";
    EXPECT_FALSE(support);
    quotes_.push_back(quote);
  }

 private:
  std::vector<std::string>& quotes_;
};

class DisplayBodyTest : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    kv->setQuickReply(std::make_unique<RecordingQuickReply>(quotes));
  }

  // A check of one valid message with an id, then the display's session.
  void checkOneMessage(const std::vector<std::string>& bodyLines,
                       const std::vector<std::string>& extraHeaders = {}) {
    auto m = ValidMessage(1, "v1");
    m.headers.insert(m.headers.end(), extraHeaders.begin(), extraHeaders.end());
    script.AddSession(CheckSession({m}, true));
    std::vector<std::string> display = Join({LoginSteps(),
                                             StatSteps({m}, true),
                                             UidlListSteps({m}),
                                             {"C: LIST 1", "S: +OK 1 300", "C: RETR 1", "S: +OK"}});
    for (const auto& h : m.headers)
      display.push_back("S: " + h);
    display.push_back("S: ");
    for (const auto& b : bodyLines)
      display.push_back("S: " + b);
    display.push_back("S: .");
    display.push_back("C: UIDL 1");
    display.push_back("S: +OK 1 v1");
    display.push_back("C: QUIT");
    script.AddSession(display);
    check();
    kv->VTree1.selectOnly(0);
  }

  std::vector<std::string> quotes;
};

TEST_F(DisplayBodyTest, EnterShowsTheBodyWithItsCaptionAndButtons) {
  checkOneMessage({"Hello there", "second line"});
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(script.Finished());
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  const auto& box = prompter.Boxes()[0];
  EXPECT_EQ(box.Caption, "Message from \"Friend 1\" <friend1@example.org>");
  EXPECT_EQ(box.Text, "Hello there\rsecond line\r");
  EXPECT_EQ(box.Buttons, (std::vector<std::string>{"&OK", "&Spam", "&Reply", "Reply&Quote"}));
  EXPECT_EQ(status(), "Status: Message retrieved");
  EXPECT_FALSE(kv->State.CheckInProgress);
  EXPECT_FALSE(kv->Pop3Client1.Connected());
  EXPECT_TRUE(static_cast<bool>(kv->Pop3Client1.OnAfterRetrieve));
  EXPECT_FALSE(static_cast<bool>(kv->Pop3Client1.OnRetrieveProgress));
}

TEST_F(DisplayBodyTest, SpamButtonMarksTheMessage) {
  checkOneMessage({"buy now"});
  prompter.Press("&Spam");
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(kv->VTree1.Row(0).Checked);
  EXPECT_TRUE(kv->Commands.Enabled("BtDelete"));
}

TEST_F(DisplayBodyTest, ReplyQuoteOpensTheQuickReplyWithTheQuote) {
  checkOneMessage({"Hello there"});
  prompter.Press("Reply&Quote");
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  ASSERT_EQ(quotes.size(), 1u);
  EXPECT_EQ(quotes[0], "\r-------- Original Message --------\rHello there\r");
}

TEST_F(DisplayBodyTest, TimerShowsNothingWhileEnterIsTheTrigger) {
  checkOneMessage({"x"});
  kv->Body().Timer1Timer();
  EXPECT_TRUE(prompter.Boxes().empty());
  kv->KVmain->setChecked("EnterDispBody1", false);
  kv->Body().Timer1Timer();
  EXPECT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_FALSE(kv->ETimer1.Enabled()) << "the display stops the delay timer";
}

TEST_F(DisplayBodyTest, TwoSelectedMessagesShowNothing) {
  auto a = ValidMessage(1, "a");
  auto b = ValidMessage(2, "b");
  script.AddSession(CheckSession({a, b}, true));
  check();
  kv->VTree1.selectOnly(0);
  kv->VTree1.setSelected(1, true);
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(prompter.Boxes().empty());
  EXPECT_EQ(script.SessionsOpened(), 1);
}

TEST_F(DisplayBodyTest, HtmlOnlyBodyShowsAnEmptyBox) {
  checkOneMessage({"<html><body>hi</body></html>"},
                  {"MIME-Version: 1.0", "Content-Type: text/html; charset=us-ascii"});
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(script.Finished());
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "");
}

// Cancel during the download: session_ownership_test.cpp (BodyCancelTest).

TEST_F(DisplayBodyTest, HeldSessionOfAServerWithoutIdsIsUsedAsItIs) {
  auto s1 = SpamMessage(1);
  auto v2 = ValidMessage(2);
  std::vector<std::string> steps =
      Join({CheckSession({s1, v2}, false), {"C: LIST 2", "S: +OK 2 300", "C: RETR 2", "S: +OK"}});
  for (const auto& h : v2.headers)
    steps.push_back("S: " + h);
  steps.insert(steps.end(), {"S: ", "S: body of two", "S: ."});
  script.AddSession(steps);
  check();
  // Row 1 shows message index 1 (the valid one, level 0).
  ASSERT_EQ(kv->VTree1.Row(1).Node.MsgIndex, 1);
  kv->VTree1.selectOnly(1);
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(script.Finished());
  ASSERT_EQ(prompter.Boxes().size(), 1u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "body of two\r");
  EXPECT_TRUE(kv->Pop3Client1.Connected()) << "kept for the deletion";
}

class DisplayBodyMailboxTest : public AppFixture {
 protected:
  DisplayBodyMailboxTest() : AppFixture(/*useMailbox=*/true) {}
};

// The display's session gives no id list (UIDL refused this time): no
// number can be trusted, so nothing is fetched.
TEST_F(DisplayBodyMailboxTest, NoIdListInTheDisplaysSessionShowsNothing) {
  mailbox.mailbox = MixedMailbox(3);  // v1 v2 s3
  check();
  ASSERT_TRUE(kv->State.UIDLCapable);
  mailbox.withUidl = false;
  kv->VTree1.selectOnly(0);
  ASSERT_EQ(kv->VTree1.Row(0).Node.UIDL, "s3");
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(prompter.Boxes().empty());
  EXPECT_EQ(status(), "Status: No message ids from the server");
  for (const auto& line : mailbox.Log())
    EXPECT_NE(line.rfind("RETR", 0), 0u) << line;
  EXPECT_FALSE(kv->Pop3Client1.Connected());
  EXPECT_FALSE(kv->State.CheckInProgress);
}

TEST_F(DisplayBodyTest, EnterWhileACheckRunsDoesNothing) {
  checkOneMessage({"x"});
  kv->State.CheckInProgress = true;
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Enter);
  EXPECT_TRUE(prompter.Boxes().empty());
  kv->State.CheckInProgress = false;
}

TEST_F(DisplayBodyTest, ClickShowsTheLevelPartsAndOtherKeysStopTheDelay) {
  checkOneMessage({"x"});
  kv->Body().VTree1Click();
  EXPECT_EQ(kv->dfsStatus.Panel(2), "To:0 Badds:0 Bsubj:0");
  EXPECT_TRUE(kv->ETimer1.Enabled());
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Other);
  EXPECT_FALSE(kv->ETimer1.Enabled());
  kv->Body().VTree1KeyDown(app::BodyDisplay::Key::Down);
  EXPECT_TRUE(kv->ETimer1.Enabled());
  kv->Body().VTree1Scroll();
  EXPECT_FALSE(kv->ETimer1.Enabled());
}

}  // namespace
}  // namespace kelvrin::test
