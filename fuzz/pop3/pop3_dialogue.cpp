#include "pop3_dialogue.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "app/check_cycle.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "app/kvmain.h"
#include "app/message_view.h"
#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "protocols/socket.h"
#include "ui/prompter.h"

namespace kelvrin::fuzz {
namespace {

// Flags of the first input byte.
constexpr std::uint8_t kDeleteAll = 1;      // Delete All instead of the spam delete
constexpr std::uint8_t kInPieces = 2;       // every reply arrives in pieces of kPieceSize
constexpr std::uint8_t kCancelEarly = 4;    // Cancel at the 2nd pump of the deletion
constexpr std::uint8_t kTimedCheckToo = 8;  // another check follows
constexpr std::size_t kPieceSize = 7;

std::string g_home;

[[noreturn]] void fail(const std::string& why) {
  std::fprintf(stderr, "pop3 dialogue: %s\n", why.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string_view trimBlanks(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Robust readers of a listing line drop control bytes around its words.
std::string_view trimControls(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 32)
    text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 32)
    text.remove_suffix(1);
  return text;
}

// Where a multi-line reply ends: after its "." line (CR LF or LF); npos
// when it does not.
std::size_t multiLineEnd(std::string_view reply) {
  for (std::size_t at = reply.find("\n."); at != std::string_view::npos;
       at = reply.find("\n.", at + 1)) {
    const std::size_t after = at + 2;
    if (after < reply.size() && reply[after] == '\n') return after + 1;
    if (after + 1 < reply.size() && reply[after] == '\r' && reply[after + 1] == '\n') {
      return after + 2;
    }
  }
  return std::string_view::npos;
}

bool isMultiLine(std::string_view command) {
  return command == "UIDL" || command == "LIST" || command.rfind("TOP ", 0) == 0 ||
         command.rfind("RETR ", 0) == 0;
}

// A reply holds exactly one reply: a client that reads it cannot read any of
// it as the answer to a later command.
bool holdsExactlyOneReply(std::string_view command, std::string_view reply) {
  if (!isMultiLine(command) || reply.rfind("-ERR", 0) == 0) {
    const std::size_t lineEnd = reply.find('\n');
    return lineEnd != std::string_view::npos && lineEnd + 1 == reply.size();
  }
  return multiLineEnd(reply) == reply.size();
}

// The unique-id listing in a reply as RFC 1939 has it ("n id" lines), read
// independently of the client: message number to id; nothing when the
// reply is no such listing.
std::optional<std::map<std::uint32_t, std::string>> parseListing(std::string_view reply) {
  const std::size_t end = multiLineEnd(reply);
  // The status is the first four bytes without the control bytes around
  // them, as a robust client reads it.
  if (end == std::string_view::npos || trimControls(reply.substr(0, 4)) != "+OK") {
    return std::nullopt;
  }
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < end; ++i) {
    if (reply[i] != '\r' && reply[i] != '\n') continue;
    lines.push_back(reply.substr(start, i - start));
    if (reply[i] == '\r' && i + 1 < end && reply[i + 1] == '\n') ++i;
    start = i + 1;
  }
  std::map<std::uint32_t, std::string> listing;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = trimControls(lines[i]);
    if (line == "." && i + 1 == lines.size()) return listing;
    std::size_t digits = 0;
    std::uint64_t number = 0;
    while (digits < line.size() && line[digits] >= '0' && line[digits] <= '9' && number < 1u << 31)
      number = number * 10 + static_cast<std::uint64_t>(line[digits++] - '0');
    if (digits == 0 || number == 0 || digits >= line.size() || line[digits] != ' ') {
      return std::nullopt;
    }
    const std::string_view id = trimControls(line.substr(digits));
    const bool word = !id.empty() && std::all_of(id.begin(), id.end(), [](char c) {
      const auto b = static_cast<unsigned char>(c);
      return b > 32 && b != 127;
    });
    if (!word || !listing.emplace(static_cast<std::uint32_t>(number), std::string(id)).second) {
      return std::nullopt;
    }
  }
  return std::nullopt;
}

class QuietPrompter final : public ui::Prompter {
 protected:
  int showMessageBox(const ui::MessageBoxSpec& spec) override {
    return spec.buttons.empty() ? 0 : spec.buttons[spec.defaultButton].result;
  }
  std::string showInputDialog(const ui::InputDialogSpec&) override {
    return std::string(ui::kInputCancelled);
  }
  void showProgressBox(const ui::ProgressBoxSpec&) override {}
  void updateProgressBox(int) override {}
  void hideProgressBox() override {}
  void playSound(const ui::BoxSound&) override {}
};

class FakeClock final : public protocols::Clock {
 public:
  std::int64_t TickCount() override { return now; }
  void Sleep(int milliseconds) override { now += milliseconds > 0 ? milliseconds : 0; }
  std::int64_t now = 1000000;
};

class Dialogue;

class ServerSocket final : public protocols::Socket {
 public:
  explicit ServerSocket(Dialogue& dialogue) : dialogue_(dialogue) {}
  bool IsConnected() const override;
  bool IsTls() const override { return false; }
  std::string LocalHostName() const override { return "fuzzhost"; }
  std::string LocalAddress() const override { return IsConnected() ? "127.0.0.1" : ""; }
  std::string PeerAddress() const override { return IsConnected() ? "127.0.0.2" : ""; }

