// What the copy before every DELE costs: the time of deleting 100 spam
// messages of 5 KB from a private Dovecot with and without the quarantine,
// directly and through a loopback proxy that delays every piece by 5 ms each
// way (a 10 ms round trip). Beside the program, the protocol floor of the
// same dialogue on a raw socket: DELE only, LIST+RETR+DELE one at a time,
// and the RETRs and DELEs pipelined as RFC 2449 PIPELINING allows.
//
// Then the disk's part: the store alone, into an empty quarantine and into
// one that already holds many copies, and the floor of one synced file.
//
//   quarantine_delete_cost [--messages N] [--size BYTES] [--rounds R] [--delay-ms D]
//                          [--held COPIES] [--only store]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "app/check_cycle.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "app/quarantine_copy.h"
#include "protocols/pop3_client.h"
#include "support/dovecot_server.h"
#include "support/fake_prompter.h"
#include "support/temp_dir.h"

#include "quarantine/quarantine_store.h"

namespace {

using Steady = std::chrono::steady_clock;
using kelvrin::test::DovecotServer;

double secondsSince(Steady::time_point start) {
  return std::chrono::duration<double>(Steady::now() - start).count();
}

int connectLoopback(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    throw std::runtime_error("cannot connect to port " + std::to_string(port));
  }
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return fd;
}

// A loopback proxy in front of a server that hands every piece on only after
// a fixed delay, in each direction: a distant server on the local machine.
class DelayProxy {
 public:
  DelayProxy(std::uint16_t upstream, int delayMs) : upstream_(upstream), delay_(delayMs) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      throw std::runtime_error("proxy cannot listen");
    }
    port_ = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~DelayProxy() {
    stop_ = true;
    ::shutdown(listen_, SHUT_RDWR);
    acceptor_.join();
    ::close(listen_);
    for (auto& t : pipes_)
      t.join();
  }
  std::uint16_t Port() const { return port_; }

 private:
  void acceptLoop() {
    while (!stop_) {
      const int client = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) return;
      const int on = 1;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      int server = -1;
      try {
        server = connectLoopback(upstream_);
      } catch (...) {
        ::close(client);
        continue;
      }
      // Each end is closed by the direction that reads from it, once the
      // other direction has seen the end as well (shared count).
      auto open = std::make_shared<std::atomic<int>>(2);
      pipes_.emplace_back([=, this] { pump(client, server, open); });
      pipes_.emplace_back([=, this] { pump(server, client, open); });
    }
  }

  void pump(int from, int to, std::shared_ptr<std::atomic<int>> open) const {
    struct Piece {
      Steady::time_point due;
      std::string bytes;
    };
    std::deque<Piece> queue;
    bool ended = false;
    char buffer[65536];
    while (!ended || !queue.empty()) {
      int timeout = -1;
      if (!queue.empty()) {
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(queue.front().due -
                                                                                Steady::now());
        timeout = static_cast<int>(std::max<std::int64_t>(0, wait.count()));
      }
      if (ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout));
      } else {
        pollfd p{from, POLLIN, 0};
        if (::poll(&p, 1, timeout) > 0) {
          const ssize_t n = ::recv(from, buffer, sizeof buffer, 0);
          if (n <= 0) {
            ended = true;
          } else {
            queue.push_back({Steady::now() + std::chrono::milliseconds(delay_),
                             std::string(buffer, static_cast<std::size_t>(n))});
          }
        }
      }
      while (!queue.empty() && queue.front().due <= Steady::now()) {
        const std::string& bytes = queue.front().bytes;
        if (::send(to, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0) {
          queue.clear();
          ended = true;
          break;
        }
        queue.pop_front();
      }
    }
    ::shutdown(to, SHUT_WR);
    if (--*open == 0) {
      ::close(from);
      ::close(to);
    }
  }

  std::uint16_t upstream_;
  int delay_;
  int listen_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> pipes_;
};

std::string spamMessage(int n, std::size_t size) {
  std::string text = "Return-Path: <deal" + std::to_string(n) +
                     "@spam.example>\n"
                     "From: Offers <deal" +
                     std::to_string(n) +
                     "@spam.example>\n"
                     "To: someone@elsewhere.example\n"
                     "Subject: Cheap stuff " +
                     std::to_string(n) +
                     "\n"
                     "Date: Fri, 7 Mar 2025 09:00:00 +0000\n"
                     "Message-ID: <cost-" +
                     std::to_string(n) + "@spam.example>\n\n";
  const std::string line(74, 'x');
  // Sizes as the server gives them, with CR LF line ends.
  auto crlfSize = [](const std::string& t) {
    return t.size() + static_cast<std::size_t>(std::count(t.begin(), t.end(), '\n'));
  };
  while (crlfSize(text) + line.size() + 2 <= size)
    text += line + "\n";
  return text;
}

