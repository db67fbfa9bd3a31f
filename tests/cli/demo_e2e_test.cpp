// End to end: kelvrin-cli against kelvrin-demo-server serving a copy of the
// demo mailbox, with the demo lists — the levels of share/demo/EXPECTED.md,
// and a deletion that removes exactly the spam files; then the same with the
// server failing at every command in turn.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>

#include "cli/cli_test_util.h"
#include "cli/demo_server_process.h"
#include "protocols/clock.h"
#include "support/temp_dir.h"

namespace kelvrin::test {
namespace {

namespace fs = std::filesystem;

struct Expected {
  int level;
  std::string cls;
};

// The table of EXPECTED.md: file name, level, class.
std::map<std::string, Expected> ExpectedLevels() {
  std::ifstream in(std::string(KELVRIN_SOURCE_DIR) + "/share/demo/EXPECTED.md");
  const std::regex row(R"(^\| `([0-9]+-[^`]+\.eml)` \| ([0-9]+) \| (\w+) \|)");
  std::map<std::string, Expected> table;
  std::string line;
  while (std::getline(in, line)) {
    std::smatch m;
    if (std::regex_search(line, m, row)) table[m[1]] = Expected{std::stoi(m[2]), m[3]};
  }
  return table;
}

class DemoEndToEnd : public ::testing::Test {
 protected:
  void start(const std::vector<std::string>& only = {},
             const std::vector<std::string>& faults = {}) {
    maildir = work.File("maildir");
    home = work.File("home");
    // The last run's server may still be ending a session that the client
    // left without waiting for the QUIT reply: stop it before its folder goes.
    server.reset();
    fs::remove_all(maildir);
    fs::remove_all(home);
    CopyDemoMaildir(maildir, only);
    fs::create_directories(home);
    server = std::make_unique<DemoServerProcess>(maildir, faults);
    const CliResult r =
        RunCli({"--home", home, "init", "--address", "sam.taylor@kelvrin.example", "--pop-host",
                "127.0.0.1", "--port", std::to_string(server->PopPort()), "--user", "sam",
                "--password", "demo-password"});
    ASSERT_EQ(r.exit, 0) << r.err;
    CopyDemoLists(home);
  }