 protected:
  void doOpen(int) override;
  void doStartTls(int) override {}
  void doSend(std::string_view data) override;
  bool doWaitReadable(int timeoutMs) override;
  std::size_t doReceive(char* buffer, std::size_t size) override;
  bool doClose() override;

 private:
  Dialogue& dialogue_;
};

class Dialogue {
 public:
  Dialogue(const std::uint8_t* data, std::size_t size) {
    flags_ = size > 0 ? data[0] : 0;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    rest.remove_prefix(size > 0 ? 1 : 0);
    for (;;) {
      const std::size_t cut = rest.find(kReplySeparator);
      replies_.emplace_back(rest.substr(0, cut));
      if (cut == std::string_view::npos) break;
      rest.remove_prefix(cut + 1);
    }
  }

  void run() {
    struct CancellingPump final : protocols::EventPump {
      Dialogue* d;
      int deletionPumps = 0;
      void ProcessEvents() override {
        if (!d->kv_ || !(d->flags_ & kCancelEarly) || !d->kv_->Delete().Running()) return;
        if (++deletionPumps == 2) d->kv_->BtCancelClick();
      }
    } pump;
    pump.d = this;
    QuietPrompter prompter;
    kv_ = std::make_unique<app::TKVmain>(
        app::Ports{[this] { return std::make_unique<ServerSocket>(*this); }, pump, clock_,
                   prompter},
        g_home);
    app::TKVmain& kv = *kv_;
    kv.FormCreate();
    kv.FormShow();
    auto& wizard = *kv.KVWForm1;
    wizard.setText("KVWMainEmail1", "me@example.com");
    wizard.setText("KVWEdhost", "pop.example.com");
    wizard.setText("KVWedUser", "bob");
    wizard.setText("KVWedPassword", "secret");
    wizard.setText("PopPort", "110");
    wizard.setValue("KVWccntypeGroup", 0);
    kv.KVmain->setChecked("AutoUpdate1", false);
    kv.KVmain->setChecked("NonInterDel1", false);
    kv.KVmain->setChecked("WarnDelNoSpam1", false);
    kv.KVmain->setChecked("DelAll1", (flags_ & kDeleteAll) != 0);
    kv.State.OnlineState = 1;
    // Mail to the user is valid, anything else spam, so inputs mark rows.
    kv.lbAllowEM->Add("me@example.com");

    kv.btOpenClick();
    kv.Check().RunRequestedCheck();
    checkSession_ = sessions_.empty() ? -1 : static_cast<int>(sessions_.size()) - 1;
    kv.btDeleteClick((flags_ & kDeleteAll) ? app::kTagDeleteAll : app::kTagSpamDelete);
    if (flags_ & kTimedCheckToo) {
      kv.btOpenClick();
      kv.Check().RunRequestedCheck();
    }
    kv.FormDestroy();
    kv_.reset();
  }