// The protocol floor: the deletion's commands on a raw socket, replies read
// to their end.
class RawSession {
 public:
  RawSession(std::uint16_t port, const DovecotServer& server) : fd_(connectLoopback(port)) {
    readLine();
    command(std::string("USER ") + server.User());
    command(std::string("PASS ") + server.Password());
  }
  ~RawSession() { ::close(fd_); }
  void command(const std::string& text, bool multiLine = false) {
    send(text + "\r\n");
    multiLine ? readMulti() : readLine();
  }
  void send(const std::string& bytes) {
    if (::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(bytes.size())) {
      throw std::runtime_error("raw send failed");
    }
  }
  std::string readLine() { return readUntil("\r\n"); }
  std::string readMulti() { return readUntil("\r\n.\r\n"); }

 private:
  std::string readUntil(const std::string& end) {
    for (;;) {
      const std::size_t at = buffer_.find(end);
      if (at != std::string::npos && buffer_.compare(0, 4, "-ERR") != 0) {
        std::string reply = buffer_.substr(0, at + end.size());
        buffer_.erase(0, at + end.size());
        return reply;
      }
      if (buffer_.compare(0, 4, "-ERR") == 0) throw std::runtime_error("raw: " + buffer_);
      char chunk[65536];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n <= 0) throw std::runtime_error("raw recv failed");
      buffer_.append(chunk, static_cast<std::size_t>(n));
    }
  }
  int fd_;
  std::string buffer_;
};

enum class Floor { DeleOnly, OneAtATime, Pipelined };

double runFloor(std::uint16_t port, const DovecotServer& server, int count, Floor kind) {
  const auto start = Steady::now();
  RawSession s(port, server);
  s.command("STAT");
  s.command("UIDL", true);
  if (kind == Floor::Pipelined) {
    std::string batch;
    for (int n = 1; n <= count; ++n)
      batch += "RETR " + std::to_string(n) + "\r\nDELE " + std::to_string(n) + "\r\n";
    s.send(batch);
    for (int n = 1; n <= count; ++n) {
      s.readMulti();
      s.readLine();
    }
  } else {
    for (int n = 1; n <= count; ++n) {
      const std::string number = std::to_string(n);
      if (kind == Floor::OneAtATime) {
        s.command("LIST " + number);
        s.command("RETR " + number, true);
      }
      s.command("DELE " + number);
    }
  }
  s.command("QUIT");
  return secondsSince(start);
}

struct Outcome {
  double seconds = 0;
  std::size_t kept = 0;
};

// One spam deletion by the program: the check (not timed), then the deletion
// of every row in a session of its own and the QUIT that makes it final.
Outcome runProgram(std::uint16_t port, const DovecotServer& server, int count, bool quarantine) {
  kelvrin::test::TempDir home("kelvrin-bench-home-");
  kelvrin::test::TempDir data("kelvrin-bench-data-");
  kelvrin::test::FakePrompter prompter;
  kelvrin::protocols::NullEventPump pump;
  kelvrin::quarantine::QuarantineStore store(std::filesystem::path(data.Path()) / "quarantine");
  kelvrin::app::TKVmain kv(
      kelvrin::app::Ports{{}, pump, kelvrin::protocols::DefaultClock(), prompter}, home.Path());
  kv.FormCreate();
  kv.KVmain->setChecked("KeepDeleted1", quarantine);
  if (quarantine) kv.setDeletionCopy(std::make_unique<kelvrin::app::QuarantineCopy>(store, false));
  kv.FormShow();
  auto& wizard = *kv.KVWForm1;
  wizard.setText("KVWMainEmail1", "bob@example.net");
  wizard.setText("KVWEdhost", "127.0.0.1");
  wizard.setText("KVWedUser", server.User());
  wizard.setText("KVWedPassword", server.Password());
  wizard.setText("PopPort", std::to_string(port));
  wizard.setValue("KVWccntypeGroup", 0);
  kv.KVmain->setChecked("AutoUpdate1", false);
  kv.State.OnlineState = 1;
  kv.btOpenClick();
  kv.Check().RunRequestedCheck();
  if (kv.VTree1.RootNodeCount() != static_cast<std::size_t>(count)) {
    throw std::runtime_error("the check listed " + std::to_string(kv.VTree1.RootNodeCount()) +
                             ": " + kv.dfsStatus.Status());
  }
  kv.View().MarkAll1Click();
  const auto start = Steady::now();
  // The Send/Receive origin: no follow-up check, the session stays open.
  kv.btDeleteClick(kelvrin::app::kTagSendReceive);
  kv.Pop3Client1.Quit();
  Outcome outcome{secondsSince(start), 0};
  if (static_cast<int>(kv.Delete().Deleted().size()) != count) {
    throw std::runtime_error("deleted " + std::to_string(kv.Delete().Deleted().size()) + ": " +
                             kv.dfsStatus.Status());
  }
  outcome.kept = store.Entries().size();
  if (quarantine && outcome.kept != static_cast<std::size_t>(count)) {
    throw std::runtime_error("kept " + std::to_string(outcome.kept) + " copies");
  }
  kv.FormDestroy();
  return outcome;
}