  TempDir work{"kelvrin-e2e-"};
  std::string maildir;
  std::string home;
  std::unique_ptr<DemoServerProcess> server;
};

TEST_F(DemoEndToEnd, CheckGivesTheExpectedLevels) {
  const auto expected = ExpectedLevels();
  ASSERT_EQ(expected.size(), 15u);
  start();
  const CliResult r = RunCli({"--home", home, "check", "--json"});
  ASSERT_EQ(r.exit, 0) << r.err;
  const std::string rows = WithPython(
      "for row in data['rows']:\n"
      "    print(row['uidl'], row['level'], row['marked'])\n"
      "print(data['counts']['valid'], data['counts']['suspect'], data['counts']['spam'])",
      r.out);
  std::istringstream in(rows);
  std::string uidl;
  int level = 0;
  std::string marked;
  int seen = 0;
  int previous = 11;
  while (seen < 15 && in >> uidl >> level >> marked) {
    ++seen;
    ASSERT_TRUE(expected.count(uidl)) << uidl;
    EXPECT_EQ(level, expected.at(uidl).level) << uidl;
    EXPECT_EQ(marked, level > 7 ? "True" : "False") << uidl;
    EXPECT_LE(level, previous) << "rows by descending level";
    previous = level;
  }
  EXPECT_EQ(seen, 15);
  int valid = 0, suspect = 0, spam = 0;
  in >> valid >> suspect >> spam;
  EXPECT_EQ(valid, 6);
  EXPECT_EQ(suspect, 3);
  EXPECT_EQ(spam, 6);
}

TEST_F(DemoEndToEnd, DeleteRemovesTheSpamFilesAndKeepsTheOthers) {
  const auto expected = ExpectedLevels();
  start();
  const CliResult r = RunCli({"--home", home, "delete", "--json"});
  ASSERT_EQ(r.exit, 0) << r.err;
  std::set<std::string> left;
  for (const auto& name : EmlFiles(maildir))
    left.insert(name);
  for (const auto& [file, e] : expected) {
    EXPECT_EQ(left.count(file) == 1, e.level <= 7) << file;
  }
  EXPECT_EQ(WithPython("print(len(data['deleted']), len(data['rows']), data['messages'])", r.out),
            "6 9 9\n");
}

TEST_F(DemoEndToEnd, ShowPrintsTheCaptionAndTheBody) {
  start({"01-alex-lunch.eml"});
  const CliResult r = RunCli({"--home", home, "show", "0"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out.rfind("Message from \"Alex Morgan\" <alex.morgan@example.com>\n\nHi Sam,\n", 0),
            0u)
      << r.out;
}

// People read display text; the scored bytes stay beside it in the JSON.
TEST_F(DemoEndToEnd, RowsShowDisplayTextAndKeepTheBytes) {
  start({"12-pharmacy-q.eml", "15-promo-banned.eml"});
  const CliResult json = RunCli({"--home", home, "check", "--json"});
  ASSERT_EQ(json.exit, 0) << json.err;
  EXPECT_EQ(WithPython("for row in sorted(data['rows'], key=lambda r: r['uidl']):\n"
                       "    d = row['display']\n"
                       "    print(d['subject'], '|', d['from'], '|', d['sendto'], '|',\n"
                       "          row['subject'] != d['subject'])",
                       json.out),
            "Cheap meds \u00e0 prix r\u00e9duit | \"Online Pharmacy\" <deals@pharma.example.net> | "
            "<sam.taylor@kelvrin.example> | True\n"
            "Last chance: 50% off everything | \"Promo Team\" <news@promo.example.com> | "
            "\"Sam Taylor\" <sam.taylor@kelvrin.example> | True\n");
  const CliResult text = RunCli({"--home", home, "check"});
  ASSERT_EQ(text.exit, 0) << text.err;
  EXPECT_NE(text.out.find("Last chance: 50% off everything"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Cheap meds \u00e0 prix r\u00e9duit"), std::string::npos) << text.out;
}

TEST_F(DemoEndToEnd, ShowPrintsTheBodyReadInItsCharset) {
  start({"12-pharmacy-q.eml"});
  const CliResult r = RunCli({"--home", home, "show", "0"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_NE(
      r.out.find("Tous les m\u00e9dicaments \u00e0 prix r\u00e9duit. Livraison discr\u00e8te."),
      std::string::npos)
      << r.out;
}

// Real time, except that sleeping takes none: the program's own pauses
// (100 ms after each failed connect) would make a sweep of a hundred runs
// take longer.
class FastClock final : public protocols::Clock {
 public:
  std::int64_t TickCount() override { return real_.TickCount() + skipped_; }
  void Sleep(int milliseconds) override {
    if (milliseconds > 0) skipped_ += milliseconds;
  }

 private:
  protocols::SystemClock real_;
  std::int64_t skipped_ = 0;
};

// Two valid, one suspect and two spam messages.
const std::vector<std::string> kSmallBox = {"01-alex-lunch.eml", "07-chris-offsite.eml",
                                            "10-no-subject.eml", "11-lottery-b64.eml",
                                            "02-priya-re-photos.eml"};
const std::set<std::string> kSmallSpam = {"10-no-subject.eml", "11-lottery-b64.eml"};

TEST_F(DemoEndToEnd, EveryDroppedOrRefusedCommandLeavesTheValidMail) {
  // How many commands a fault-free check and deletion take.
  start(kSmallBox, {"--err-on", "100000"});
  {
    FastClock clock;
    cli::Environment env;
    env.clock = &clock;
    ASSERT_EQ(RunCli({"--home", home, "delete"}, env).exit, 0);
  }
  ASSERT_EQ(EmlFiles(maildir).size(), 3u);
  const int commands = 5 + 5 * 3 + 1 + 6 + 2 + 1 + 5 + 3 * 3 + 1;  // check, deletion, check

  for (const char* fault : {"--drop-after", "--err-on"}) {
    for (int k = 1; k <= commands + 2; ++k) {
      const std::string context = std::string(fault) + " " + std::to_string(k);
      start(kSmallBox, {fault, std::to_string(k)});
      FastClock clock;
      cli::Environment env;
      env.clock = &clock;
      const CliResult r = RunCli({"--home", home, "delete"}, env);
      EXPECT_TRUE(r.exit == 0 || r.exit == 1) << context << "\n" << r.err;
      server.reset();  // the folder no longer changes under the checks below
      // Only spam may go; a spam message whose header could not be read stays.
      for (const auto& name : kSmallBox) {
        if (kSmallSpam.count(name) == 0) {
          EXPECT_TRUE(fs::exists(maildir + "/" + name)) << context << ": " << name << " deleted";
        }
      }
      EXPECT_GE(EmlFiles(maildir).size(), 3u) << context;
    }
  }
}

}  // namespace
}  // namespace kelvrin::test
