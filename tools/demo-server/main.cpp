// kelvrin-demo-server: a small POP3 and SMTP server on 127.0.0.1 that serves
// a folder of .eml files, for the demo and for end-to-end tests.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "account.h"
#include "connection.h"
#include "demo_text.h"
#include "maildir.h"
#include "pop3_session.h"
#include "smtp_session.h"

namespace kelvrin::demo {
namespace {

constexpr std::size_t kMaxPop3Line = 1024;
constexpr int kMaxConnections = 64;

constexpr const char* kUsage = R"(Usage: kelvrin-demo-server --maildir DIR [options]

Serves the .eml files of DIR (in file-name order) over POP3 and stores mail
received over SMTP as new .eml files in DIR. Listens on 127.0.0.1 only.

Options:
  --maildir DIR       the mailbox folder (required; it must exist)
  --user U            account name for POP3 and SMTP (default: sam)
  --password P        password of the account (default: demo-password)
  --pop-port N        POP3 port; 0 lets the system choose a free one (default: 0)
  --smtp-port N       SMTP port; 0 lets the system choose a free one (default: 0)
  --port-file FILE    once listening, write "POP3 port N" and "SMTP port N" to
                      FILE (replaced atomically); the same two lines always go
                      to standard output
  --idle-timeout S    close a session idle for S seconds (default: 600)
  --quiet             no session log on standard error
  --help              show this text

Fault injection (for tests). POP3 command lines are counted from 1 across
all sessions of the process; each option may be given more than once:
  --drop-after K      close the POP3 connection right after receiving the
                      K-th command, without replying and without applying
                      that session's deletions
  --err-on K          answer "-ERR injected fault" to the K-th command
                      instead of executing it
)";

struct Options {
  std::filesystem::path maildir;
  Account account{"sam", "demo-password"};
  int popPort = 0;
  int smtpPort = 0;
  std::string portFile;
  int idleTimeoutSeconds = 600;
  bool quiet = false;
  std::set<std::uint64_t> dropAfter;
  std::set<std::uint64_t> errOn;
};

struct Server {
  Options options;
  Maildir maildir;
  std::atomic<std::uint64_t> pop3Commands{0};
  std::atomic<int> connections{0};
  std::atomic<std::uint64_t> sessionIds{0};
  std::mutex logMutex;

  explicit Server(Options o) : options(std::move(o)), maildir(options.maildir) {}

  void log(const std::string& text) {
    if (options.quiet) return;
    std::lock_guard lock(logMutex);
    std::cerr << "kelvrin-demo-server: " << text << std::endl;
  }
};

[[noreturn]] void usageError(const std::string& message) {
  std::cerr << "kelvrin-demo-server: " << message << "\n(see --help)\n";
  std::exit(2);
}

std::uint64_t numberOption(const std::string& name, const std::string& value, std::uint64_t max) {
  const auto n = parseNumber(value);
  if (!n || *n > max) usageError("bad value for " + name + ": " + value);
  return *n;
}

Options parseOptions(int argc, char** argv) {
  Options o;
  bool haveMaildir = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      std::exit(0);
    }
    if (arg == "--quiet") {
      o.quiet = true;
      continue;
    }
    if (i + 1 >= argc) usageError("unknown option or missing value: " + arg);
    const std::string value = argv[++i];
    if (arg == "--maildir") {
      o.maildir = value;
      haveMaildir = true;
    } else if (arg == "--user") {
      o.account.user = value;
    } else if (arg == "--password") {
      o.account.password = value;
    } else if (arg == "--pop-port") {
      o.popPort = static_cast<int>(numberOption(arg, value, 65535));
    } else if (arg == "--smtp-port") {
      o.smtpPort = static_cast<int>(numberOption(arg, value, 65535));
    } else if (arg == "--port-file") {
      o.portFile = value;
    } else if (arg == "--idle-timeout") {
      o.idleTimeoutSeconds = static_cast<int>(numberOption(arg, value, 86400));
      if (o.idleTimeoutSeconds == 0) usageError("--idle-timeout must be at least 1");
    } else if (arg == "--drop-after") {
      o.dropAfter.insert(numberOption(arg, value, ~std::uint64_t{0} >> 8));
    } else if (arg == "--err-on") {
      o.errOn.insert(numberOption(arg, value, ~std::uint64_t{0} >> 8));
    } else {
      usageError("unknown option: " + arg);
    }
  }
  if (!haveMaildir) usageError("--maildir is required");
  std::error_code ec;
  if (!std::filesystem::is_directory(o.maildir, ec)) {
    usageError("not a folder: " + o.maildir.string());
  }
  return o;
}

// A listening socket on 127.0.0.1; returns the descriptor and the port.
int listenOn(int port, int& boundPort) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return -1;
  }
  boundPort = ntohs(addr.sin_port);
  return fd;
}