  // The socket's side.
  void open() {
    sessions_.push_back(Session{});
    clientOpen_ = true;
    serverClosed_ = false;
    incoming_.clear();
    partial_.clear();
    serve("");
  }
  void close() {
    clientOpen_ = false;
    incoming_.clear();
  }
  bool connected() const { return clientOpen_ && !endRead_; }
  void send(std::string_view data) {
    partial_.append(data);
    for (std::size_t end = partial_.find("\r\n"); end != std::string::npos;
         end = partial_.find("\r\n")) {
      const std::string line = partial_.substr(0, end);
      partial_.erase(0, end + 2);
      if (serverClosed_) continue;
      if (trace_) std::fprintf(stderr, "  C[%zu]: %s\n", sessions_.size(), line.c_str());
      if (line.rfind("DELE ", 0) == 0) onDele(line.substr(5));
      serve(line);
      if (line == "QUIT") serverClosed_ = true;
    }
  }
  bool waitReadable(int timeoutMs) {
    if (!incoming_.empty() || serverClosed_ || !clientOpen_) return true;
    // The wait took as long as it was allowed to.
    clock_.now += timeoutMs > 0 ? timeoutMs : 1;
    return false;
  }
  std::size_t receive(char* buffer, std::size_t size) {
    if (incoming_.empty()) {
      endRead_ = serverClosed_;
      return 0;
    }
    const std::size_t step = (flags_ & kInPieces) ? std::min(size, kPieceSize) : size;
    const std::size_t count = std::min(step, incoming_.size());
    incoming_.copy(buffer, count);
    incoming_.erase(0, count);
    return count;
  }
  bool endRead_ = false;

 private:
  struct Session {
    std::set<int> deles;
    bool inStep = true;  // every reply so far held exactly one reply
    bool listingAsked = false;
    std::string listingReply;  // the last reply to "UIDL"
  };

  // The next reply goes out as the answer to command (the greeting: "").
  void serve(const std::string& command) {
    if (next_ >= replies_.size()) {
      serverClosed_ = true;
      return;
    }
    const std::string& reply = replies_[next_++];
    Session& s = sessions_.back();
    if (!holdsExactlyOneReply(command, reply)) s.inStep = false;
    if (command == "UIDL") {
      s.listingAsked = true;
      s.listingReply = reply;
    }
    incoming_ += reply;
  }

