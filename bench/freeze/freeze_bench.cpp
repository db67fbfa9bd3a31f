// Never frozen: a 5 ms repeating timer runs on the desktop program's event
// loop (offscreen) and records the longest gap between two of its ticks
// while the core works through its ports as in the program:
//   (a) a check of N messages against a server that waits D ms before
//       every reply;
//   (b) a connect to a listening socket whose backlog is full, until the
//       time-out;
//   (c) the deletion of those N messages (same server);
//   (d) a check that fills the view (the Qt table in the main window) with
//       10,000 messages from a server that answers at once, and a sort of
//       that view by a header click.
//
//   kelvrin_freeze_bench [N=100] [D=200] [view rows=10000]
//
// The figures and how to read them: docs/PERFORMANCE.md, "Never frozen".
//
// The server is a small POP3 server on 127.0.0.1 in a thread of its own.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "gui/window/main_window.h"
#include "gui/window/message_table_model.h"
#include "platform/qt_event_pump.h"
#include "protocols/clock.h"
#include "ui/prompter.h"

namespace {

using namespace kelvrin;

// Boxes answered at once with their default (the benchmark asks nobody).
class QuietPrompter final : public ui::Prompter {
 protected:
  int showMessageBox(const ui::MessageBoxSpec&) override { return ui::kIdYes; }
  std::string showInputDialog(const ui::InputDialogSpec&) override {
    return std::string(ui::kInputCancelled);
  }
  void showProgressBox(const ui::ProgressBoxSpec&) override {}
  void updateProgressBox(int) override {}
  void hideProgressBox() override {}
  void playSound(const ui::BoxSound&) override {}
};

// One POP3 session at a time, every reply after `delayMs`; DELE marks and
// QUIT removes the marked messages.
class SlowPop3Server {
 public:
  SlowPop3Server(int messages, int delayMs) : delayMs_(delayMs) {
    for (int i = 1; i <= messages; ++i) {
      const bool spam = i % 3 == 0;
      std::string m = spam ? "From: Offers <deal" + std::to_string(i) + "@spam.example>\r\n"
                           : "From: Friend <friend" + std::to_string(i) + "@example.org>\r\n";
      m += spam ? "To: someone@elsewhere.example\r\n" : "To: me@example.com\r\n";
      m += "Subject: message " + std::to_string(i) + "\r\nDate: Mon, 3 Mar 2025 10:00:00 +0000\r\n";
      box_.push_back({"id" + std::to_string(i), m});
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener_, 4);
    socklen_t len = sizeof a;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~SlowPop3Server() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  int port() const { return port_; }
  std::size_t left() const { return leftCount_; }

 private:
  struct Message {
    std::string id;
    std::string headers;
  };

  void reply(int fd, const std::string& text) {
    std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_));
    std::size_t sent = 0;
    while (sent < text.size()) {
      const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  }

  void serve() {
    while (!stop_) {
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      session(fd);
      ::close(fd);
    }
  }

  void session(int fd) {
    std::vector<bool> marked(box_.size(), false);
    reply(fd, "+OK ready\r\n");
    std::string in;
    char buf[4096];
    for (;;) {
      const std::size_t eol = in.find("\r\n");
      if (eol == std::string::npos) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) return;
        in.append(buf, static_cast<std::size_t>(n));
        continue;
      }
      const std::string line = in.substr(0, eol);
      in.erase(0, eol + 2);
      const std::string verb = line.substr(0, line.find(' '));
      const int arg = line.size() > verb.size() ? std::atoi(line.c_str() + verb.size() + 1) : 0;
      const bool valid = arg >= 1 && arg <= static_cast<int>(box_.size()) &&
                         !marked[static_cast<std::size_t>(arg - 1)];
      const Message* m = valid ? &box_[static_cast<std::size_t>(arg - 1)] : nullptr;
      if (verb == "USER" || verb == "PASS" || verb == "NOOP" || verb == "RSET") {
        if (verb == "RSET") marked.assign(box_.size(), false);
        reply(fd, "+OK\r\n");
      } else if (verb == "STAT") {
        reply(fd, "+OK " + std::to_string(box_.size()) + " 0\r\n");
      } else if (verb == "LAST") {
        reply(fd, "+OK 0\r\n");
      } else if (verb == "UIDL" && arg == 0) {
        std::string t = "+OK\r\n";
        for (std::size_t i = 0; i < box_.size(); ++i)
          if (!marked[i]) t += std::to_string(i + 1) + " " + box_[i].id + "\r\n";
        reply(fd, t + ".\r\n");
      } else if (verb == "UIDL" && m) {
        reply(fd, "+OK " + std::to_string(arg) + " " + m->id + "\r\n");
      } else if (verb == "LIST" && m) {
        reply(fd,
              "+OK " + std::to_string(arg) + " " + std::to_string(m->headers.size() + 10) + "\r\n");
      } else if ((verb == "TOP" || verb == "RETR") && m) {
        reply(fd, "+OK\r\n" + m->headers + "\r\nbody\r\n.\r\n");
      } else if (verb == "DELE" && m) {
        marked[static_cast<std::size_t>(arg - 1)] = true;
        reply(fd, "+OK\r\n");
      } else if (verb == "QUIT") {
        std::vector<Message> kept;
        for (std::size_t i = 0; i < box_.size(); ++i)
          if (!marked[i]) kept.push_back(box_[i]);
        box_ = std::move(kept);
        leftCount_ = box_.size();
        reply(fd, "+OK bye\r\n");
        return;
      } else {
        reply(fd, "-ERR\r\n");
      }
    }
  }

  int delayMs_;
  std::vector<Message> box_;
  std::atomic<std::size_t> leftCount_{0};
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// The 5 ms timer and the longest gap between its ticks while `work` runs
// from the event loop.
struct Gap {
  qint64 longestMs = 0;
  qint64 totalMs = 0;
  long ticks = 0;
};

