// The post-check notification as the desktop sees it: what the tray shows,
// which sound plays, whether a balloon comes and what it lists, and whether
// the window is thrown in front of the user.

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "notify/post_check_notification.h"

namespace kelvrin::notify {
namespace {

class FakeNotificationHost final : public NotificationHost {
 public:
  bool option(std::string_view name) override {
    const auto found = options.find(std::string(name));
    return found != options.end() && found->second;
  }
  bool windowHidden() override { return hidden; }
  void showWindowOnServerTab() override {
    actions.push_back("show window");
    hidden = false;
  }
  SoundPlayer& sounds() override { return player; }
  bool FlashPending() override { return flash; }
  void setFlashPending(bool pending) override { flash = pending; }
  void StartFlashReply() override { actions.push_back("flash reply"); }
  void SendReceive() override { actions.push_back("send/receive"); }
  void DeleteAll() override { actions.push_back("delete all"); }
  void ClearCheckRequested() override { requested = false; }

  // The options as a new settings file has them.
  std::map<std::string, bool> options{{"SndEnable1", true},         {"SndVoiceEnable1", false},
                                      {"Invasive1", false},         {"EmailBalloon1", true},
                                      {"TrayBalloonNotify1", true}, {"AllowCtrlDel", true}};
  bool hidden = true;
  bool flash = false;
  bool requested = true;
  RecordingSoundPlayer player;
  std::vector<std::string> actions;
};

class NotificationFixture : public ::testing::Test {
 protected:
  void addMessage(const std::string& from, const std::string& subject) {
    auto& m = owner.CreateMessage();
    m.SetFrom(from);
    m.Subject = subject;
    list.Add(m);
  }
  void addSenders(int n) {
    for (int i = 1; i <= n; ++i) {
      addMessage("Sender " + std::to_string(i) + " <s" + std::to_string(i) + "@example.org>",
                 "Subject " + std::to_string(i));
    }
  }
  void setCounts(int v, int s, int sp) {
    state.ValidCount = static_cast<std::uint16_t>(v);
    state.SuspectCount = static_cast<std::uint16_t>(s);
    state.SpamCount = static_cast<std::uint16_t>(sp);
  }
  void run() {
    PostCheckContext ctx{state, tray, list};
    notification.Run(ctx);
  }
  std::string balloonText() const { return tray.LastBalloon() ? tray.LastBalloon()->Text : ""; }