  void onDele(const std::string& argument) {
    app::TKVmain& kv = *kv_;
    Session& s = sessions_.back();
    const std::string where =
        "DELE " + argument + " (session " + std::to_string(sessions_.size()) + ")";
    if (argument.empty() || argument.size() > 5 ||
        !std::all_of(argument.begin(), argument.end(),
                     [](char c) { return c >= '0' && c <= '9'; })) {
      fail(where + ": not a message number");
    }
    const int n = std::stoi(argument);
    if (n < 1) fail(where + ": no such message number");
    if (!s.deles.insert(n).second) fail(where + ": the same message twice in one session");
    const auto& rows = kv.VTree1.rows();

    if (!kv.State.UIDLCapable) {
      // Without ids only the check's own session knows the positions.
      if (static_cast<int>(sessions_.size()) - 1 != checkSession_) {
        fail(where + ": without ids, but not in the session of the check");
      }
      const bool marked = std::any_of(rows.begin(), rows.end(), [&](const app::ViewRow& r) {
        return r.Checked && r.ServerNumber == n;
      });
      if (!marked) fail(where + ": no marked row has that number");
      return;
    }

    if (!s.listingAsked) fail(where + ": before the session's id listing");
    const auto& list = kv.UIDLList;
    if (static_cast<std::size_t>(n) == list.size() + 1) {
      // A marked message that is gone gets the position after the last one,
      // which the server refuses: that names no message.
      const bool gone = std::any_of(rows.begin(), rows.end(), [&](const app::ViewRow& r) {
        const std::string_view rowId = trimBlanks(r.Node.UIDL);
        return r.Checked && !rowId.empty() &&
               std::none_of(list.begin(), list.end(),
                            [&](const std::string& e) { return trimBlanks(e) == rowId; });
      });
      if (!gone) fail(where + ": past the id listing, but every marked message is listed");
      if (s.inStep) {
        const auto served = parseListing(s.listingReply);
        if (served && served->count(static_cast<std::uint32_t>(n)) != 0) {
          fail(where + ": the server listed that message");
        }
      }
      return;
    }
    if (static_cast<std::size_t>(n) > list.size()) fail(where + ": past the id listing");
    const std::string id(trimBlanks(list[static_cast<std::size_t>(n) - 1]));
    if (id.empty()) fail(where + ": the listing gives that message no id");
    const auto inList = std::count_if(list.begin(), list.end(),
                                      [&](const std::string& e) { return trimBlanks(e) == id; });
    if (inList != 1)
      fail(where + ": the id " + id + " is listed " + std::to_string(inList) + " times");
    const auto inRows = std::count_if(rows.begin(), rows.end(), [&](const app::ViewRow& r) {
      return trimBlanks(r.Node.UIDL) == id;
    });
    if (inRows != 1)
      fail(where + ": the check listed the id " + id + " " + std::to_string(inRows) + " times");
    const bool marked = std::any_of(rows.begin(), rows.end(), [&](const app::ViewRow& r) {
      return r.Checked && trimBlanks(r.Node.UIDL) == id;
    });
    if (!marked) fail(where + ": the row with the id " + id + " is not marked");

    // When nothing could have put the client out of step, what it took for
    // the listing is what the server sent.
    if (s.inStep) {
      const auto served = parseListing(s.listingReply);
      if (!served) fail(where + ": by a listing that is not one");
      const auto entry = served->find(static_cast<std::uint32_t>(n));
      if (entry == served->end() || entry->second != id) {
        fail(where + ": the server listed another id for that message");
      }
    }
  }

  FakeClock clock_;
  // KELVRIN_DIALOGUE_TRACE set: every command on stderr, to read a finding.
  const bool trace_ = std::getenv("KELVRIN_DIALOGUE_TRACE") != nullptr;
  std::uint8_t flags_ = 0;
  std::vector<std::string> replies_;
  std::size_t next_ = 0;
  std::vector<Session> sessions_;
  int checkSession_ = -1;
  bool clientOpen_ = false;
  bool serverClosed_ = false;
  std::string incoming_;
  std::string partial_;
  std::unique_ptr<app::TKVmain> kv_;
};

bool ServerSocket::IsConnected() const {
  return dialogue_.connected();
}
void ServerSocket::doOpen(int) {
  notifyLookup();
  notifyConnecting();
  dialogue_.endRead_ = false;
  dialogue_.open();
}
void ServerSocket::doSend(std::string_view data) {
  if (!dialogue_.connected()) throw protocols::SocketError("Broken pipe", 32, "send");
  dialogue_.send(data);
}
bool ServerSocket::doWaitReadable(int timeoutMs) {
  return dialogue_.waitReadable(timeoutMs);
}
std::size_t ServerSocket::doReceive(char* buffer, std::size_t size) {
  return dialogue_.receive(buffer, size);
}
bool ServerSocket::doClose() {
  const bool was = dialogue_.connected();
  dialogue_.close();
  return was;
}

}  // namespace

void SetUpDialogue() {
  // Folders of our own: spool files left behind would be noticed, and the
  // machine's /tmp and the user's settings stay clean.
  static char dir[] = "/tmp/kelvrin-fuzz-pop3-XXXXXX";
  if (mkdtemp(dir) == nullptr) fail("cannot create a temporary folder");
  setenv("TMPDIR", dir, 1);
  g_home = std::string(dir) + "/home";
  mkdir(g_home.c_str(), 0700);
  setenv("KELVRIN_HOME", g_home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", g_home.c_str(), 1);
  setenv("XDG_DATA_HOME", g_home.c_str(), 1);
  setenv("XDG_CACHE_HOME", g_home.c_str(), 1);
}

void PlayCheckAndDelete(const std::uint8_t* data, std::size_t size) {
  Dialogue dialogue(data, size);
  dialogue.run();
}

}  // namespace kelvrin::fuzz
