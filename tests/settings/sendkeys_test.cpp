#include "settings/sendkeys.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace kelvrin::settings {
namespace {

using Kind = KeyStep::Kind;

// Records what the logic asks of the platform, one line per call.
class RecordingKeySender : public KeySender {
 public:
  std::vector<std::string> log;
  std::optional<std::string> reason;
  std::string knownTitle = "Mail - Inbox";

  std::optional<std::string> unavailableReason() override { return reason; }
  WindowHandle GetHandleFromWindowTitle(std::string_view title) override {
    log.push_back("find " + std::string(title));
    return title == knownTitle ? 7 : 0;
  }
  void MakeWindowActive(WindowHandle w) override { log.push_back("activate " + std::to_string(w)); }
  void SendKeys(std::string_view codes) override { log.push_back("keys " + hex(codes)); }

  static std::string hex(std::string_view s) {
    std::string out;
    for (const char c : s)
      out += std::to_string(static_cast<unsigned char>(c)) + ",";
    return out;
  }
};

struct DecodeCase {
  const char* name;
  std::string codes;
  std::vector<KeyStep> steps;
};

class DecodeKeyCodes : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeKeyCodes, GivesTheStepsOfEachCode) {
  EXPECT_EQ(decodeKeyCodes(GetParam().codes), GetParam().steps);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, DecodeKeyCodes,
    ::testing::Values(
        DecodeCase{"CtrlThenM",
                   "\xFCM\xFD",
                   {{Kind::ModifierDown, kVkControl, false},
                    {Kind::Character, 'M', true},
                    {Kind::ModifierUp, kVkControl, false}}},
        DecodeCase{"LetterAloneIsNotUnderAModifier", "M", {{Kind::Character, 'M', false}}},
        DecodeCase{"ReleaseEndsTheHeldModifier",
                   "\xFE\xFF"
                   "a",
                   {{Kind::ModifierDown, kVkMenu, false},
                    {Kind::ModifierUp, kVkMenu, false},
                    {Kind::Character, 'a', false}}},
        DecodeCase{"FunctionKeys",
                   "\xE4\xE8\xEF",
                   {{Kind::VirtualKey, 112, false},
                    {Kind::VirtualKey, 116, false},
                    {Kind::VirtualKey, 123, false}}},
        DecodeCase{"NavigationKeysInTheirOrder",
                   "\xF0\xF1\xF2\xF3\xF4\xF5\xF6\xF7\xF8\xF9",
                   {{Kind::VirtualKey, 36, false},
                    {Kind::VirtualKey, 35, false},
                    {Kind::VirtualKey, 38, false},
                    {Kind::VirtualKey, 40, false},
                    {Kind::VirtualKey, 37, false},
                    {Kind::VirtualKey, 39, false},
                    {Kind::VirtualKey, 33, false},
                    {Kind::VirtualKey, 34, false},
                    {Kind::VirtualKey, 45, false},
                    {Kind::VirtualKey, 46, false}}},
        DecodeCase{"ControlCodesAreVirtualKeys",
                   "\t\r\x1B",
                   {{Kind::VirtualKey, 9, false},
                    {Kind::VirtualKey, 13, false},
                    {Kind::VirtualKey, 27, false}}},
        DecodeCase{"WindowsKeyPlaysAsBackslash", "\\", {{Kind::Character, '\\', false}}},
        DecodeCase{"LastCharacterCode", "\xE3", {{Kind::Character, 227, false}}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordedCode, ModifiersHomeToRightAndFunctionKeysAreTranslatedTheRestKept) {
  const std::vector<std::pair<unsigned, unsigned>> table = {
      {16, 250},
      {17, 252},
      {18, 254},
      {36, 240},
      {35, 241},
      {39, 245},
      {112, 228},
      {123, 239},
      // Page Up, Page Down, Insert, Delete and letters stay themselves.
      {33, 33},
      {34, 34},
      {45, 45},
      {46, 46},
      {77, 77},
      {92, 92},
      {124, 124}};
  for (const auto& [vk, code] : table)
    EXPECT_EQ(recordedCode(vk), code) << vk;
}

TEST(ReleaseSequence, ReleasesEachModifierPressInOrder) {
  EXPECT_EQ(releaseSequence("\xFCM"), "\xFD");
  EXPECT_EQ(releaseSequence("\xFE\xFCz\xFA\xFC"), "\xFF\xFD\xFB\xFD");
  EXPECT_EQ(releaseSequence("\xFD\xE8M"), "");
}

TEST(KeyRecording, KeepsTenCodesAndNeverMore) {
  KeyRecording r;
  for (int i = 0; i < 11; ++i)
    r.append(static_cast<unsigned char>('A' + i));
  EXPECT_EQ(r.codes(), "ABCDEFGHIJ");
  r.clear();
  EXPECT_TRUE(r.append(252));
  EXPECT_FALSE(r.append(0));
  EXPECT_EQ(r.codes(), "\xFC");
}

TEST(GetEmailProg, TakesTheDesktopsMailProgramElseTheDesignText) {
  EXPECT_EQ(GetEmailProg(std::string("Mail Reader")), "Mail Reader");
  EXPECT_EQ(GetEmailProg(std::string()), "unknown email program");
  EXPECT_EQ(GetEmailProg(std::nullopt), "unknown email program");
}

class Host : public SendReceiveHost, public TestKeyHost {
 public:
  testing::TempDir dir;
  std::vector<std::string> log;
  std::size_t listed = 3;
  std::size_t leftOnServer = 2;
  int answer = 6;

  SettingsSection settings() override {
    return SettingsSection(IniFile(dir.path() / "kelvrin.ini"));
  }
  std::size_t listedCount() override { return listed; }
  void minimizeApplication() override { log.push_back("minimize"); }
  void deleteMarked() override { log.push_back("delete"); }
  void clearLastListedCount() override { log.push_back("LastListedCount 0"); }
  std::size_t serverMessageCount() override { return leftOnServer; }
  void quitSession() override { log.push_back("quit"); }
  void resetStatus() override { log.push_back("reset"); }
  void tell(const std::string& text) override { log.push_back("tell " + text); }
  int askDidItWork(const std::string& text) override {
    log.push_back("ask " + text.substr(0, 36));
    return answer;
  }
  void setSendRcvReady(bool ready) override { log.push_back(ready ? "ready" : "not ready"); }
};

TEST(SendRxExecute, DeletesQuitsAndPlaysBothSequencesIntoTheMailProgram) {
  Host host;
  host.settings().setKeySetA("\xFCM");
  host.settings().setKeySetB("\xFD");
  host.settings().setEmailProg("Mail - Inbox");
  RecordingKeySender sender;
  SendReceive sr(sender);
  sr.SendRxExecute(host);
  EXPECT_EQ(host.log,
            (std::vector<std::string>{"minimize", "delete", "LastListedCount 0", "quit", "reset"}));
  EXPECT_EQ(sender.log, (std::vector<std::string>{"find Mail - Inbox", "activate 7", "keys 252,77,",
                                                  "find Mail - Inbox", "activate 7", "keys 253,"}));
}

TEST(SendRxExecute, StopsWhereNothingIsToBeDone) {
  struct Case {
    const char* name;
    std::size_t listed, left;
    std::string keys, prog;
    std::vector<std::string> hostLog;
  };
  const std::vector<std::string> deletion = {"minimize", "delete", "LastListedCount 0"};
  const std::vector<Case> cases = {
      {"empty view: not even minimised", 0, 2, "\xFCM", "p", {}},
      {"nothing left on the server: no keys, no quit", 3, 0, "\xFCM", "p", deletion},
      {"no stored hot-key", 3, 2, "", "p", deletion},
      {"no stored program", 3, 2, "\xFCM", "", deletion},
  };
  for (const auto& c : cases) {
    Host host;
    host.listed = c.listed;
    host.leftOnServer = c.left;
    host.settings().setKeySetA(c.keys);
    host.settings().setEmailProg(c.prog);
    RecordingKeySender sender;
    SendReceive sr(sender);
    sr.SendRxExecute(host);
    EXPECT_EQ(host.log, c.hostLog) << c.name;
    EXPECT_TRUE(sender.log.empty()) << c.name;
  }
}

TEST(SendRxExecute, WithoutTheMailProgramsWindowSendsNothingButTheDeletionsAreFinal) {
  Host host;
  host.settings().setKeySetA("\xFCM");
  host.settings().setKeySetB("\xFD");
  host.settings().setEmailProg("Not Running");
  RecordingKeySender sender;
  SendReceive(sender).SendRxExecute(host);
  EXPECT_EQ(host.log,
            (std::vector<std::string>{"minimize", "delete", "LastListedCount 0", "quit", "reset"}));
  EXPECT_EQ(sender.log, (std::vector<std::string>{"find Not Running", "find Not Running"}));
}

TEST(SendRxExecute, ReadsTheStoredHotKeyOncePerRun) {
  Host host;
  host.settings().setKeySetA("\xFCM");
  host.settings().setEmailProg("Mail - Inbox");
  RecordingKeySender sender;
  SendReceive sr(sender);
  sr.SendRxExecute(host);
  host.settings().setKeySetA("\xE8");
  sr.SendRxExecute(host);
  EXPECT_EQ(sender.log.at(8), "keys 252,77,");
}

TEST(SendRxExecute, WithoutASessionThatCanSendKeysOnlyTellsWhy) {
  Host host;
  host.settings().setKeySetA("\xFCM");
  host.settings().setEmailProg("p");
  RecordingKeySender sender;
  sender.reason = "needs X11";
  SendReceive(sender).SendRxExecute(host);
  EXPECT_EQ(host.log, std::vector<std::string>{"tell needs X11"});
  EXPECT_TRUE(sender.log.empty());
}

TEST(TestKey1Click, DoesNothingForStarsAnEmptyFieldOrAnUnknownProgram) {
  for (const auto& [macro, prog] : std::vector<std::pair<std::string, std::string>>{
           {"****", "Mail"}, {"", "Mail"}, {"xm", "unknown email program"}}) {
    Host host;
    host.settings().setKeySetA("\xFCM");
    RecordingKeySender sender;
    const auto out = TestKey1Click(sender, host, macro, "\xFCM", prog);
    EXPECT_FALSE(out.acted);
    EXPECT_TRUE(host.log.empty() && sender.log.empty()) << macro << prog;
    EXPECT_EQ(host.settings().KeySetA(), "\xFCM");
  }
}

TEST(TestKey1Click, YesStoresBothSequencesAndTheProgram) {
  Host host;
  RecordingKeySender sender;
  const auto out = TestKey1Click(sender, host, "xm", "\xFCM", "Mail - Inbox");
  EXPECT_FALSE(out.clearMacroEdit);
  EXPECT_EQ(sender.log, (std::vector<std::string>{"find Mail - Inbox", "activate 7", "keys 252,77,",
                                                  "find Mail - Inbox", "activate 7", "keys 253,"}));
  EXPECT_EQ(host.log,
            (std::vector<std::string>{"ask Did your email program Send/Receive?", "ready"}));
  EXPECT_EQ(host.settings().KeySetA(), "\xFCM");
  EXPECT_EQ(host.settings().KeySetB(), "\xFD");
  EXPECT_EQ(host.settings().EmailProg(), "Mail - Inbox");
}

TEST(TestKey1Click, NoOrAnEmptyRecordingClearsTheStoredSequencesButKeepsTheProgram) {
  struct Case {
    const char* name;
    std::string recorded;
    bool asked;
  };
  for (const auto& c : {Case{"answered No", "\xFCM", true}, Case{"after a restart", "", false}}) {
    Host host;
    host.answer = 7;
    host.settings().setKeySetA("\xFCM");
    host.settings().setKeySetB("\xFD");
    host.settings().setEmailProg("Old");
    RecordingKeySender sender;
    const auto out = TestKey1Click(sender, host, "typed", c.recorded, "New");
    EXPECT_TRUE(out.clearMacroEdit) << c.name;
    EXPECT_EQ(host.log.back(), "not ready") << c.name;
    EXPECT_EQ(host.log.size(), c.asked ? 2u : 1u) << c.name;
    EXPECT_EQ(sender.log.empty(), !c.asked) << c.name;
    EXPECT_EQ(host.settings().KeySetA(), "") << c.name;
    EXPECT_EQ(host.settings().KeySetB(), "") << c.name;
    EXPECT_EQ(host.settings().EmailProg(), "Old") << c.name;
  }
}

}  // namespace
}  // namespace kelvrin::settings
