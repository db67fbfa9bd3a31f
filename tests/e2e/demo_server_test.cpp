// kelvrin-demo-server driven over loopback with raw sockets: the built
// program runs as a child process on ports the system chose.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kelvrin::e2e {
namespace {

namespace fs = std::filesystem;

constexpr int kWaitMs = 10000;

std::string readFileText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> emlFiles(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) {
    if (e.path().extension() == ".eml") names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < bytes.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kAlphabet[v & 63] : '=';
  }
  return out;
}

// A raw client connection.
class Client {
 public:
  explicit Client(int port) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool Connected() const { return connected_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  void SendRaw(std::string_view data) {
    while (!data.empty()) {
      const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (n <= 0) return;
      data.remove_prefix(static_cast<std::size_t>(n));
    }
  }
  void Send(const std::string& line) { SendRaw(line + "\r\n"); }

  // One line with its CR LF removed; "<closed>" when the server closed the
  // connection, "<timeout>" when nothing came.
  std::string Line() {
    for (;;) {
      const std::size_t crlf = buffer_.find("\r\n");
      if (crlf != std::string::npos) {
        std::string line = buffer_.substr(0, crlf);
        buffer_.erase(0, crlf + 2);
        return line;
      }
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, kWaitMs) <= 0) return "<timeout>";
      char chunk[4096];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) return "<closed>";
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }

  std::string Command(const std::string& line) {
    Send(line);
    return Line();
  }

  // The lines of a multi-line reply after its status line, up to the ".".
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    for (std::string l = Line(); l != "."; l = Line()) {
      if (l == "<closed>" || l == "<timeout>") {
        ADD_FAILURE() << "multi-line reply ended by " << l;
        break;
      }
      lines.push_back(l);
    }
    return lines;
  }

  // Reads the SMTP reply, continuation lines included; returns them all.
  std::vector<std::string> SmtpReply() {
    std::vector<std::string> lines;
    for (;;) {
      lines.push_back(Line());
      const std::string& l = lines.back();
      if (l.size() < 4 || l[3] != '-') return lines;
    }
  }

 private:
  int fd_ = -1;
  bool connected_ = false;
  std::string buffer_;
};

// The server as a child process with its own maildir.
class DemoServer {
 public:
  explicit DemoServer(const fs::path& maildir, std::vector<std::string> extra = {}) {
    int out[2];
    if (::pipe(out) != 0) return;
    std::vector<std::string> args = {KELVRIN_DEMO_SERVER, "--maildir", maildir.string(), "--quiet"};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      std::vector<char*> argv;
      for (std::string& a : args)
        argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    // The two port lines come once the server listens.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (std::count(text.begin(), text.end(), '\n') < 2 &&
           std::chrono::steady_clock::now() < deadline) {
      pollfd pfd{out[0], POLLIN, 0};
      if (::poll(&pfd, 1, 200) <= 0) continue;
      char chunk[256];
      const ssize_t n = ::read(out[0], chunk, sizeof chunk);
      if (n <= 0) break;
      text.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(out[0]);
    std::istringstream lines(text);
    std::string word1, word2;
    lines >> word1 >> word2 >> popPort_;
    lines >> word1 >> word2 >> smtpPort_;
  }

  ~DemoServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
  }
  DemoServer(const DemoServer&) = delete;
  DemoServer& operator=(const DemoServer&) = delete;

  int PopPort() const { return popPort_; }
  int SmtpPort() const { return smtpPort_; }
  bool Running() const { return pid_ > 0 && popPort_ > 0 && smtpPort_ > 0; }

 private:
  pid_t pid_ = -1;
  int popPort_ = 0;
  int smtpPort_ = 0;
};

class DemoServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "kelvrin-demo-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    maildir_ = pattern;
    // LF line ends and a line that must be dot-stuffed.
    std::ofstream(maildir_ / "01-lunch.eml", std::ios::binary)
        << "From: Alex Morgan <alex.morgan@example.com>\nTo: sam.taylor@kelvrin.example\n"
           "Subject: Lunch on Friday?\n\nHi Sam,\n.hidden behind a dot\nAlex\n";
    // CR LF line ends.
    std::ofstream(maildir_ / "02-report.eml", std::ios::binary)
        << "From: reports@example.org\r\nTo: sam.taylor@kelvrin.example\r\n"
           "Subject: Weekly report\r\n\r\nAll green.\r\n";
    // Not a message: skipped.
    std::ofstream(maildir_ / "notes.txt") << "not mail";
  }
  void TearDown() override {
    server_.reset();
    std::error_code ec;
    fs::remove_all(maildir_, ec);
  }

  DemoServer& Start(std::vector<std::string> extra = {}) {
    server_ = std::make_unique<DemoServer>(maildir_, std::move(extra));
    EXPECT_TRUE(server_->Running());
    return *server_;
  }

  // Greeting, USER and PASS of the demo account.
  void LogIn(Client& c) {
    ASSERT_EQ(c.Line().substr(0, 3), "+OK");
    ASSERT_EQ(c.Command("USER sam").substr(0, 3), "+OK");
    ASSERT_EQ(c.Command("PASS demo-password").substr(0, 3), "+OK");
  }

  // Greeting, EHLO and AUTH PLAIN.
  void SmtpLogIn(Client& c) {
    ASSERT_EQ(c.Line().substr(0, 4), "220 ");
    c.Send("EHLO client.example");
    c.SmtpReply();
    ASSERT_EQ(c.Command("AUTH PLAIN " + base64(std::string("\0sam\0demo-password", 18))),
              "235 2.7.0 Authentication successful");
  }

  fs::path maildir_;
  std::unique_ptr<DemoServer> server_;
};

// 01-lunch.eml with CR LF: 136 bytes of text and a CR for each of its 7 lines.
constexpr int kLunchOctets = 143;
// 02-report.eml as stored.
constexpr int kReportOctets = 97;

TEST_F(DemoServerTest, Pop3SessionListsFetchesAndRemovesDeletedMessagesAtQuit) {
  Start();
  Client c(server_->PopPort());
  LogIn(c);
  const int total = kLunchOctets + kReportOctets;
  EXPECT_EQ(c.Command("STAT"), "+OK 2 " + std::to_string(total));
  EXPECT_EQ(c.Command("LAST").substr(0, 3), "+OK");

  EXPECT_EQ(c.Command("LIST").substr(0, 3), "+OK");
  EXPECT_EQ(c.Lines(), (std::vector<std::string>{"1 " + std::to_string(kLunchOctets),
                                                 "2 " + std::to_string(kReportOctets)}));
  EXPECT_EQ(c.Command("LIST 2"), "+OK 2 " + std::to_string(kReportOctets));

  EXPECT_EQ(c.Command("UIDL").substr(0, 3), "+OK");
  const std::vector<std::string> uids = c.Lines();
  ASSERT_EQ(uids.size(), 2u);
  EXPECT_EQ(c.Command("UIDL 1"), "+OK " + uids[0]);
  EXPECT_NE(uids[0].substr(2), uids[1].substr(2));

  EXPECT_EQ(c.Command("TOP 1 0").substr(0, 3), "+OK");
  EXPECT_EQ(c.Lines(), (std::vector<std::string>{"From: Alex Morgan <alex.morgan@example.com>",
                                                 "To: sam.taylor@kelvrin.example",
                                                 "Subject: Lunch on Friday?", ""}));
  EXPECT_EQ(c.Command("TOP 1 1").substr(0, 3), "+OK");
  EXPECT_EQ(c.Lines().back(), "Hi Sam,");

  EXPECT_EQ(c.Command("RETR 1").substr(0, 3), "+OK");
  const std::vector<std::string> body = c.Lines();
  ASSERT_EQ(body.size(), 7u);
  EXPECT_EQ(body[5], "..hidden behind a dot");

  EXPECT_EQ(c.Command("DELE 1").substr(0, 3), "+OK");
  EXPECT_EQ(c.Command("DELE 1").substr(0, 4), "-ERR");
  EXPECT_EQ(c.Command("RETR 1").substr(0, 4), "-ERR");
  EXPECT_EQ(c.Command("STAT"), "+OK 1 " + std::to_string(kReportOctets));
  EXPECT_EQ(emlFiles(maildir_).size(), 2u) << "nothing is removed before QUIT";
  EXPECT_EQ(c.Command("QUIT").substr(0, 3), "+OK");
  EXPECT_EQ(c.Line(), "<closed>");

  EXPECT_EQ(emlFiles(maildir_), (std::vector<std::string>{"02-report.eml"}));
  Client again(server_->PopPort());
  LogIn(again);
  EXPECT_EQ(again.Command("STAT"), "+OK 1 " + std::to_string(kReportOctets));
  EXPECT_EQ(again.Command("UIDL 1"), "+OK 1 " + uids[1].substr(2)) << "ids are stable";
}

