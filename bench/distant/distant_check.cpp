// Whole runs of a header check side by side, against a private Dovecot,
// direct and through a delay proxy (a distant server): kelvrin-cli check
// with an empty header cache and again with it filled, Python's poplib
// doing the per-message dialogue (LIST n, TOP n 0, UIDL n), and a raw loop
// that pipelines the same commands in batches of 100 (the floor).
//
//   distant_check [--messages N] [--delay-ms D] [--only-direct] [--no-poplib]
//                 [--repeat R] [--wrap "PROGRAM ARGS"]
//
// --repeat runs the contenders R times in turn (first, cached, --no-cache,
// floor, first again, ...) and prints the median and the fastest of each:
// on a shared machine one run of each swings by a third from the next.
//
// --wrap runs every kelvrin-cli check under PROGRAM (a full path, its
// arguments split at blanks), e.g. "/usr/bin/heaptrack -o /tmp/check", to
// see where the bytes go; the peak RSS is then the wrapper's.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/dovecot_server.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using kelvrin::test::ChildProcess;
using kelvrin::test::DovecotServer;
using kelvrin::test::TempDir;

// A message whose header block is 1 to 2 KB, as real mail has.
std::string message(int n) {
  std::string text;
  const int hops = 3 + n % 5;
  for (int hop = 0; hop < hops; ++hop) {
    text += "Received: from relay" + std::to_string(hop) + ".example.net (relay" +
            std::to_string(hop) + ".example.net [192.0.2." + std::to_string(hop + 10) +
            "])\n\tby mx.example.org with ESMTPS id " + std::to_string(100000 + n) +
            "; Tue, 5 Mar 2024 10:00:00 +0100\n";
  }
  text += "DKIM-Signature: v=1; a=rsa-sha256; d=example.net; s=mail;\n\tbh=" +
          std::string(44, 'A' + n % 26) + "=;\n\tb=" + std::string(150, 'b') + "\n";
  text +=
      "From: \"Sender " + std::to_string(n) + "\" <sender" + std::to_string(n) + "@example.net>\n";
  text += "To: Bob <bob@example.org>\n";
  text += "Subject: " + std::string(n % 3 == 0 ? "WIN A FREE CRUISE offer " : "Meeting notes ") +
          std::to_string(n) + "\n";
  text += "Date: Tue, 5 Mar 2024 10:00:00 +0100\n";
  text += "Message-ID: <" + std::to_string(n) + ".bench@example.net>\n";
  text += "MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n\n";
  text += "Hello, this is message " + std::to_string(n) + ".\n";
  return text;
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Run {
  double wall = 0;
  long peakKb = 0;
  int status = 0;
};

// Runs argv to its end with the given environment additions, output to
// /dev/null; wall time and the child's peak resident memory.
Run runProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  const auto start = Clock::now();
  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    for (const std::string& e : env)
      putenv(const_cast<char*>(e.c_str()));
    FILE* null = std::fopen("/dev/null", "w");
    if (null != nullptr) {
      dup2(fileno(null), 1);
    }
    std::vector<char*> args;
    for (const std::string& a : argv)
      args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return {secondsSince(start), usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// The floor: USER, PASS, STAT, then LIST n, TOP n 0, UIDL n for every
// message, sent 100 messages at a time, every reply read only to its end.
double rawPipelined(std::uint16_t port, int count) {
  const auto start = Clock::now();
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    throw std::runtime_error("raw connect failed");
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  std::string buffer;
  std::size_t at = 0;
  const auto fill = [&] {
    char chunk[65536];
    const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) throw std::runtime_error("raw recv failed");
    buffer.append(chunk, static_cast<std::size_t>(got));
  };
  const auto readReply = [&](bool multiLine) {
    for (;;) {
      const std::size_t end = multiLine ? buffer.find("\r\n.\r\n", at) : buffer.find("\r\n", at);
      if (end != std::string::npos) {
        at = end + (multiLine ? 5 : 2);
        if (at > (1u << 20)) {
          buffer.erase(0, at);
          at = 0;
        }
        return;
      }
      fill();
    }
  };
  const auto sendAll = [&](const std::string& text) {
    if (send(fd, text.data(), text.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(text.size())) {
      throw std::runtime_error("raw send failed");
    }
  };
  readReply(false);
  sendAll("USER bob\r\nPASS secret\r\nSTAT\r\n");
  for (int i = 0; i < 3; ++i)
    readReply(false);
  for (int first = 1; first <= count; first += 100) {
    const int last = std::min(count, first + 99);
    std::string batch;
    for (int n = first; n <= last; ++n) {
      const std::string num = std::to_string(n);
      batch += "LIST " + num + "\r\nTOP " + num + " 0\r\nUIDL " + num + "\r\n";
    }
    sendAll(batch);
    for (int n = first; n <= last; ++n) {
      readReply(false);
      readReply(true);
      readReply(false);
    }
  }
  sendAll("QUIT\r\n");
  readReply(false);
  close(fd);
  return secondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
  int count = 1000;
  int delayMs = 5;
  bool onlyDirect = false;
  bool poplib = true;
  int repeat = 1;
  std::vector<std::string> wrap;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--messages") == 0 && i + 1 < argc) count = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--delay-ms") == 0 && i + 1 < argc) delayMs = std::atoi(argv[++i]);
    if (std::strcmp(argv[i], "--only-direct") == 0) onlyDirect = true;
    if (std::strcmp(argv[i], "--no-poplib") == 0) poplib = false;
    if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
      repeat = std::max(1, std::atoi(argv[++i]));
    }
    if (std::strcmp(argv[i], "--wrap") == 0 && i + 1 < argc) {
      const std::string words = argv[++i];
      std::size_t at = 0;
      while (at < words.size()) {
        const std::size_t end = std::min(words.find(' ', at), words.size());
        if (end > at) wrap.push_back(words.substr(at, end - at));
        at = end + 1;
      }
    }
  }
  if (!DovecotServer::Available()) {
    std::fprintf(stderr, "%s is not installed\n", DovecotServer::kBinary);
    return 2;
  }
  try {
    TempDir work("kelvrin-distant-");
    DovecotServer server;
    std::size_t bytes = 0;
    for (int n = 1; n <= count; ++n) {
      const std::string text = message(n);
      bytes += text.size();
      server.AddMessage(text);
    }
    server.Start();
    const std::uint16_t direct = server.Pop3Port();
    const std::uint16_t proxied = kelvrin::test::FreeLoopbackPort();
    ChildProcess proxy({"/usr/bin/python3", std::string(KELVRIN_BENCH_DIR) + "/delay_proxy.py",
                        std::to_string(proxied), std::to_string(direct), std::to_string(delayMs)},
                       work.Path() + "/proxy.log");
    if (!kelvrin::test::WaitForListener(proxied, 10000)) throw std::runtime_error("no proxy");
    std::printf("mailbox: %d messages, %.1f MB; proxy %d ms each way\n", count,
                static_cast<double>(bytes) / 1e6, delayMs);
    rawPipelined(direct, count);  // Dovecot builds its index

    struct Path {
      const char* name;
      std::uint16_t port;
    };
    std::vector<Path> paths = {{"loopback", direct}};
    if (!onlyDirect) paths.push_back({"delayed", proxied});
    if (repeat == 1) {
      std::printf("\n%-9s %-34s %9s %10s\n", "path", "run", "wall s", "peak RSS");
    } else {
      std::printf("\n%-9s %-34s %9s %9s %10s   (%d runs each)\n", "path", "run", "median s",
                  "fastest", "peak RSS", repeat);
    }
    for (const Path& path : paths) {
      const std::string home = work.Path() + "/home-" + path.name;
      const std::string cacheDir = work.Path() + "/cache-" + path.name;
      const std::string cacheEnv = "XDG_CACHE_HOME=" + cacheDir;
      const std::string dataEnv = "XDG_DATA_HOME=" + work.Path() + "/data";
      const std::vector<std::string> env = {cacheEnv, dataEnv};
      const Run init = runProcess({KELVRIN_CLI, "--home", home, "init", "--address",
                                   "bob@example.org", "--pop-host", "127.0.0.1", "--user", "bob",
                                   "--password", "secret", "--port", std::to_string(path.port)},
                                  env);
      if (init.status != 0) throw std::runtime_error("kelvrin-cli init failed");
      // Every run of each contender, in the order they were first taken.
      std::vector<std::string> order;
      std::map<std::string, std::vector<Run>> runs;
      const auto take = [&](const char* run, const Run& r) {
        if (runs.count(run) == 0) order.push_back(run);
        runs[run].push_back(r);
        if (repeat == 1) {
          if (r.peakKb > 0) {
            std::printf("%-9s %-34s %9.3f %7.1f MB\n", path.name, run, r.wall, r.peakKb / 1024.0);
          } else {
            std::printf("%-9s %-34s %9.3f %10s\n", path.name, run, r.wall, "");
          }
          std::fflush(stdout);
        }
      };
      const auto check = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {KELVRIN_CLI, "--home", home, "check"});
        args.insert(args.begin(), wrap.begin(), wrap.end());
        return runProcess(args, env);
      };
      for (int round = 0; round < repeat; ++round) {
        std::error_code ec;
        std::filesystem::remove_all(cacheDir, ec);  // a first check finds no cache
        const Run first = check({});
        if (first.status != 0) throw std::runtime_error("kelvrin-cli check failed");
        take("kelvrin-cli check (first)", first);
        take("kelvrin-cli check (cached)", check({}));
        take("kelvrin-cli check --no-cache", check({"--no-cache"}));
        take("raw pipelined loop (floor)", Run{rawPipelined(path.port, count), 0, 0});
        if (poplib) {
          take("poplib per-message",
               runProcess(
                   {"/usr/bin/python3", std::string(KELVRIN_BENCH_DIR) + "/../pop3/poplib_check.py",
                    "127.0.0.1", std::to_string(path.port), "bob", "secret"},
                   {}));
        }
      }
      if (repeat > 1) {
        for (const std::string& run : order) {
          std::vector<Run>& all = runs[run];
          std::sort(all.begin(), all.end(),
                    [](const Run& a, const Run& b) { return a.wall < b.wall; });
          long peak = 0;
          for (const Run& r : all)
            peak = std::max(peak, r.peakKb);
          const double median = all.size() % 2 == 1
                                    ? all[all.size() / 2].wall
                                    : (all[all.size() / 2 - 1].wall + all[all.size() / 2].wall) / 2;
          if (peak > 0) {
            std::printf("%-9s %-34s %9.3f %9.3f %7.1f MB\n", path.name, run.c_str(), median,
                        all.front().wall, peak / 1024.0);
          } else {
            std::printf("%-9s %-34s %9.3f %9.3f %10s\n", path.name, run.c_str(), median,
                        all.front().wall, "");
          }
        }
        std::fflush(stdout);
      }
    }
    proxy.Stop();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "benchmark failed: %s\n", error.what());
    return 1;
  }
  return 0;
}
