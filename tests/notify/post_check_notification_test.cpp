#include "notify/post_check_notification.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvrin::notify {
namespace {

struct ResultCase {
  const char* name;
  int valid, suspect, spam;
  int prevValid, prevSuspect, prevSpam;
  int list;  // the tray's picture list afterwards
  bool cycling;
  const char* counts;
};

class PostCheckResultTest : public ::testing::TestWithParam<ResultCase> {};

TEST_P(PostCheckResultTest, ShowsTheResultStateAndRemembersTheCounts) {
  const ResultCase& c = GetParam();
  CheckCounts state;
  state.TitleText = "Kelvrinate V010";
  state.ValidCount = static_cast<std::uint16_t>(c.valid);
  state.SuspectCount = static_cast<std::uint16_t>(c.suspect);
  state.SpamCount = static_cast<std::uint16_t>(c.spam);
  state.PrevValidCount = static_cast<std::uint16_t>(c.prevValid);
  state.PrevSuspectCount = static_cast<std::uint16_t>(c.prevSuspect);
  state.PrevSpamCount = static_cast<std::uint16_t>(c.prevSpam);
  TrayIconModel tray;
  mail::TMailMessageList list;
  PostCheckContext ctx{state, tray, list};
  PostCheckNotification notification;
  notification.Run(ctx);

  EXPECT_EQ(tray.IconList(), c.list);
  EXPECT_EQ(tray.CycleIcons(), c.cycling);
  EXPECT_EQ(notification.CountsText(), c.counts);
  EXPECT_EQ(tray.Hint(), c.counts) << "counts text and an empty sender list";
  EXPECT_EQ(state.PrevValidCount, c.valid);
  EXPECT_EQ(state.PrevSuspectCount, c.suspect);
  EXPECT_EQ(state.PrevSpamCount, c.spam);
  EXPECT_EQ(state.LastListedCount, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PostCheckResultTest,
    ::testing::Values(ResultCase{"NewValidMail", 2, 0, 0, 0, 0, 0, 2, true, "Valid:2"},
                      ResultCase{"SameValidCountKeepsTheStillIdlePicture", 2, 1, 0, 2, 0, 0, 0,
                                 false, "Valid:2 Suspect:1"},
                      ResultCase{"OnlySuspect", 0, 3, 0, 0, 0, 0, 3, true, " Suspect:3"},
                      ResultCase{"SuspectAndSpam", 0, 1, 4, 0, 0, 0, 4, true, " Suspect:1 Spam:4"},
                      ResultCase{"OnlySpam", 0, 0, 5, 0, 0, 2, 5, true, " Spam:5"},
                      ResultCase{"UnchangedSpamStillShowsState5", 0, 0, 5, 0, 0, 5, 5, true,
                                 " Spam:5"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kelvrin::notify