TEST_F(DemoServerTest, RsetAndAVanishedClientKeepTheMessages) {
  Start();
  {
    Client c(server_->PopPort());
    LogIn(c);
    c.Command("DELE 1");
    EXPECT_EQ(c.Command("RSET").substr(0, 3), "+OK");
    EXPECT_EQ(c.Command("STAT"), "+OK 2 " + std::to_string(kLunchOctets + kReportOctets));
    c.Command("DELE 2");
    c.Close();  // gone without QUIT: no UPDATE state, nothing removed
  }
  Client next(server_->PopPort());
  LogIn(next);  // the maildrop was released
  EXPECT_EQ(next.Command("STAT").substr(0, 5), "+OK 2");
  EXPECT_EQ(next.Command("QUIT").substr(0, 3), "+OK");
  EXPECT_EQ(emlFiles(maildir_).size(), 2u);
}

TEST_F(DemoServerTest, AWrongPasswordIsRefusedAndCommandsNeedALogin) {
  Start();
  Client c(server_->PopPort());
  c.Line();
  EXPECT_EQ(c.Command("STAT").substr(0, 4), "-ERR");
  EXPECT_EQ(c.Command("PASS demo-password").substr(0, 4), "-ERR") << "PASS before USER";
  c.Command("USER sam");
  EXPECT_EQ(c.Command("PASS wrong"), "-ERR invalid user name or password");
  EXPECT_EQ(c.Command("STAT").substr(0, 4), "-ERR");
  c.Command("USER nobody");
  EXPECT_EQ(c.Command("PASS demo-password").substr(0, 4), "-ERR");
  c.Command("USER sam");
  EXPECT_EQ(c.Command("PASS demo-password").substr(0, 3), "+OK");
}

TEST_F(DemoServerTest, ASecondSessionCannotTakeALockedMaildrop) {
  Start();
  Client first(server_->PopPort());
  LogIn(first);
  Client second(server_->PopPort());
  second.Line();
  second.Command("USER sam");
  EXPECT_EQ(second.Command("PASS demo-password"), "-ERR [IN-USE] maildrop already locked");
  first.Command("QUIT");
  second.Command("USER sam");
  EXPECT_EQ(second.Command("PASS demo-password").substr(0, 3), "+OK");
}

TEST_F(DemoServerTest, SmtpAuthPlainStoresTheMessageDotUnstuffed) {
  Start();
  Client c(server_->SmtpPort());
  ASSERT_EQ(c.Line().substr(0, 4), "220 ");
  c.Send("EHLO client.example");
  const std::vector<std::string> ehlo = c.SmtpReply();
  EXPECT_NE(std::find(ehlo.begin(), ehlo.end(), "250-AUTH PLAIN LOGIN"), ehlo.end());
  EXPECT_EQ(ehlo.back().substr(0, 4), "250 ");
  EXPECT_EQ(c.Command("MAIL FROM:<sam.taylor@kelvrin.example>").substr(0, 3), "530")
      << "mail needs a login";
  EXPECT_EQ(c.Command("AUTH PLAIN " + base64(std::string("\0sam\0wrong", 10))).substr(0, 3), "535");
  EXPECT_EQ(c.Command("AUTH PLAIN " + base64(std::string("\0sam\0demo-password", 18))),
            "235 2.7.0 Authentication successful");
  EXPECT_EQ(c.Command("MAIL FROM:<sam.taylor@kelvrin.example>").substr(0, 3), "250");
  EXPECT_EQ(c.Command("RCPT TO:<alex.morgan@example.com>").substr(0, 3), "250");
  EXPECT_EQ(c.Command("DATA").substr(0, 3), "354");
  c.SendRaw("Subject: Re: Lunch on Friday?\r\n\r\nYes!\r\n..leading dot\r\n.\r\n");
  EXPECT_EQ(c.Line().substr(0, 3), "250");
  EXPECT_EQ(c.Command("RSET").substr(0, 3), "250");
  EXPECT_EQ(c.Command("QUIT").substr(0, 3), "221");

  const std::vector<std::string> files = emlFiles(maildir_);
  ASSERT_EQ(files.size(), 3u);
  EXPECT_EQ(files[0], "01-lunch.eml");
  EXPECT_EQ(readFileText(maildir_ / files[2]),
            "Return-Path: <sam.taylor@kelvrin.example>\r\nSubject: Re: Lunch on Friday?\r\n\r\n"
            "Yes!\r\n.leading dot\r\n");

  Client pop(server_->PopPort());
  LogIn(pop);
  EXPECT_EQ(pop.Command("STAT").substr(0, 5), "+OK 3") << "stored mail is served last";
}