// The store alone: count copies of size bytes kept as the deletion keeps
// them (Begin, Append, Commit, Prune), into a quarantine that already holds
// held copies (written straight into the Maildir and the index).
struct StoreTiming {
  double open = 0;    // Open: the index read and the Maildir listed
  double copies = 0;  // the copies after it
};

StoreTiming runStore(int count, std::size_t size, int held) {
  namespace q = kelvrin::quarantine;
  kelvrin::test::TempDir data("kelvrin-bench-data-");
  const std::filesystem::path folder = std::filesystem::path(data.Path()) / "quarantine";
  {
    q::QuarantineStore store(folder);
    store.Open();
  }
  const std::string bytes = spamMessage(0, size);
  std::vector<q::QuarantineEntry> entries;
  for (int i = 0; i < held; ++i) {
    q::QuarantineEntry e;
    char id[16];
    std::snprintf(id, sizeof id, "%012x", i);
    e.Id = id;
    e.FileName = "1700000000." + e.Id + ".kelvrin";
    e.DeletedAt = 1700000000;
    e.Host = "pop.example.net";
    e.Port = 110;
    e.User = "bob";
    e.UIDL = "held" + std::to_string(i);
    e.From = "Offers <deal@spam.example>";
    e.Subject = "Cheap stuff";
    e.Level = 10;
    e.Size = static_cast<std::int64_t>(bytes.size());
    kelvrin::test::WriteTextFile((folder / "new" / e.FileName).string(), bytes);
    entries.push_back(std::move(e));
  }
  kelvrin::test::WriteTextFile((folder / "index").string(), q::FormatIndex(entries));
  q::QuarantineSettings settings;
  settings.RetentionDays = 100000;  // nothing is old enough to go
  settings.SizeCap = std::int64_t{1} << 40;
  q::QuarantineStore store(folder);
  auto start = Steady::now();
  store.Open();
  StoreTiming timing;
  timing.open = secondsSince(start);
  start = Steady::now();
  for (int n = 0; n < count; ++n) {
    auto writer = store.Begin();
    writer->Append(bytes);
    q::QuarantineEntry e;
    e.UIDL = "new" + std::to_string(n);
    writer->Commit(e);
    store.Prune(settings);
  }
  timing.copies = secondsSince(start);
  if (store.Entries().size() != static_cast<std::size_t>(count + held)) {
    throw std::runtime_error("the store holds " + std::to_string(store.Entries().size()));
  }
  return timing;
}