bool writePortFile(const std::string& path, const std::string& text) {
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return false;
  const bool ok = std::fputs(text.c_str(), f) >= 0;
  if (std::fclose(f) != 0 || !ok) return false;
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

void servePop3(Server& server, int fd, std::uint64_t id) {
  Connection conn(fd);
  Pop3Session session(server.maildir, server.options.account);
  server.log("pop3 #" + std::to_string(id) + " from " + conn.peer());
  if (!conn.send(session.greeting())) return;
  const int timeoutMs = server.options.idleTimeoutSeconds * 1000;
  for (;;) {
    std::string line;
    const Connection::Result got = conn.readLine(line, kMaxPop3Line, timeoutMs);
    if (got == Connection::Result::Closed) break;
    if (got == Connection::Result::Timeout) {
      conn.send(session.idleTimeout().text);
      break;
    }
    const std::uint64_t count = ++server.pop3Commands;
    if (server.options.dropAfter.count(count) != 0) {
      server.log("pop3 #" + std::to_string(id) + ": dropped at command " + std::to_string(count));
      break;
    }
    Reply reply;
    if (server.options.errOn.count(count) != 0) {
      reply.text = "-ERR injected fault\r\n";
    } else if (got == Connection::Result::TooLong) {
      reply = session.lineTooLong();
    } else {
      const bool wasLoggedIn = session.loggedIn();
      reply = session.handle(line);
      if (!wasLoggedIn && session.loggedIn()) server.log("pop3 #" + std::to_string(id) + ": login");
    }
    if (!conn.send(reply.text) || reply.close) break;
  }
  if (session.deletedAtQuit() > 0) {
    server.log("pop3 #" + std::to_string(id) + ": removed " +
               std::to_string(session.deletedAtQuit()) + " messages");
  }
  server.log("pop3 #" + std::to_string(id) + " closed");
}

void serveSmtp(Server& server, int fd, std::uint64_t id) {
  Connection conn(fd);
  SmtpSession session(server.maildir, server.options.account);
  server.log("smtp #" + std::to_string(id) + " from " + conn.peer());
  if (!conn.send(session.greeting())) return;
  const int timeoutMs = server.options.idleTimeoutSeconds * 1000;
  std::string stored;
  for (;;) {
    std::string line;
    const Connection::Result got = conn.readLine(line, session.maxLineLength(), timeoutMs);
    if (got == Connection::Result::Closed) break;
    if (got == Connection::Result::Timeout) {
      conn.send(session.idleTimeout().text);
      break;
    }
    const Reply reply =
        got == Connection::Result::TooLong ? session.lineTooLong() : session.handle(line);
    if (session.lastStored() != stored) {
      stored = session.lastStored();
      server.log("smtp #" + std::to_string(id) + ": stored " + stored);
    }
    if (!reply.text.empty() && !conn.send(reply.text)) break;
    if (reply.close) break;
  }
  server.log("smtp #" + std::to_string(id) + " closed");
}

int signalPipe[2] = {-1, -1};

void onSignal(int) {
  const char c = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

int run(int argc, char** argv) {
  Server server(parseOptions(argc, argv));
  ::signal(SIGPIPE, SIG_IGN);

  int popPort = 0;
  int smtpPort = 0;
  const int popFd = listenOn(server.options.popPort, popPort);
  if (popFd < 0) {
    std::cerr << "kelvrin-demo-server: cannot listen on POP3 port " << server.options.popPort
              << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  const int smtpFd = listenOn(server.options.smtpPort, smtpPort);
  if (smtpFd < 0) {
    std::cerr << "kelvrin-demo-server: cannot listen on SMTP port " << server.options.smtpPort
              << ": " << std::strerror(errno) << "\n";
    return 1;
  }
  if (::pipe2(signalPipe, O_CLOEXEC) != 0) return 1;
  ::signal(SIGTERM, onSignal);
  ::signal(SIGINT, onSignal);

  const std::string ports =
      "POP3 port " + std::to_string(popPort) + "\nSMTP port " + std::to_string(smtpPort) + "\n";
  if (!server.options.portFile.empty() && !writePortFile(server.options.portFile, ports)) {
    std::cerr << "kelvrin-demo-server: cannot write " << server.options.portFile << "\n";
    return 1;
  }
  std::cout << ports << std::flush;
  server.log("serving " + server.options.maildir.string());

  for (;;) {
    pollfd fds[3] = {{popFd, POLLIN, 0}, {smtpFd, POLLIN, 0}, {signalPipe[0], POLLIN, 0}};
    if (::poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[2].revents != 0) break;
    for (int i = 0; i < 2; ++i) {
      if ((fds[i].revents & POLLIN) == 0) continue;
      const int fd = ::accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      const bool pop3 = i == 0;
      if (server.connections.load() >= kMaxConnections) {
        Connection refused(fd);
        refused.send(pop3 ? "-ERR too many connections\r\n"
                          : "421 4.3.2 Too many connections, try again later\r\n");
        continue;
      }
      ++server.connections;
      const std::uint64_t id = ++server.sessionIds;
      std::thread([&server, fd, pop3, id] {
        try {
          if (pop3) {
            servePop3(server, fd, id);
          } else {
            serveSmtp(server, fd, id);
          }
        } catch (const std::exception& e) {
          server.log(std::string("session ended by an error: ") + e.what());
        }
        --server.connections;
      }).detach();
    }
  }
  if (!server.options.portFile.empty()) std::remove(server.options.portFile.c_str());
  server.log("stopped");
  // Sessions may still run on their threads; end without unwinding under them.
  std::cout.flush();
  std::_Exit(0);
}

}  // namespace
}  // namespace kelvrin::demo

int main(int argc, char** argv) {
  return kelvrin::demo::run(argc, argv);
}