TEST_F(DemoServerTest, SmtpAuthLoginAsksForUserAndPassword) {
  Start();
  Client c(server_->SmtpPort());
  c.Line();
  c.Send("EHLO client.example");
  c.SmtpReply();
  EXPECT_EQ(c.Command("AUTH LOGIN"), "334 VXNlcm5hbWU6");
  EXPECT_EQ(c.Command(base64("sam")), "334 UGFzc3dvcmQ6");
  EXPECT_EQ(c.Command(base64("demo-password")).substr(0, 3), "235");
  c.Command("MAIL FROM:<sam.taylor@kelvrin.example>");
  c.Command("RCPT TO:<alex.morgan@example.com>");
  c.Command("RCPT TO:<jordan.lee@example.net>");
  c.Command("DATA");
  c.SendRaw("Subject: hello\r\n\r\nbody\r\n.\r\n");
  EXPECT_EQ(c.Line().substr(0, 3), "250");
  EXPECT_EQ(emlFiles(maildir_).size(), 3u);
}

TEST_F(DemoServerTest, SmtpRefusesCommandsOutOfOrder) {
  Start();
  Client c(server_->SmtpPort());
  c.Line();
  EXPECT_EQ(c.Command("AUTH PLAIN").substr(0, 3), "503") << "AUTH before EHLO";
  EXPECT_EQ(c.Command("HELO client.example"), "250 localhost");
  EXPECT_EQ(c.Command("AUTH LOGIN").substr(0, 3), "503") << "no AUTH after HELO";
  c.Send("EHLO client.example");
  c.SmtpReply();
  EXPECT_EQ(c.Command("AUTH CRAM-MD5").substr(0, 3), "504");
  EXPECT_EQ(c.Command("AUTH PLAIN"), "334 ");
  EXPECT_EQ(c.Command("*").substr(0, 3), "501");
  EXPECT_EQ(c.Command("AUTH PLAIN !!!").substr(0, 3), "501");
  c.Command("AUTH PLAIN " + base64(std::string("\0sam\0demo-password", 18)));
  EXPECT_EQ(c.Command("RCPT TO:<a@example.com>").substr(0, 3), "503");
  EXPECT_EQ(c.Command("DATA").substr(0, 3), "503");
  EXPECT_EQ(c.Command("MAIL FROM:sam").substr(0, 3), "501");
  c.Command("MAIL FROM:<sam.taylor@kelvrin.example>");
  EXPECT_EQ(c.Command("DATA").substr(0, 3), "503") << "DATA without RCPT";
  EXPECT_EQ(c.Command("XYZZY").substr(0, 3), "502");
}

TEST_F(DemoServerTest, DropAfterClosesTheConnectionAtTheKthCommandOfTheProcess) {
  Start({"--drop-after", "4"});
  {
    Client c(server_->PopPort());
    LogIn(c);           // commands 1 and 2
    c.Command("QUIT");  // 3
  }
  Client c(server_->PopPort());
  c.Line();
  EXPECT_EQ(c.Command("USER sam"), "<closed>") << "the 4th command gets no reply";
  EXPECT_EQ(emlFiles(maildir_).size(), 2u);

  Client after(server_->PopPort());
  LogIn(after);  // 5 and 6 are served again
  EXPECT_EQ(after.Command("STAT").substr(0, 5), "+OK 2");
}