Gap measure(const std::function<void()>& work) {
  Gap gap;
  QElapsedTimer clock;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(5);
  qint64 last = 0;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    gap.longestMs = std::max(gap.longestMs, now - last);
    last = now;
    ++gap.ticks;
  });
  QTimer::singleShot(0, [&] {
    clock.start();
    last = 0;
    ticker.start();
    work();
    const qint64 now = clock.elapsed();
    gap.longestMs = std::max(gap.longestMs, now - last);
    gap.totalMs = now;
    ticker.stop();
    QCoreApplication::exit(0);
  });
  QApplication::exec();
  return gap;
}

struct Setup {
  Setup(int port, const QTemporaryDir& dir)
      : kv(app::Ports{{}, pump, clock, prompter},
           dir.filePath(QStringLiteral("home")).toStdString()) {
    kv.FormCreate();
    kv.FormShow();
    auto& wizard = *kv.KVWForm1;
    wizard.setText("KVWMainEmail1", "me@example.com");
    wizard.setText("KVWEdhost", "127.0.0.1");
    wizard.setText("KVWedUser", "bob");
    wizard.setText("KVWedPassword", "secret");
    wizard.setText("PopPort", std::to_string(port));
    wizard.setValue("KVWccntypeGroup", 0);
    kv.KVmain->setChecked("AutoUpdate1", false);
    kv.KVmain->setChecked("WarnDelNoSpam1", false);
    kv.KVmain->setChecked("NonInterDel1", false);
    kv.State.OnlineState = app::kOnline;
    kv.State.MainWindowVisible = true;
    kv.lbAllowEM->Add("me@example.com");
    // Timers of their own would only add work to the measurement.
    kv.ETimer1.setEnabled(false);
    kv.ETimer2.setEnabled(false);
  }
  void check() {
    kv.btOpenClick();
    kv.Check().RunRequestedCheck();
  }
  platform::QtEventPump pump;
  protocols::SystemClock clock;
  QuietPrompter prompter;
  app::TKVmain kv;
};

void print(const char* what, const Gap& gap) {
  std::printf("%-52s longest gap %5lld ms   (%ld ticks in %lld ms)\n", what,
              static_cast<long long>(gap.longestMs), gap.ticks,
              static_cast<long long>(gap.totalMs));
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  const int messages = argc > 1 ? std::atoi(argv[1]) : 100;
  const int delayMs = argc > 2 ? std::atoi(argv[2]) : 200;
  const int viewRows = argc > 3 ? std::atoi(argv[3]) : 10000;
  QTemporaryDir dir;
  qputenv("XDG_CACHE_HOME", dir.filePath(QStringLiteral("cache")).toUtf8());
  qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());

  {
    SlowPop3Server server(messages, delayMs);
    Setup s(server.port(), dir);
    gui::MainWindow window(s.kv);
    window.show();
    // The core's Delay, which InitComms calls once between connect and
    // login, on its own: what a check cannot go below.
    print("Delay(100) alone", measure([&] { s.kv.Delay(100); }));
    const std::string a = "(a) check, " + std::to_string(messages) + " messages, " +
                          std::to_string(delayMs) + " ms a reply";
    print(a.c_str(), measure([&] { s.check(); }));
    if (s.kv.VTree1.RootNodeCount() != static_cast<std::size_t>(messages)) {
      std::fprintf(stderr, "the check listed %zu messages\n", s.kv.VTree1.RootNodeCount());
      return 1;
    }
    s.kv.View().MarkAll1Click();
    const std::string c = "(c) deletion of " + std::to_string(messages) + " messages";
    print(c.c_str(), measure([&] { s.kv.btDeleteClick(app::kTagDeleteAll); }));
    if (server.left() != 0) {
      std::fprintf(stderr, "%zu messages were left on the server\n", server.left());
      return 1;
    }
  }
  {
    // (b) A listening socket whose backlog is full: nobody accepts, and the
    // queue is filled first, so the check's connect waits until its
    // time-out (shortened here from the program's 90 s).
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 0);
    socklen_t len = sizeof a;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
      const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
      fillers.push_back(fd);
    }
    Setup s(ntohs(a.sin_port), dir);
    s.kv.Pop3Client1.OperationTimeout = 3000;
    print("(b) connect to a full backlog, 3 s time-out", measure([&] { s.check(); }));
    for (int fd : fillers)
      ::close(fd);
    ::close(listener);
  }
  {
    SlowPop3Server server(viewRows, 0);
    Setup s(server.port(), dir);
    gui::MainWindow window(s.kv);
    window.show();
    const std::string d = "(d) check filling the view, " + std::to_string(viewRows) + " messages";
    print(d.c_str(), measure([&] { s.check(); }));
    // The fill of the view on its own, as the check's last step does it:
    // every row initialised (scored) and the rows sorted, through the table.
    print("(d) the fill alone (rows scored, sorted, shown)", measure([&] {
            auto& view = s.kv.VTree1;
            view.Clear();
            view.BeginUpdate();
            view.setRootNodeCount(s.kv.MessageList1.Count());
            view.EndUpdate();
          }));
    print("(d) sort of the view by a header click (Subject)",
          measure([&] { window.messageModel()->sort(app::kColSubject); }));
    print("(d) sort of the view by a header click (Spam%)",
          measure([&] { window.messageModel()->sort(app::kColSpam); }));
  }
  return 0;
}
