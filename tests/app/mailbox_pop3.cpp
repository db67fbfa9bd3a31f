#include "app/mailbox_pop3.h"

#include <algorithm>
#include <cerrno>

namespace kelvrin::test {

class MailboxPop3::Socket final : public protocols::Socket {
 public:
  explicit Socket(MailboxPop3& server) : server_(server) {}
  bool IsConnected() const override { return server_.connected(); }
  bool IsTls() const override { return false; }
  std::string LocalHostName() const override { return "testhost"; }
  std::string LocalAddress() const override { return server_.clientOpen_ ? "127.0.0.1" : ""; }
  std::string PeerAddress() const override { return server_.clientOpen_ ? "127.0.0.1" : ""; }

 protected:
  void doOpen(int) override {
    notifyLookup();
    notifyConnecting();
    server_.open();
  }
  void doStartTls(int) override {}
  void doSend(std::string_view data) override {
    if (!server_.connected()) throw protocols::SocketError("Broken pipe", EPIPE, "send");
    server_.pending_.append(data);
    for (;;) {
      const std::size_t end = server_.pending_.find("\r\n");
      if (end == std::string::npos) break;
      const std::string line = server_.pending_.substr(0, end);
      server_.pending_.erase(0, end + 2);
      // A server that has closed its end reads nothing more.
      if (server_.serverClosed_) continue;
      server_.command(line);
    }
  }
  bool doWaitReadable(int timeoutMs) override { return server_.waitReadable(timeoutMs); }
  std::size_t doReceive(char* buffer, std::size_t size) override {
    return server_.receive(buffer, size);
  }
  bool doClose() override {
    const bool was = server_.clientOpen_;
    server_.clientOpen_ = false;
    server_.incoming_.clear();
    server_.endSession();
    return was;
  }