TEST_F(DemoServerTest, DropAfterLosesTheDeletionsOfThatSession) {
  Start({"--drop-after", "4"});
  Client c(server_->PopPort());
  LogIn(c);
  c.Command("DELE 1");
  EXPECT_EQ(c.Command("QUIT"), "<closed>");
  EXPECT_EQ(emlFiles(maildir_).size(), 2u);
}

TEST_F(DemoServerTest, ErrOnAnswersTheKthCommandWithAnInjectedFault) {
  Start({"--err-on", "3", "--err-on", "5"});
  Client c(server_->PopPort());
  LogIn(c);
  EXPECT_EQ(c.Command("STAT"), "-ERR injected fault");
  EXPECT_EQ(c.Command("STAT").substr(0, 5), "+OK 2");
  EXPECT_EQ(c.Command("DELE 1"), "-ERR injected fault");
  EXPECT_EQ(c.Command("QUIT").substr(0, 3), "+OK");
  EXPECT_EQ(emlFiles(maildir_).size(), 2u) << "the faulted DELE did not happen";
}

TEST_F(DemoServerTest, GarbageLongLinesAndBareLineFeedsDoNotHurtTheServer) {
  Start();
  Client c(server_->PopPort());
  LogIn(c);
  EXPECT_EQ(c.Command(std::string(100000, 'A')), "-ERR line too long");
  static constexpr char kBinary[] = "\x01\xff\x7f garbage\0x";
  EXPECT_EQ(c.Command(std::string(kBinary, sizeof kBinary - 1)), "-ERR unknown command");
  EXPECT_EQ(c.Command("RETR 99999999999999999999").substr(0, 4), "-ERR");
  EXPECT_EQ(c.Command("TOP 1 -1").substr(0, 4), "-ERR");
  EXPECT_EQ(c.Command("LIST 0").substr(0, 4), "-ERR");
  c.SendRaw("NOOP\n");  // a bare LF still ends the line
  EXPECT_EQ(c.Line(), "+OK");
  c.SendRaw("STAT\r\nNOOP\r\n");  // pipelined
  EXPECT_EQ(c.Line().substr(0, 5), "+OK 2");
  EXPECT_EQ(c.Line(), "+OK");
  c.SendRaw("RETR 1");  // and vanish mid-command
  c.Close();

  Client smtp(server_->SmtpPort());
  smtp.Line();
  EXPECT_EQ(smtp.Command(std::string(10000, 'B')).substr(0, 3), "500");
  EXPECT_EQ(smtp.Command("NOOP").substr(0, 3), "250");
  smtp.Close();

  Client after(server_->PopPort());
  LogIn(after);
  EXPECT_EQ(after.Command("STAT").substr(0, 5), "+OK 2");
}

TEST_F(DemoServerTest, AnOverlongDataLineRejectsTheMessageButKeepsTheSession) {
  Start();
  Client c(server_->SmtpPort());
  SmtpLogIn(c);
  c.Command("MAIL FROM:<sam.taylor@kelvrin.example>");
  c.Command("RCPT TO:<alex.morgan@example.com>");
  c.Command("DATA");
  c.SendRaw("Subject: big\r\n\r\n" + std::string(100000, 'x') + "\r\nend\r\n.\r\n");
  EXPECT_EQ(c.Line().substr(0, 3), "552");
  EXPECT_EQ(c.Command("NOOP").substr(0, 3), "250");
  EXPECT_EQ(emlFiles(maildir_).size(), 2u);
}

TEST(DemoServerOptions, HelpDocumentsTheFaultOptions) {
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::execl(KELVRIN_DEMO_SERVER, KELVRIN_DEMO_SERVER, "--help", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char chunk[1024];
  for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;) {
    text.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(text.find("--drop-after K"), std::string::npos);
  EXPECT_NE(text.find("--err-on K"), std::string::npos);
}

}  // namespace
}  // namespace kelvrin::e2e
