// Times a header check of many messages against a private Dovecot, side by
// side: TPop3Client (RetrieveAllHeaders with UIDLs, parsing included), a raw
// socket loop that sends the same commands and only waits for each reply's
// end (the protocol floor), and Python's poplib.
//
//   pop3_header_check [--messages N] [--rounds R] [--only raw|kelvrin|poplib]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocols/pop3_client.h"
#include "support/dovecot_server.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using kelvrin::protocols::TPop3Client;
using kelvrin::test::DovecotServer;

// Deterministic pseudo-random numbers for the generated mailbox.
std::uint32_t nextRandom(std::uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

std::string realisticMessage(int n, std::uint32_t& state) {
  static const char* const names[] = {"Anna Berg",   "Jonas Weber", "Mia Chen", "Lukas Novak",
                                      "Sara Okafor", "Tom Rossi",   "Eva Lind", "Omar Haddad"};
  static const char* const domains[] = {"example.org", "mail.example.net", "lists.example.com",
                                        "shop.example.biz"};
  static const char* const subjects[] = {"Re: Meeting notes for Thursday",
                                         "Your invoice %d is ready",
                                         "=?iso-8859-1?Q?Gr=FC=DFe_aus_dem_B=FCro?=",
                                         "[dev-list] Build failure on main (#%d)",
                                         "Fwd: Holiday pictures",
                                         "=?utf-8?B?VGhlIHdlZWtseSBuZXdzbGV0dGVy?=",
                                         "WIN A FREE CRUISE!!! Offer %d",
                                         "Order confirmation %d"};
  const char* name = names[nextRandom(state) % 8];
  const char* domain = domains[nextRandom(state) % 4];
  char subject[128];
  snprintf(subject, sizeof subject, subjects[nextRandom(state) % 8], n);
  std::string local = name;
  std::replace(local.begin(), local.end(), ' ', '.');
  std::transform(local.begin(), local.end(), local.begin(), ::tolower);
  auto hex = [&state](int groups) {
    std::string out;
    char part[16];
    for (int i = 0; i < groups; ++i) {
      snprintf(part, sizeof part, "%08X", nextRandom(state));
      out += part;
    }
    return out;
  };
  auto number = [&state](unsigned below) { return std::to_string(nextRandom(state) % below); };
  const std::string address = local + "@" + domain;
  const std::string mx = "mx" + number(9) + "." + domain;
  std::string text;
  text += "Return-Path: <" + address + ">\n";
  text += "Received: from " + mx + " (" + mx + " [192.0.2." + number(250) + "])\n";
  text += "\tby pop.example.net (Postfix) with ESMTPS id " + hex(1) + "\n";
  text += "\tfor <bob@example.net>; Tue, 5 Mar 2024 10:" + number(60) + ":" + number(60) +
          " +0100 (CET)\n";
  text += "Received: from localhost (localhost [127.0.0.1])\n";
  text += "\tby " + mx + " with ESMTP id " + hex(1) + "; Tue, 5 Mar 2024 10:" + number(60) + ":" +
          number(60) + " +0100\n";
  text += std::string("DKIM-Signature: v=1; a=rsa-sha256; c=relaxed/relaxed; d=") + domain +
          "; s=mail;\n";
  text += "\th=from:to:subject:date:message-id; bh=" + hex(4) + "=;\n";
  text += "\tb=" + hex(12) + "\n\t " + hex(12) + "==\n";
  text += std::string("From: \"") + name + "\" <" + address + ">\n";
  text += "To: Bob <bob@example.net>\n";
  if (nextRandom(state) % 3 == 0)
    text += "Cc: \"Team, Dev\" <dev@example.net>, carol@example.org\n";
  text += std::string("Subject: ") + subject + "\n";
  text += "Date: Tue, 5 Mar 2024 10:" + number(60) + ":" + number(60) + " +0100\n";
  text += "Message-ID: <" + hex(1) + "." + hex(1) + "@" + domain + ">\n";
  text += "MIME-Version: 1.0\n";
  text += "Content-Type: multipart/alternative; boundary=\"b" + hex(1) + "\"\n";
  text += "X-Mailer: Example Mail 4.2\n";
  text += "List-Unsubscribe: <mailto:leave-" + hex(1) + "@" + domain + ">\n";
  text += "\n";
  const unsigned paragraphs = 4 + nextRandom(state) % 40;
  for (unsigned p = 0; p < paragraphs; ++p) {
    text +=
        "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do eiusmod tempor\n"
        "incididunt ut labore et dolore magna aliqua. Ut enim ad minim veniam, quis nostrud\n\n";
  }
  return text;
}

// The protocol floor: the same commands, each reply read only to its end.
class RawSession {
 public:
  RawSession(std::uint16_t port, const char* user, const char* password) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      throw std::runtime_error("raw connect failed");
    }
    const int on = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    readUntil("\r\n");
    command(std::string("USER ") + user, "\r\n");
    command(std::string("PASS ") + password, "\r\n");
  }
  ~RawSession() {
    command("QUIT", "\r\n");
    close(fd_);
  }
  void command(const std::string& text, const char* end) {
    const std::string line = text + "\r\n";
    if (send(fd_, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
      throw std::runtime_error("raw send failed");
    }
    readUntil(end);
  }

 private:
  void readUntil(const char* end) {
    reply_.clear();
    const std::size_t endLength = strlen(end);
    char buffer[16384];
    for (;;) {
      const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
      if (got <= 0) throw std::runtime_error("raw recv failed");
      reply_.append(buffer, static_cast<std::size_t>(got));
      if (reply_.size() >= endLength &&
          reply_.compare(reply_.size() - endLength, endLength, end) == 0) {
        return;
      }
    }
  }
  int fd_ = -1;
  std::string reply_;
};

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// CPU seconds (user and system) this process has used.
double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Timing {
  double wall = 0;
  double cpu = 0;
};

