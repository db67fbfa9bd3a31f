// A whole round trip through servers we did not write: kelvrin-cli sends
// through aiosmtpd, which delivers into the maildir of a real Dovecot, and
// kelvrin-cli checks that mailbox over POP3. The flash message comes back
// as a command mail, is reported and deleted; the ordinary mail is listed
// and reads as a proper mail to Python's own e-mail parser.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cli/cli_test_util.h"
#include "support/dovecot_server.h"
#include "support/smtp_test_server.h"
#include "support/temp_dir.h"

namespace kelvrin::e2e {
namespace {

namespace fs = std::filesystem;
using test::RunCli;
using test::WithPython;

std::vector<fs::path> mailFiles(const std::string& maildir) {
  std::vector<fs::path> files;
  for (const char* sub : {"/new", "/cur"}) {
    for (const auto& entry : fs::directory_iterator(maildir + sub))
      files.push_back(entry.path());
  }
  return files;
}

// Runs a Python program with one file name argument; what it printed.
std::string pythonOnFile(const std::string& program, const fs::path& file) {
  test::TempDir dir("kelvrin-py-");
  const std::string script = dir.File("read.py");
  test::WriteTextFile(script, program);
  const std::string command = "/usr/bin/python3 " + script + " '" + file.string() + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "ERROR cannot run python";
  std::string output;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
    output.append(buffer, n);
  return pclose(pipe) == 0 ? output : "ERROR " + output;
}

TEST(MailRoundTrip, FlashComesBackAsACommandAndTheMailAsAProperMessage) {
  if (!test::DovecotServer::Available() || !test::SmtpTestServer::Available()) {
    GTEST_SKIP() << "needs dovecot-pop3d and python3-aiosmtpd";
  }
  test::DovecotServer pop3;
  pop3.Start();
  test::SmtpTestServer smtp(test::SmtpTestServer::Mode::Plain, true, pop3.Maildir());
  test::TempDir home("kelvrin-home-");
  const std::vector<std::string> base = {"--home", home.Path()};
  auto cli = [&](std::vector<std::string> args) {
    args.insert(args.begin(), base.begin(), base.end());
    return RunCli(args);
  };

  auto r = cli({"init", "--address", "me@example.com", "--pop-host", "127.0.0.1", "--port",
                std::to_string(pop3.Pop3Port()), "--security", "none", "--user", pop3.User(),
                "--password", pop3.Password(), "--smtp-host", "127.0.0.1", "--smtp-port",
                std::to_string(smtp.Port()), "--smtp-security", "none"});
  ASSERT_EQ(r.exit, 0) << r.err;

  r = cli({"flash", "--to", "me@example.com", "lunch at noon?"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out, "Status: message sent\n");
  r = cli({"send", "--to", "me@example.com", "--subject", "Round trip", "--body",
           "Hello from the test\n.\nlast line"});
  ASSERT_EQ(r.exit, 0) << r.err;
  ASSERT_EQ(mailFiles(pop3.Maildir()).size(), 2u);

  r = cli({"check", "--json", "--no-cache"});
  ASSERT_EQ(r.exit, 0) << r.err << r.out;
  EXPECT_EQ(WithPython("print(data['commands'])", r.out),
            "[{'code': 1004, 'from': 'me@example.com', 'text': 'lunch at noon?', 'handled': "
            "True}]\n");
  EXPECT_EQ(WithPython("print([row['subject'] for row in data['rows']])", r.out),
            "['Round trip']\n");

  // The flash is gone from the server; the mail is still there.
  const auto left = mailFiles(pop3.Maildir());
  ASSERT_EQ(left.size(), 1u);
  r = cli({"check", "--no-cache"});
  ASSERT_EQ(r.exit, 0) << r.err;
  EXPECT_EQ(r.out.find("Flash from"), std::string::npos) << r.out;

  EXPECT_EQ(pythonOnFile("import email, email.policy, email.utils, sys\n"
                         "m = email.message_from_binary_file(open(sys.argv[1], 'rb'),\n"
                         "                                   policy=email.policy.default)\n"
                         "print(email.utils.parsedate_to_datetime(m['Date']) is not None)\n"
                         "print(m['Message-ID'].startswith('<') and '@' in m['Message-ID'])\n"
                         "print(m['From'].addresses[0].addr_spec)\n"
                         "print(m['Subject'])\n"
                         "body = m.get_content()\n"
                         "print(body.startswith('Hello from the test\\n.\\nlast line'))\n"
                         "print('Sent with Kelvrinate V' in body)\n",
                         left[0]),
            "True\nTrue\nme@example.com\nRound trip\nTrue\nTrue\n");
}

}  // namespace
}  // namespace kelvrin::e2e