 private:
  MailboxPop3& server_;
};

std::unique_ptr<protocols::Socket> MailboxPop3::MakeSocket() {
  return std::make_unique<Socket>(*this);
}

std::set<std::string> MailboxPop3::Ids() const {
  std::set<std::string> ids;
  for (const auto& m : mailbox)
    ids.insert(m.id);
  return ids;
}

void MailboxPop3::open() {
  endSession();
  ++sessions_;
  open_ = true;
  clientOpen_ = true;
  serverClosed_ = false;
  endRead_ = false;
  incoming_.clear();
  pending_.clear();
  snapshot_.clear();
  for (std::size_t i = 0; i < mailbox.size(); ++i)
    snapshot_.push_back(i);
  marked_.assign(mailbox.size(), false);
  log_.push_back("--");
  reply("+OK ready");
  sendUnsolicited("");
}

std::string MailboxPop3::reportedId(std::size_t index) const {
  if (spamSharesValidId) {
    const auto spam = std::find_if(mailbox.begin(), mailbox.end(), [](auto& m) { return m.spam; });
    const auto valid =
        std::find_if(mailbox.begin(), mailbox.end(), [](auto& m) { return !m.spam; });
    if (spam != mailbox.end() && valid != mailbox.end() &&
        static_cast<std::size_t>(spam - mailbox.begin()) == index) {
      return valid->id;
    }
  }
  return mailbox[index].id;
}

void MailboxPop3::sendUnsolicited(const std::string& command) {
  if (!unsolicitedAfter) return;
  const std::string extra = unsolicitedAfter(command);
  if (!extra.empty()) incoming_.push_back(extra + "\r\n");
}

void MailboxPop3::endSession() {
  // Without QUIT nothing is removed.
  open_ = false;
  marked_.clear();
  snapshot_.clear();
}

void MailboxPop3::reply(const std::string& text) {
  const std::string whole = text + "\r\n";
  const std::size_t pieces = static_cast<std::size_t>(std::max(1, replyPieces));
  const std::size_t step = (whole.size() + pieces - 1) / pieces;
  for (std::size_t at = 0; at < whole.size(); at += step)
    incoming_.push_back(whole.substr(at, step));
  waitedOnce_ = false;
}

int MailboxPop3::at(int position, bool includeMarked) const {
  if (position < 1 || static_cast<std::size_t>(position) > snapshot_.size()) return -1;
  const auto p = static_cast<std::size_t>(position - 1);
  if (marked_[p] && !includeMarked) return -1;
  return static_cast<int>(snapshot_[p]);
}

void MailboxPop3::command(const std::string& line) {
  log_.push_back(line);
  ++commands_;
  if (onCommand) onCommand(line);
  if (commands_ == dropAfter) {
    serverClosed_ = true;
    endSession();
    return;
  }
  if (commands_ == errOn) {
    reply("-ERR injected");
    sendUnsolicited(line);
    return;
  }
  answer(line);
  sendUnsolicited(line);
}

void MailboxPop3::answer(const std::string& line) {
  const std::size_t blank = line.find(' ');
  const std::string verb = line.substr(0, blank);
  const std::string arg = blank == std::string::npos ? "" : line.substr(blank + 1);
  int n = 0;
  try {
    n = arg.empty() ? 0 : std::stoi(arg);
  } catch (...) {
    n = 0;
  }
  auto size = [&](int index) {
    std::size_t total = 0;
    for (const auto& h : mailbox[static_cast<std::size_t>(index)].headers)
      total += h.size() + 2;
    for (const auto& b : mailbox[static_cast<std::size_t>(index)].body)
      total += b.size() + 2;
    return total + 2;
  };

  if (verb == "USER" || verb == "PASS" || verb == "NOOP") {
    reply("+OK");
  } else if (verb == "STAT") {
    int count = 0;
    std::size_t total = 0;
    for (std::size_t p = 0; p < snapshot_.size(); ++p) {
      if (marked_[p]) continue;
      ++count;
      total += size(static_cast<int>(snapshot_[p]));
    }
    reply("+OK " + std::to_string(statCount > 0 ? statCount : count) + " " + std::to_string(total));
  } else if (verb == "LAST") {
    reply("+OK 0");
  } else if (verb == "UIDL" && arg.empty()) {
    if (!withUidl) return reply("-ERR no unique ids");
    std::vector<std::string> lines;
    for (std::size_t p = 0; p < snapshot_.size(); ++p) {
      if (marked_[p]) continue;
      lines.push_back(std::to_string(p + 1) + " " + reportedId(snapshot_[p]));
    }
    switch (listing) {
      case Listing::InOrder:
        break;
      case Listing::Reversed:
        std::reverse(lines.begin(), lines.end());
        break;
      case Listing::FirstLeftOut:
        if (!lines.empty()) lines.erase(lines.begin());
        break;
      case Listing::NumberTwice:
        if (!lines.empty()) lines.push_back(lines.front() + "x");
        break;
    }
    std::string text = "+OK\r\n";
    for (const std::string& l : lines)
      text += l + "\r\n";
    text += ".";
    reply(text);
  } else if (verb == "UIDL") {
    const int index = withUidl ? at(n) : -1;
    if (index < 0) return reply("-ERR no such message");
    reply("+OK " + std::to_string(n) + " " + reportedId(static_cast<std::size_t>(index)));
  } else if (verb == "CAPA" && pipelining) {
    reply("+OK\r\nTOP\r\nUIDL\r\nPIPELINING\r\n.");
  } else if (verb == "LIST" && arg.empty()) {
    std::string text = "+OK\r\n";
    for (std::size_t p = 0; p < snapshot_.size(); ++p) {
      if (marked_[p]) continue;
      text += std::to_string(p + 1) + " " + std::to_string(size(static_cast<int>(snapshot_[p]))) +
              "\r\n";
    }
    reply(text + ".");
  } else if (verb == "LIST") {
    const int index = at(n);
    if (index < 0) return reply("-ERR no such message");
    reply("+OK " + std::to_string(n) + " " + std::to_string(size(index)));
  } else if (verb == "TOP" || verb == "RETR") {
    const int index = at(n);
    if (index < 0) return reply("-ERR no such message");
    const auto& m = mailbox[static_cast<std::size_t>(index)];
    std::string text = "+OK\r\n";
    for (const auto& h : m.headers)
      text += h + "\r\n";
    text += "\r\n";
    if (verb == "RETR") {
      for (const auto& b : m.body)
        text += (b.rfind('.', 0) == 0 ? "." : "") + b + "\r\n";
    }
    text += ".";
    reply(text);
  } else if (verb == "DELE") {
    const int index = at(n);
    const std::string id = index >= 0 ? mailbox[static_cast<std::size_t>(index)].id : "";
    const bool accepted = index >= 0 && !refuseDele;
    deles_.push_back(DeleAudit{n, id, accepted});
    if (!accepted) return reply("-ERR cannot delete");
    if (!ignoreDele) marked_[static_cast<std::size_t>(n - 1)] = true;
    reply("+OK deleted");
  } else if (verb == "RSET") {
    marked_.assign(marked_.size(), false);
    reply("+OK");
  } else if (verb == "QUIT") {
    std::vector<MailboxMessage> kept;
    std::vector<bool> gone(mailbox.size(), false);
    for (std::size_t p = 0; p < snapshot_.size(); ++p) {
      if (marked_[p]) gone[snapshot_[p]] = true;
    }
    for (std::size_t i = 0; i < mailbox.size(); ++i) {
      if (!gone[i]) kept.push_back(mailbox[i]);
    }
    mailbox = std::move(kept);
    reply("+OK bye");
    serverClosed_ = true;
    endSession();
  } else {
    reply("-ERR unknown command");
  }
}

bool MailboxPop3::waitReadable(int timeoutMs) {
  if (!clientOpen_) return true;
  if (!incoming_.empty() && !(slowReplies && !waitedOnce_)) return true;
  if (incoming_.empty() && serverClosed_) return true;  // the end of the connection
  waitedOnce_ = true;
  clock_->now += timeoutMs > 0 ? timeoutMs : 1;
  return false;
}

std::size_t MailboxPop3::receive(char* buffer, std::size_t size) {
  if (incoming_.empty()) {
    endRead_ = serverClosed_;
    return 0;
  }
  std::string& piece = incoming_.front();
  const std::size_t count = std::min(size, piece.size());
  piece.copy(buffer, count);
  piece.erase(0, count);
  if (piece.empty()) {
    incoming_.pop_front();
    // The next piece takes a wait of its own.
    waitedOnce_ = false;
  }
  return count;
}

std::vector<MailboxMessage> MixedMailbox(int n) {
  std::vector<MailboxMessage> box;
  for (int i = 1; i <= n; ++i) {
    const bool spam = i % 3 == 0;
    const std::string id = (spam ? "s" : "v") + std::to_string(i);
    MailboxMessage m;
    m.id = id;
    m.spam = spam;
    m.headers = {spam ? "From: Offers <deal" + std::to_string(i) + "@spam.example>"
                      : "From: Friend <friend" + std::to_string(i) + "@example.org>",
                 spam ? "To: someone@elsewhere.example" : "To: me@example.com",
                 "Subject: message " + id, "Date: Mon, 3 Mar 2025 10:00:00 +0000"};
    m.body = {"Hello " + id, ".dot line", "bye"};
    box.push_back(std::move(m));
  }
  return box;
}

}  // namespace kelvrin::test