// The durability floor: count files of size bytes written and synced, each
// moved into place with its folder synced.
double runSyncFloor(int count, std::size_t size) {
  kelvrin::test::TempDir data("kelvrin-bench-data-");
  const std::string bytes(size, 'x');
  const auto start = Steady::now();
  for (int n = 0; n < count; ++n) {
    const std::string temp = data.Path() + "/t" + std::to_string(n);
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) ||
        ::fsync(fd) != 0) {
      throw std::runtime_error("cannot write " + temp);
    }
    ::close(fd);
    ::rename(temp.c_str(), (data.Path() + "/f" + std::to_string(n)).c_str());
    const int dir = ::open(data.Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::fsync(dir);
    ::close(dir);
  }
  return secondsSince(start);
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  int count = 100;
  std::size_t size = 5 * 1024;
  int rounds = 5;
  int delayMs = 5;
  int held = 10000;
  bool storeOnly = false;  // profiling aid: the disk's part alone
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--messages") == 0) count = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--size") == 0)
      size = static_cast<std::size_t>(std::atol(argv[i + 1]));
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--delay-ms") == 0) delayMs = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--held") == 0) held = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--only") == 0) storeOnly = std::strcmp(argv[i + 1], "store") == 0;
  }
  if (!DovecotServer::Available()) {
    std::fprintf(stderr, "%s is not installed\n", DovecotServer::kBinary);
    return 2;
  }
  kelvrin::test::TempDir spool("kelvrin-bench-");
  setenv("TMPDIR", spool.Path().c_str(), 1);
  // Every measurement deletes the whole mailbox: each gets a fresh server.
  const auto fresh = [&] {
    auto server = std::make_unique<DovecotServer>();
    for (int n = 1; n <= count; ++n)
      server->AddMessage(spamMessage(n, size));
    server->Start();
    return server;
  };
  try {
    if (!storeOnly) {
      auto server = fresh();
      RawSession s(server->Pop3Port(), *server);
      s.send("CAPA\r\n");
      std::string capa = s.readMulti();
      std::replace(capa.begin(), capa.end(), '\r', ' ');
      std::replace(capa.begin(), capa.end(), '\n', ' ');
      std::printf("server CAPA: %s\n", capa.c_str());
    }
    struct Row {
      const char* name;
      bool distant;
      int kind;  // 0 program without, 1 program with the quarantine, 2.. floors
      std::vector<double> seconds;
    };
    std::vector<Row> rows;
    for (bool distant : {false, true}) {
      if (storeOnly) break;
      rows.push_back({"program, quarantine off", distant, 0, {}});
      rows.push_back({"program, quarantine on", distant, 1, {}});
      rows.push_back({"floor: DELE only", distant, 2, {}});
      rows.push_back({"floor: LIST+RETR+DELE", distant, 3, {}});
      rows.push_back({"floor: RETR+DELE pipelined", distant, 4, {}});
    }
    std::vector<double> sync, storeEmpty, storeFull, openFull;
    for (int round = 1; round <= rounds; ++round) {
      sync.push_back(runSyncFloor(count, size));
      storeEmpty.push_back(runStore(count, size, 0).copies);
      const StoreTiming full = runStore(count, size, held);
      storeFull.push_back(full.copies);
      openFull.push_back(full.open);
      for (Row& row : rows) {
        auto server = fresh();
        std::unique_ptr<DelayProxy> proxy;
        if (row.distant) proxy = std::make_unique<DelayProxy>(server->Pop3Port(), delayMs);
        const std::uint16_t port = row.distant ? proxy->Port() : server->Pop3Port();
        double seconds = 0;
        switch (row.kind) {
          case 0:
          case 1:
            seconds = runProgram(port, *server, count, row.kind == 1).seconds;
            break;
          case 2:
            seconds = runFloor(port, *server, count, Floor::DeleOnly);
            break;
          case 3:
            seconds = runFloor(port, *server, count, Floor::OneAtATime);
            break;
          default:
            seconds = runFloor(port, *server, count, Floor::Pipelined);
        }
        row.seconds.push_back(seconds);
      }
      std::fprintf(stderr, "round %d of %d done\n", round, rounds);
    }
    std::printf("\n%d messages of %zu bytes, median of %d rounds; distant: +%d ms each way\n",
                count, size, rounds, delayMs);
    std::printf("  %-8s %-28s %9s %11s\n", "", "", "wall s", "ms/message");
    for (const Row& row : rows) {
      const double m = median(row.seconds);
      std::printf("  %-8s %-28s %9.3f %11.2f\n", row.distant ? "distant" : "direct", row.name, m,
                  m * 1000 / count);
    }
    const auto line = [&](const char* name, const std::vector<double>& seconds) {
      const double m = median(seconds);
      std::printf("  %-8s %-28s %9.3f %11.2f\n", "disk", name, m, m * 1000 / count);
    };
    line("one synced file + folder", sync);
    line("store: empty quarantine", storeEmpty);
    const std::string full = "store: " + std::to_string(held) + " copies held";
    line(full.c_str(), storeFull);
    std::printf("  %-8s %-28s %9.3f\n", "disk", ("Open, " + std::to_string(held) + " held").c_str(),
                median(openFull));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "benchmark failed: %s\n", error.what());
    return 1;
  }
  return 0;
}