  FakeNotificationHost host;
  CheckCounts state;
  TrayIconModel tray;
  mail::MessageOwner owner;
  mail::TMailMessageList list;
  PostCheckNotification notification{host};
};

struct AnnounceCase {
  const char* name;
  int valid, suspect, spam;
  int prevValid, prevSuspect, prevSpam;
  bool hidden, invasive, voice;
  int list;                    // the picture list the tray shows
  std::optional<Sound> sound;  // the one sound played, if any
  const char* balloon;         // the balloon text, "" for none
  bool windowShown;
};

class AnnounceTest : public NotificationFixture,
                     public ::testing::WithParamInterface<AnnounceCase> {};

TEST_P(AnnounceTest, TraySoundBalloonAndWindow) {
  const auto& c = GetParam();
  host.hidden = c.hidden;
  host.options["Invasive1"] = c.invasive;
  host.options["SndVoiceEnable1"] = c.voice;
  addMessage("Ann <a@example.org>", "Lunch?");
  addMessage("b@example.net", "Minutes");
  setCounts(c.valid, c.suspect, c.spam);
  state.PrevValidCount = static_cast<std::uint16_t>(c.prevValid);
  state.PrevSuspectCount = static_cast<std::uint16_t>(c.prevSuspect);
  state.PrevSpamCount = static_cast<std::uint16_t>(c.prevSpam);
  run();

  EXPECT_EQ(tray.IconList(), c.list);
  std::vector<Sound> expected;
  if (c.sound) expected.push_back(*c.sound);
  EXPECT_EQ(host.player.played, expected);
  EXPECT_EQ(tray.BalloonShowCount(), *c.balloon ? 1 : 0);
  EXPECT_EQ(balloonText(), c.balloon);
  if (*c.balloon) {
    EXPECT_EQ(tray.LastBalloon()->Title, "Kelvrin: Click=View, Click+[Ctrl]=Delete all");
    EXPECT_EQ(tray.LastBalloon()->IconKind, BalloonIcon::Info);
    EXPECT_EQ(tray.LastBalloon()->TimeoutSecs, 20);
    EXPECT_EQ(tray.Hint(), c.balloon) << "the hint lists the same senders";
  }
  EXPECT_EQ(host.actions,
            c.windowShown ? std::vector<std::string>{"show window"} : std::vector<std::string>{});
}

constexpr const char* kTwoSenders = "\ra@example.org=Lunch?\rb@example.net=Minutes";

INSTANTIATE_TEST_SUITE_P(
    Table, AnnounceTest,
    ::testing::Values(AnnounceCase{"NewValidChimes", 2, 0, 0, 0, 0, 0, true, false, false,
                                   kTrayNewMail, Sound::WaveNewEM1,
                                   "Valid:2\ra@example.org=Lunch?\rb@example.net=Minutes", false},
                      AnnounceCase{"NewValidVoice", 2, 0, 0, 1, 0, 0, true, false, true,
                                   kTrayNewMail, Sound::VoiceMail1,
                                   "Valid:2\ra@example.org=Lunch?\rb@example.net=Minutes", false},
                      AnnounceCase{"InvasiveShowsTheWindowInstead", 2, 0, 0, 0, 0, 0, true, true,
                                   false, kTrayNewMail, std::nullopt, "", true},
                      AnnounceCase{"VisibleWindowNoSoundNoBalloon", 2, 0, 0, 0, 0, 0, false, true,
                                   false, kTrayNewMail, std::nullopt, "", false},
                      AnnounceCase{"SameValidCountStaysStill", 2, 1, 0, 2, 0, 0, true, false, false,
                                   kTrayIdle, std::nullopt,
                                   "Valid:2 Suspect:1\ra@example.org=Lunch?\rb@example.net=Minutes",
                                   false},
                      AnnounceCase{"OnlySpamChangedMixedSound", 0, 0, 5, 0, 0, 2, true, false,
                                   false, kTraySpamOnly, Sound::WaveMixedEM1, "", false},
                      AnnounceCase{"SpamUnchangedSilent", 0, 0, 5, 0, 0, 5, true, false, false,
                                   kTraySpamOnly, std::nullopt, "", false},
                      AnnounceCase{"OnlySuspect", 0, 3, 0, 0, 0, 0, true, false, false,
                                   kTraySuspect, Sound::WaveMixedEM1, "", false},
                      AnnounceCase{"SuspectAndSpamVisibleSilent", 0, 1, 4, 0, 0, 0, false, false,
                                   false, kTraySuspectAndSpam, std::nullopt, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NotificationFixture, SameSendersNextCheckAnnounceNothing) {
  addMessage("Ann <a@example.org>", "Lunch?");
  addMessage("b@example.net", "Minutes");
  setCounts(2, 0, 0);
  run();
  ASSERT_EQ(tray.BalloonShowCount(), 1);
  const std::string hint = tray.Hint();
  EXPECT_EQ(notification.LastBalloonList(), kTwoSenders);

  setCounts(2, 0, 0);
  run();
  EXPECT_EQ(host.player.played.size(), 1u) << "no second sound";
  EXPECT_EQ(tray.BalloonShowCount(), 1) << "no balloon for the same list";
  EXPECT_EQ(tray.IconList(), kTrayIdle);
  EXPECT_EQ(tray.Hint(), hint);
}

TEST_F(NotificationFixture, SevenMessagesListSendersWithoutSubjects) {
  addSenders(7);
  setCounts(7, 0, 0);
  run();
  std::string expected = "Valid:7";
  for (int i = 1; i <= 7; ++i)
    expected += "\rs" + std::to_string(i) + "@example.org";
  EXPECT_EQ(balloonText(), expected);
}

TEST_F(NotificationFixture, ElevenMessagesShowNoBalloonAndKeepTheEarlierList) {
  addSenders(2);
  setCounts(2, 0, 0);
  run();
  const std::string kept = notification.BalloonList();
  addSenders(9);
  setCounts(11, 0, 0);
  run();
  EXPECT_EQ(tray.BalloonShowCount(), 1);
  EXPECT_EQ(notification.BalloonList(), kept);
  EXPECT_EQ(tray.Hint(), "Valid:11" + kept);
}

TEST_F(NotificationFixture, LongListIsCutWithMoreAndTheHintGetsShort) {
  state.TitleText = "Kelvrinate V010";
  for (int i = 0; i < 10; ++i) {
    addMessage("someone.with.a.long.name" + std::to_string(i) + "@example.org", "x");
  }
  setCounts(10, 0, 0);
  run();
  const std::string& sent = notification.BalloonList();
  EXPECT_EQ(sent.substr(sent.size() - 9), "\rmore....");
  EXPECT_LE(sent.size(), kBalloonListCut + 40 + 9) << "stops at the first line past the cut";
  EXPECT_GT(sent.size() - 9, kBalloonListCut);
  EXPECT_EQ(tray.Hint(), "Kelvrinate V010\rValid:10");
}

TEST_F(NotificationFixture, SubjectFillsTheLineWithoutSplittingACharacter) {
  const std::string address = "abcdefghij@example.org";  // 22 characters
  std::string subject;
  for (int i = 0; i < 40; ++i)
    subject += "\xC3\xA9";  // é, two bytes each
  addMessage(address, subject);
  addMessage("", "hello");
  setCounts(1, 0, 0);
  run();
  std::string expected = "\r" + address + "=";
  for (int i = 0; i < 28; ++i)
    expected += "\xC3\xA9";
  expected += "\rInvalidAdds";
  EXPECT_EQ(notification.BalloonList(), expected);
}

TEST_F(NotificationFixture, FlashPendingShowsTheFlashBalloonAgain) {
  tray.ShowBalloon("Flash", "from a friend", BalloonIcon::Info, 20);
  host.flash = true;
  addSenders(1);
  setCounts(1, 0, 0);
  run();
  EXPECT_EQ(tray.BalloonShowCount(), 2);
  EXPECT_EQ(tray.LastBalloon()->Title, "Flash");
  EXPECT_EQ(notification.LastBalloonList(), "");
}

TEST_F(NotificationFixture, NoBalloonWithoutTheOptions) {
  host.options["TrayBalloonNotify1"] = false;
  addSenders(1);
  setCounts(1, 0, 0);
  run();
  EXPECT_EQ(tray.BalloonShowCount(), 0);
  EXPECT_EQ(tray.Hint(), "Valid:1\rs1@example.org=Subject 1") << "the list still feeds the hint";
  host.options["AllowCtrlDel"] = false;
  host.options["TrayBalloonNotify1"] = true;
  setCounts(2, 0, 0);
  addSenders(1);
  run();
  EXPECT_EQ(tray.LastBalloon()->Title, "Kelvrin: Click=View");
}

struct ClickCase {
  const char* name;
  bool allowCtrlDel, shift, ctrl, flash;
  int valid;
  std::vector<std::string> actions;
  bool requestCleared;
};

class BalloonClickTest : public NotificationFixture,
                         public ::testing::WithParamInterface<ClickCase> {};

TEST_P(BalloonClickTest, RunsTheShortcutOrShowsTheWindow) {
  const auto& c = GetParam();
  host.options["AllowCtrlDel"] = c.allowCtrlDel;
  host.flash = c.flash;
  setCounts(c.valid, 0, 0);
  notification.TrayIcon1BalloonHintClick(state, c.shift, c.ctrl);
  EXPECT_EQ(host.actions, c.actions);
  EXPECT_EQ(!host.requested, c.requestCleared);
  if (c.flash && c.actions == std::vector<std::string>{"flash reply"}) {
    EXPECT_FALSE(host.flash) << "a flash is answered once";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, BalloonClickTest,
    ::testing::Values(
        ClickCase{"PlainClickShowsTheWindow", true, false, false, false, 1, {"show window"}, false},
        ClickCase{
            "ShiftWithOneValidSendsReceives", true, true, false, false, 1, {"send/receive"}, true},
        ClickCase{
            "ShiftWithTwoValidShowsTheWindow", true, true, false, false, 2, {"show window"}, false},
        ClickCase{"CtrlDeletesAll", true, false, true, false, 3, {"delete all"}, true},
        ClickCase{
            "ShiftCtrlBoth", true, true, true, false, 1, {"send/receive", "delete all"}, true},
        ClickCase{"ShortcutsNeedTheOption", false, false, true, false, 1, {"show window"}, false},
        ClickCase{"FlashPendingReplies", true, false, false, true, 1, {"flash reply"}, false}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::notify
