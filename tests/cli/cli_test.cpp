// kelvrin-cli: its command line, its settings, its output and its exit
// status.

#include "cli/cli.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <sstream>

#include "app/mailbox_pop3.h"
#include "cli/cli_test_util.h"
#include "cli/interrupt.h"
#include "settings/ini_file.h"
#include "support/scripted_server.h"
#include "support/temp_dir.h"

namespace kelvrin::test {
namespace {

namespace fs = std::filesystem;

// A port on 127.0.0.1 where nothing listens.
int ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

class CliTest : public ::testing::Test {
 protected:
  std::vector<std::string> withHome(std::vector<std::string> args) const {
    args.insert(args.begin(), {"--home", home.Path()});
    return args;
  }
  CliResult init(int port, const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {
        "init", "--address",  "me@example.com", "--pop-host", "127.0.0.1",         "--user",
        "bob",  "--password", "secret",         "--port",     std::to_string(port)};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(withHome(args));
  }
  std::string ini(const std::string& key) const {
    return settings::IniFile(home.File("kelvrin.ini")).readString("KVWForm1", key, "<missing>");
  }

  TempDir home;
};

struct UsageCase {
  const char* name;
  std::vector<std::string> args;
};

class CliUsageTest : public ::testing::TestWithParam<UsageCase> {};

TEST_P(CliUsageTest, ExitsWith2AndTheUsage) {
  TempDir home;
  std::vector<std::string> args = GetParam().args;
  args.insert(args.begin(), {"--home", home.Path()});
  const CliResult r = RunCli(args);
  EXPECT_EQ(r.exit, cli::kExitUsage);
  EXPECT_NE(r.err.find("usage: kelvrin-cli"), std::string::npos);
  EXPECT_TRUE(r.out.empty());
  EXPECT_FALSE(fs::exists(home.File("kelvrin.ini"))) << "nothing written";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliUsageTest,
    ::testing::Values(
        UsageCase{"NoCommand", {}}, UsageCase{"UnknownCommand", {"fetch"}},
        UsageCase{"UnknownOption", {"--verbose", "check"}},
        UsageCase{"CheckWithAnArgument", {"check", "now"}},
        UsageCase{"ShowWithoutNumber", {"show"}}, UsageCase{"ShowWithText", {"show", "first"}},
        UsageCase{"ShowNegative", {"show", "-1"}}, UsageCase{"ShowJson", {"show", "1", "--json"}},
        UsageCase{"InitWithoutAddress",
                  {"init", "--pop-host", "h", "--user", "u", "--password", "p"}},
        UsageCase{"InitAddressWithoutAt",
                  {"init", "--address", "me", "--pop-host", "h", "--user", "u", "--password", "p"}},
        UsageCase{"InitBadPort",
                  {"init", "--address", "a@b", "--pop-host", "h", "--user", "u", "--password", "p",
                   "--port", "99999"}},
        UsageCase{"InitBadSecurity",
                  {"init", "--address", "a@b", "--pop-host", "h", "--user", "u", "--password", "p",
                   "--security", "ssl"}},
        UsageCase{"InitUnknownOption",
                  {"init", "--address", "a@b", "--pop-host", "h", "--user", "u", "--password", "p",
                   "--colour", "red"}},
        UsageCase{"InitOptionWithoutValue", {"init", "--address"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cli, HelpPrintsTheUsageAndSucceeds) {
  const CliResult r = RunCli({"--help"});
  EXPECT_EQ(r.exit, cli::kExitOk);
  EXPECT_NE(r.out.find("init --address"), std::string::npos);
}

TEST_F(CliTest, WithoutSettingsFileNamesItAndShowsInit) {
  const CliResult r = RunCli(withHome({"check"}));
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find(home.File("kelvrin.ini")), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("kelvrin-cli --home " + home.Path() + " init --address"), std::string::npos)
      << r.err;
}

TEST_F(CliTest, InitWritesTheAccountAndAddsTheAddressOnce) {
  ASSERT_EQ(init(110).exit, cli::kExitOk);
  EXPECT_EQ(ini("KVWMainEmail1"), "me@example.com");
  EXPECT_EQ(ini("KVWEdhost"), "127.0.0.1");
  EXPECT_EQ(ini("KVWedUser"), "bob");
  EXPECT_EQ(ini("KVWedPassword"), "secret");
  EXPECT_EQ(ini("KVWccntypeGroup"), "0") << "Cable/ADSL";
  EXPECT_EQ(fs::status(home.File("kelvrin.ini")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // Again, with the address in other letters: still one entry.
  std::vector<std::string> args = {"init",   "--address", "ME@example.com", "--pop-host", "h",
                                   "--user", "u",         "--password",     "p"};
  ASSERT_EQ(RunCli(withHome(args)).exit, cli::kExitOk);
  EXPECT_EQ(ReadTextFile(home.File("KelvAllowEM.txt")), "me@example.com\r\n");
  EXPECT_EQ(ini("KVWEdhost"), "h");
}

struct PortCase {
  const char* name;
  std::vector<std::string> options;
  std::string popPort, popSecurity, smtpPort, smtpSecurity;
};

class CliInitPortTest : public ::testing::TestWithParam<PortCase> {};

TEST_P(CliInitPortTest, PortsAndSecurityDecideEachOther) {
  TempDir home;
  std::vector<std::string> args = {"--home",      home.Path(),  "init", "--address",
                                   "a@b.example", "--pop-host", "h",    "--user",
                                   "u",           "--password", "p"};
  args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
  ASSERT_EQ(RunCli(args).exit, cli::kExitOk);
  settings::IniFile ini(home.File("kelvrin.ini"));
  EXPECT_EQ(ini.readString("KVWForm1", "PopPort", ""), GetParam().popPort);
  EXPECT_EQ(ini.readString("KVWForm1", "PopSecurity", ""), GetParam().popSecurity);
  EXPECT_EQ(ini.readString("KVWForm1", "SmtpPort", ""), GetParam().smtpPort);
  EXPECT_EQ(ini.readString("KVWForm1", "SmtpSecurity", ""), GetParam().smtpSecurity);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CliInitPortTest,
    ::testing::Values(
        PortCase{"Defaults", {}, "110", "0", "25", "0"},
        PortCase{"TlsGivesTheTlsPorts",
                 {"--security", "tls", "--smtp-security", "tls"},
                 "995",
                 "2",
                 "465",
                 "2"},
        PortCase{"StartTlsKeepsThePlainPorts", {"--security", "starttls"}, "110", "1", "25", "0"},
        PortCase{
            "Port995MeansTls", {"--port", "995", "--smtp-port", "465"}, "995", "2", "465", "2"},
        PortCase{"GivenBothWin", {"--port", "1100", "--security", "tls"}, "1100", "2", "25", "0"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, FailedConnectionExitsWith1AndSaysWhy) {
  ASSERT_EQ(init(ClosedPort()).exit, cli::kExitOk);
  const CliResult r = RunCli(withHome({"check"}));
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find("Status: Unable connect..."), std::string::npos) << r.err;
}

TEST_F(CliTest, RefusedLoginExitsWith1) {
  ScriptedServer server("S: +OK ready\nC: USER bob\nS: -ERR who are you\nC: QUIT\n");
  ASSERT_EQ(init(server.Port()).exit, cli::kExitOk);
  const CliResult r = RunCli(withHome({"check", "--json"}));
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find("Status: Username/Password error"), std::string::npos) << r.err;
  EXPECT_EQ(WithPython("print(data['status'])", r.out), "Status: Username/Password error\n");
  EXPECT_TRUE(server.Finished());
}

TEST_F(CliTest, JsonIsValidAndCarriesLatin1BytesAsTheirCharacters) {
  ScriptedServer server(
      "S: +OK ready\n"
      "C: USER bob\nS: +OK\nC: PASS secret\nS: +OK\n"
      "C: STAT\nS: +OK 1 200\nC: LAST\nS: +OK 0\n"
      "C: UIDL\nS: +OK\nS: 1 id-1\nS: .\n"
      "C: LIST 1\nS: +OK 1 200\n"
      "C: TOP 1 0\nS: +OK\n"
      "S: From: Bea <b@x.example>\n"
      "S: To: me@example.com\n"
      "S~ Subject: caf\\xe9 cr\\xe8me \"q\" a\\\\b\\ttab\\r\\n\n"
      "S: Date: Mon, 3 Mar 2025 10:00:00 +0000\n"
      "S: \nS: .\n"
      "C: UIDL 1\nS: +OK 1 id-1\n"
      "C: QUIT\nS: +OK\n");
  ASSERT_EQ(init(server.Port()).exit, cli::kExitOk);
  const CliResult r = RunCli(withHome({"check", "--json"}));
  ASSERT_EQ(r.exit, cli::kExitOk) << r.err;
  EXPECT_TRUE(server.Finished());
  const std::string read = WithPython(
      "row = data['rows'][0]\n"
      "print(ascii(row['subject']))\n"
      "print(ascii(row['from']))\n"
      "print(row['index'], row['level'], row['marked'], row['uidl'], row['size'])\n"
      "print(data['messages'], data['counts'])",
      r.out);
  EXPECT_EQ(read,
            "'caf\\xe9 cr\\xe8me \"q\" a\\\\b\\ttab'\n"
            "'\"Bea\" <b@x.example>'\n"
            "0 0 False id-1 200\n"
            "1 {'valid': 1, 'suspect': 0, 'spam': 0}\n");
}

TEST_F(CliTest, CtrlCDuringTheDeletionLeavesEveryMessage) {
  FakeClock clock;
  MailboxPop3 mailbox(clock);
  mailbox.mailbox = MixedMailbox(6);
  mailbox.slowReplies = true;
  mailbox.onCommand = [](const std::string& line) {
    if (line.rfind("DELE", 0) == 0) cli::InterruptPump::raiseFlag();
  };
  ASSERT_EQ(init(110).exit, cli::kExitOk);
  cli::Environment env;
  env.socketFactory = [&] { return mailbox.MakeSocket(); };
  env.clock = &clock;
  const auto before = mailbox.Ids();
  const CliResult r = RunCli(withHome({"delete"}), env);
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find("cancelled"), std::string::npos) << r.err;
  EXPECT_EQ(mailbox.Ids(), before);
  EXPECT_FALSE(mailbox.Deles().empty()) << "the cancel came during the deletion";
}

// The desktop program's "Non-Interactive Spam Delete" in the settings file:
// the command line still deletes only when told to, and says what it did.
TEST_F(CliTest, NonInteractiveDeleteInTheSettingsNeverMakesTheCommandLineDelete) {
  FakeClock clock;
  MailboxPop3 mailbox(clock);
  mailbox.mailbox = MixedMailbox(6);  // s3 s6
  ASSERT_EQ(init(110).exit, cli::kExitOk);
  settings::IniFile(home.File("kelvrin.ini")).writeString("KVmain", "NonInterDel1", "1");
  cli::Environment env;
  env.socketFactory = [&] { return mailbox.MakeSocket(); };
  env.clock = &clock;
  const auto before = mailbox.Ids();

  const CliResult checked = RunCli(withHome({"check", "--json"}), env);
  EXPECT_EQ(checked.exit, cli::kExitOk) << checked.err;
  EXPECT_TRUE(mailbox.Deles().empty());
  EXPECT_EQ(mailbox.Ids(), before);
  EXPECT_EQ(
      WithPython("print(len(data['rows']), sum(r['marked'] for r in data['rows']))", checked.out),
      "6 2\n");

  const CliResult deleted = RunCli(withHome({"delete"}), env);
  EXPECT_EQ(deleted.exit, cli::kExitOk) << deleted.err;
  EXPECT_NE(deleted.out.find("Deleted 2 of 2 marked messages:"), std::string::npos) << deleted.out;
  EXPECT_EQ(mailbox.Deles().size(), 2u);
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4", "v5"}));
  EXPECT_EQ(settings::IniFile(home.File("kelvrin.ini")).readString("KVmain", "NonInterDel1", ""),
            "1")
      << "the desktop program's option is left as it was";
}

// A password reaches the server exactly as init was given it, whatever the
// settings file's reading does to blanks and enclosing quotes.
class CliInitExactPasswordTest : public CliTest,
                                 public ::testing::WithParamInterface<std::string> {};

TEST_P(CliInitExactPasswordTest, ReachesTheServerUnchanged) {
  const std::string& password = GetParam();
  ScriptedServer server("S: +OK ready\nC: USER bob\nS: +OK\nC: PASS " + password +
                        "\nS: -ERR no\nC: QUIT\n");
  std::vector<std::string> args = {
      "init", "--address",  "me@example.com", "--pop-host", "127.0.0.1",      "--user",
      "bob",  "--password", password,         "--port",     server.PortText()};
  ASSERT_EQ(RunCli(withHome(args)).exit, cli::kExitOk);
  EXPECT_EQ(ini("KVWedPassword"), password);
  const CliResult r = RunCli(withHome({"check"}));
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_TRUE(server.Finished()) << server.ClientLog();
}

INSTANTIATE_TEST_SUITE_P(Passwords, CliInitExactPasswordTest,
                         ::testing::Values(std::string("  lead"), std::string("trail  "),
                                           std::string("\"quoted\""), std::string("\"half"),
                                           std::string(2047, 'k')));

TEST_F(CliTest, InitRefusesAValueTheSettingsFileCannotHoldAndWritesNothing) {
  const struct {
    std::vector<std::string> option;
    std::string says;
  } cases[] = {
      {{"--password", std::string(3000, 'p')},
       "--password cannot be stored: it is 3000 bytes long"},
      {{"--password", "two\nlines"}, "--password cannot be stored: it holds a line break"},
      {{"--user", std::string(2048, 'u')}, "--user cannot be stored: it is 2048 bytes long"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"init",   "--address", "me@example.com", "--pop-host", "h",
                                     "--user", "bob",       "--password",     "secret"};
    args.insert(args.end(), c.option.begin(), c.option.end());
    const CliResult r = RunCli(withHome(args));
    EXPECT_EQ(r.exit, cli::kExitUsage);
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(home.File("kelvrin.ini")));
  }
}

// A settings file that a check cannot use: the message names the file and
// what is wrong with it, and nothing connects.
struct BrokenSettingsCase {
  const char* name;
  std::string file;
  std::vector<std::string> says;
};

class CliBrokenSettingsTest : public ::testing::TestWithParam<BrokenSettingsCase> {};

TEST_P(CliBrokenSettingsTest, NamesTheFileAndTheFault) {
  TempDir home;
  WriteTextFile(home.File("kelvrin.ini"), GetParam().file);
  const CliResult r = RunCli({"--home", home.Path(), "check"});
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find("the settings file " + home.File("kelvrin.ini") + " cannot be used"),
            std::string::npos)
      << r.err;
  for (const std::string& text : GetParam().says)
    EXPECT_NE(r.err.find(text), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("kelvrin-cli: \n"), std::string::npos) << "never an empty message";
}

INSTANTIATE_TEST_SUITE_P(
    Files, CliBrokenSettingsTest,
    ::testing::Values(
        BrokenSettingsCase{"Binary",
                           std::string("\x7f"
                                       "ELF\x02\x01\x00\x00[KVWForm1\n",
                                       13),
                           {"no [KVWForm1] section", "line 1 holds NUL bytes"}},
        BrokenSettingsCase{"Garbled",
                           "KVWMainEmail1=me@example.com\n[KVWForm1\nKVWEdhost=h\n",
                           {"no main mail address", "line 1 is a key outside any [section]",
                            "line 2 is a section header without"}},
        BrokenSettingsCase{"NoAddress", "[KVWForm1]\nKVWEdhost=h\n", {"no main mail address"}},
        BrokenSettingsCase{"PlaceholderAddress",
                           "[KVWForm1]\nKVWMainEmail1=your.name@example.com\nKVWEdhost=h\n",
                           {"no main mail address"}},
        BrokenSettingsCase{
            "NoHost", "[KVWForm1]\nKVWMainEmail1=me@example.com\n", {"names no POP3 server"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, LinesTheReaderSkipsAreWarnedAboutAndTheCheckGoesOn) {
  ASSERT_EQ(init(ClosedPort()).exit, cli::kExitOk);
  const std::string file = home.File("kelvrin.ini");
  WriteTextFile(file, ReadTextFile(file) + "stray words\n");
  const CliResult r = RunCli(withHome({"check"}));
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find("warning: " + file + " line "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Status: Unable connect..."), std::string::npos) << "the check ran";
}

// Message numbers are 16-bit: a larger mailbox is worked from its first
// 65,535 messages, and both outputs and the status say so.
TEST_F(CliTest, AMailboxOfMoreThan65535MessagesSaysOnlyPartWasChecked) {
  FakeClock clock;
  MailboxPop3 mailbox(clock);
  mailbox.mailbox = MixedMailbox(65540);
  ASSERT_EQ(init(110).exit, cli::kExitOk);
  cli::Environment env;
  env.socketFactory = [&] { return mailbox.MakeSocket(); };
  env.clock = &clock;

  const CliResult json = RunCli(withHome({"check", "--json"}), env);
  ASSERT_EQ(json.exit, cli::kExitOk) << json.err;
  EXPECT_EQ(WithPython("print(data['messages'], data['server_messages'], len(data['rows']))\n"
                       "print(data['status'])",
                       json.out),
            "65535 65540 65535\n"
            "Status: Listed the first 65535 of 65540 messages (a check lists at most 65535)\n");

  const CliResult text = RunCli(withHome({"check"}), env);
  ASSERT_EQ(text.exit, cli::kExitOk) << text.err;
  EXPECT_EQ(text.out.rfind("Status: Listed the first 65535 of 65540 messages", 0), 0u)
      << text.out.substr(0, 200);
  EXPECT_NE(text.out.find("The server holds 65540 messages; only the first 65535 were checked"),
            std::string::npos);
}

TEST_F(CliTest, AnOrdinaryMailboxReportsItsOwnCountAsTheServers) {
  FakeClock clock;
  MailboxPop3 mailbox(clock);
  mailbox.mailbox = MixedMailbox(3);
  ASSERT_EQ(init(110).exit, cli::kExitOk);
  cli::Environment env;
  env.socketFactory = [&] { return mailbox.MakeSocket(); };
  env.clock = &clock;
  const CliResult r = RunCli(withHome({"check", "--json"}), env);
  ASSERT_EQ(r.exit, cli::kExitOk) << r.err;
  EXPECT_EQ(WithPython("print(data['messages'], data['server_messages'])", r.out), "3 3\n");
  EXPECT_EQ(RunCli(withHome({"check"}), env).out.find("The server holds"), std::string::npos);
}

TEST(InterruptPump, CtrlCRunsTheCancelOnceFromThePump) {
  int cancels = 0;
  cli::InterruptPump pump([&] { ++cancels; });
  cli::InterruptPump::reset();
  cli::InterruptPump::install();
  std::raise(SIGINT);
  cli::InterruptPump::uninstall();
  EXPECT_EQ(cancels, 0) << "the signal only raises a flag";
  pump.ProcessEvents();
  pump.ProcessEvents();
  EXPECT_EQ(cancels, 1);
  EXPECT_TRUE(cli::InterruptPump::interrupted());
  cli::InterruptPump::reset();
}

struct SendRefusalCase {
  const char* name;
  std::vector<std::string> args;
  int exit;
  const char* says;
};

class SendRefusalTest : public CliTest, public ::testing::WithParamInterface<SendRefusalCase> {};

// Whatever is wrong, the SMTP server never hears of it.
TEST_P(SendRefusalTest, SendsNothing) {
  const SendRefusalCase& c = GetParam();
  ScriptedServer smtp("");
  ASSERT_EQ(init(110, {"--smtp-host", "127.0.0.1", "--smtp-port", smtp.PortText()}).exit,
            cli::kExitOk);
  const CliResult r = RunCli(withHome(c.args));
  EXPECT_EQ(r.exit, c.exit) << r.err;
  EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
  EXPECT_TRUE(smtp.ClientLog().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SendRefusalTest,
    ::testing::Values(
        SendRefusalCase{"NoTo", {"send", "--subject", "s", "--body", "b"}, 2, "send needs --to"},
        SendRefusalCase{"EmptyAddressList",
                        {"send", "--to", " , ", "--subject", "s", "--body", "b"},
                        2,
                        "no recipient address"},
        SendRefusalCase{"SubjectWithLineBreak",
                        {"send", "--to", "a@example.net", "--subject", "s\r\nBcc: x@example.org",
                         "--body", "b"},
                        2,
                        "the subject holds a line break"},
        SendRefusalCase{
            "AddressWithLineBreak",
            {"send", "--to", "a@example.net\nBcc: x@example.org", "--subject", "s", "--body", "b"},
            2,
            "an address holds a line break"},
        SendRefusalCase{"UnreadableBodyFile",
                        {"send", "--to", "a@example.net", "--subject", "s", "--body-file",
                         "/nonexistent/body.txt"},
                        2,
                        "cannot be read"},
        SendRefusalCase{
            "BodyTwice",
            {"send", "--to", "a@example.net", "--subject", "s", "--body", "b", "--body-file", "f"},
            2,
            "not both"},
        SendRefusalCase{"GreetWithoutText", {"greet", "--to", "a@example.net"}, 2, "one TEXT"},
        SendRefusalCase{"FlashTooLong",
                        {"flash", "--to", "a@example.net", std::string(256, 'x')},
                        2,
                        "at most 255"},
        SendRefusalCase{"FlashToTwo",
                        {"flash", "--to", "a@example.net,b@example.net", "hi"},
                        2,
                        "one address"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CliTest, SendWithoutSmtpSettingsFailsClearly) {
  ASSERT_EQ(init(110).exit, cli::kExitOk);
  const CliResult r =
      RunCli(withHome({"send", "--to", "a@example.net", "--subject", "s", "--body", "b"}));
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_NE(r.err.find("no SMTP server is set"), std::string::npos) << r.err;
}

TEST_F(CliTest, RefusedSendIsAFailureWithTheServersReason) {
  ScriptedServer smtp(
      "S: 220 smtp.test\nC~ EHLO .*\nS: 250-smtp.test\nS: 250 AUTH PLAIN\nC~ AUTH PLAIN .*\n"
      "S: 535 no\nC: QUIT\nS: 221 bye\n");
  ASSERT_EQ(init(110, {"--smtp-host", "127.0.0.1", "--smtp-port", smtp.PortText()}).exit,
            cli::kExitOk);
  std::istringstream body("from standard input\n");
  cli::Environment env;
  env.input = &body;
  const CliResult r = RunCli(withHome({"send", "--to", "a@example.net", "--subject", "s"}), env);
  EXPECT_EQ(r.exit, cli::kExitFailed);
  EXPECT_EQ(r.out, "Status: message NOT sent\n");
  EXPECT_NE(r.err.find("Unable SMTP connect or login"), std::string::npos) << r.err;
  EXPECT_TRUE(smtp.Finished());
}

}  // namespace
}  // namespace kelvrin::test