Timing runRaw(const DovecotServer& server, int count) {
  RawSession session(server.Pop3Port(), server.User(), server.Password());
  session.command("STAT", "\r\n");
  const double cpu = cpuSeconds();
  const auto start = Clock::now();
  for (int n = 1; n <= count; ++n) {
    const std::string number = std::to_string(n);
    session.command("LIST " + number, "\r\n");
    session.command("TOP " + number + " 0", "\r\n.\r\n");
    session.command("UIDL " + number, "\r\n");
  }
  return {secondsSince(start), cpuSeconds() - cpu};
}

Timing runKelvrin(const DovecotServer& server, int count) {
  TPop3Client client;
  client.Host = "127.0.0.1";
  client.Port = std::to_string(server.Pop3Port());
  client.UserId = server.User();
  client.UserPasswd = server.Password();
  client.GetUIDLsOnRetrieve = true;
  client.OperationTimeout = 90000;
  if (!client.Connect() || !client.Login()) throw std::runtime_error("kelvrin login failed");
  client.GetStat();
  kelvrin::mail::TMailMessageList list;
  const double cpu = cpuSeconds();
  const auto start = Clock::now();
  const int fetched = client.RetrieveAllHeaders(list);
  const Timing timing{secondsSince(start), cpuSeconds() - cpu};
  if (fetched != count || list.Items(static_cast<std::size_t>(count) - 1).UIDL.empty()) {
    throw std::runtime_error("kelvrin fetched " + std::to_string(fetched) + " messages");
  }
  client.Quit();
  return timing;
}

Timing runPoplib(const DovecotServer& server, int count) {
  const std::string command = std::string("/usr/bin/python3 ") + KELVRIN_BENCH_DIR +
                              "/poplib_check.py 127.0.0.1 " + std::to_string(server.Pop3Port()) +
                              " " + server.User() + " " + server.Password();
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) throw std::runtime_error("cannot run poplib");
  int listed = 0;
  Timing timing;
  const int fields = fscanf(pipe, "%d %lf %lf", &listed, &timing.wall, &timing.cpu);
  pclose(pipe);
  if (fields != 3 || listed != count) throw std::runtime_error("poplib run failed");
  return timing;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int count = 10000;
  int rounds = 3;
  std::string only;  // profiling aid: run one contender only
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--messages") == 0) count = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
  }
  if (!DovecotServer::Available()) {
    std::fprintf(stderr, "%s is not installed\n", DovecotServer::kBinary);
    return 2;
  }
  kelvrin::test::TempDir spoolDir("kelvrin-bench-");
  setenv("TMPDIR", spoolDir.Path().c_str(), 1);
  try {
    DovecotServer server;
    std::uint32_t state = 12345;
    std::size_t bytes = 0;
    for (int n = 1; n <= count; ++n) {
      const std::string text = realisticMessage(n, state);
      bytes += text.size();
      server.AddMessage(text);
    }
    server.Start();
    std::printf("mailbox: %d messages, %.1f MB; warming up Dovecot's index...\n", count,
                static_cast<double>(bytes) / 1e6);
    runRaw(server, count);
    if (!only.empty()) {
      for (int round = 1; round <= rounds; ++round) {
        const Timing t = only == "raw"      ? runRaw(server, count)
                         : only == "poplib" ? runPoplib(server, count)
                                            : runKelvrin(server, count);
        std::printf("%s: %.3f s, CPU %.3f s\n", only.c_str(), t.wall, t.cpu);
      }
      return 0;
    }

    std::vector<double> raw, kelvrin, poplib, rawCpu, kelvrinCpu, poplibCpu;
    for (int round = 1; round <= rounds; ++round) {
      // Each contender goes first in turn, so none always meets a cold server.
      Timing r, k, p;
      for (int slot = 0; slot < 3; ++slot) {
        switch ((slot + round) % 3) {
          case 0:
            r = runRaw(server, count);
            break;
          case 1:
            k = runKelvrin(server, count);
            break;
          default:
            p = runPoplib(server, count);
        }
      }
      raw.push_back(r.wall);
      kelvrin.push_back(k.wall);
      poplib.push_back(p.wall);
      rawCpu.push_back(r.cpu);
      kelvrinCpu.push_back(k.cpu);
      poplibCpu.push_back(p.cpu);
      std::printf("round %d: raw %.3f s, TPop3Client %.3f s, poplib %.3f s\n", round, r.wall,
                  k.wall, p.wall);
    }
    const double r = median(raw), k = median(kelvrin), p = median(poplib);
    const double rc = median(rawCpu), kc = median(kelvrinCpu), pc = median(poplibCpu);
    auto us = [count](double seconds) { return seconds / count * 1e6; };
    std::printf("\nmedian of %d rounds, %d messages (LIST, TOP n 0, UIDL n each):\n", rounds,
                count);
    std::printf("  %-24s %8s %9s %8s %12s\n", "", "wall s", "msg/s", "x floor", "CPU us/msg");
    std::printf("  %-24s %8.3f %9.0f %8.2f %12.1f\n", "raw socket loop (floor)", r, count / r, 1.0,
                us(rc));
    std::printf("  %-24s %8.3f %9.0f %8.2f %12.1f\n", "TPop3Client", k, count / k, k / r, us(kc));
    std::printf("  %-24s %8.3f %9.0f %8.2f %12.1f\n", "Python poplib", p, count / p, p / r, us(pc));
    std::printf("  TPop3Client takes %.2f of poplib's time\n", k / p);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "benchmark failed: %s\n", error.what());
    return 1;
  }
  return 0;
}
