#include "app/scripted_pop3.h"

#include <sstream>

namespace kelvrin::test {

class ScriptedPop3::Socket final : public protocols::Socket {
 public:
  explicit Socket(ScriptedPop3& script) : script_(script) {}
  bool IsConnected() const override { return script_.connected(); }
  bool IsTls() const override { return false; }
  std::string LocalHostName() const override { return "testhost"; }
  std::string LocalAddress() const override { return script_.connected_ ? "127.0.0.1" : ""; }
  std::string PeerAddress() const override { return script_.connected_ ? "127.0.0.1" : ""; }

 protected:
  void doOpen(int) override {
    notifyLookup();
    notifyConnecting();
    script_.open();
  }
  void doStartTls(int) override {}
  void doSend(std::string_view data) override {
    if (!script_.connected()) throw protocols::SocketError("Broken pipe", EPIPE, "send");
    script_.pendingLine_.append(data);
    for (;;) {
      const std::size_t end = script_.pendingLine_.find("\r\n");
      if (end == std::string::npos) break;
      const std::string line = script_.pendingLine_.substr(0, end);
      script_.pendingLine_.erase(0, end + 2);
      script_.receiveLine(line);
    }
  }
  bool doWaitReadable(int timeoutMs) override { return script_.waitReadable(timeoutMs); }
  std::size_t doReceive(char* buffer, std::size_t size) override {
    return script_.receive(buffer, size);
  }
  bool doClose() override {
    const bool was = script_.connected_;
    script_.close();
    return was;
  }

 private:
  ScriptedPop3& script_;
};

std::unique_ptr<protocols::Socket> ScriptedPop3::MakeSocket() {
  return std::make_unique<Socket>(*this);
}

void ScriptedPop3::AddSession(const std::vector<std::string>& steps) {
  Session session;
  for (const std::string& line : steps) {
    if (line.size() < 2 || line[1] != ':') {
      errors_.push_back("bad script line: " + line);
      continue;
    }
    std::string text = line.size() > 3 ? line.substr(3) : std::string();
    session.steps.push_back(Step{line[0], text});
  }
  sessions_.push_back(std::move(session));
}

void ScriptedPop3::open() {
  if (started_) ++current_;
  if (current_ >= sessions_.size()) {
    errors_.push_back("connection " + std::to_string(current_ + 1) + " was not expected");
    if (started_) --current_;
    throw protocols::SocketError("Connection refused", ECONNREFUSED, "connect");
  }
  started_ = true;
  connected_ = true;
  peerClosed_ = false;
  endRead_ = false;
  incoming_.clear();
  pendingLine_.clear();
  log_.push_back("--");
  runServerSteps();
}

void ScriptedPop3::runServerSteps() {
  Session& s = sessions_[current_];
  while (s.pos < s.steps.size()) {
    const Step& step = s.steps[s.pos];
    if (step.kind == 'S') {
      incoming_ += step.text + "\r\n";
    } else if (step.kind == 'X') {
      peerClosed_ = true;
    } else {
      break;
    }
    ++s.pos;
  }
}

void ScriptedPop3::receiveLine(const std::string& line) {
  log_.push_back(line);
  if (peerClosed_) return;
  Session& s = sessions_[current_];
  if (s.pos >= s.steps.size()) {
    // QUIT after the script's end is how a session is allowed to close.
    if (line != "QUIT") {
      errors_.push_back("session " + std::to_string(current_ + 1) + ": unexpected \"" + line +
                        "\"");
    }
    return;
  }
  const Step& step = s.steps[s.pos];
  if (step.text != line) {
    errors_.push_back("session " + std::to_string(current_ + 1) + ": expected \"" + step.text +
                      "\", got \"" + line + "\"");
    incoming_ += "-ERR not in the script\r\n";
    return;
  }
  ++s.pos;
  runServerSteps();
}

bool ScriptedPop3::waitReadable(int timeoutMs) {
  if (!incoming_.empty() || peerClosed_ || !connected_) return true;
  clock_.now += timeoutMs > 0 ? timeoutMs : 1;
  return false;
}

std::size_t ScriptedPop3::receive(char* buffer, std::size_t size) {
  if (incoming_.empty()) {
    endRead_ = peerClosed_;
    return 0;
  }
  const std::size_t count = std::min(size, incoming_.size());
  incoming_.copy(buffer, count);
  incoming_.erase(0, count);
  return count;
}

std::vector<std::string> ScriptedPop3::SessionCommands(std::size_t session) const {
  std::vector<std::string> result;
  std::size_t seen = 0;
  bool in = false;
  for (const std::string& entry : log_) {
    if (entry == "--") {
      in = seen++ == session;
      continue;
    }
    if (in) result.push_back(entry);
  }
  return result;
}

testing::AssertionResult ScriptedPop3::Finished() const {
  std::ostringstream problems;
  for (const std::string& e : errors_)
    problems << e << "\n";
  for (std::size_t i = 0; i < sessions_.size(); ++i) {
    const Session& s = sessions_[i];
    if (s.pos < s.steps.size()) {
      problems << "session " << i + 1 << " stopped before step " << s.pos + 1 << " ("
               << s.steps[s.pos].kind << ": " << s.steps[s.pos].text << ")\n";
    }
  }
  if (problems.str().empty()) return testing::AssertionSuccess();
  std::ostringstream log;
  for (const std::string& l : log_)
    log << "  " << l << "\n";
  return testing::AssertionFailure() << problems.str() << "client sent:\n" << log.str();
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (const auto& part : parts)
    all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<std::string> LoginSteps(const std::string& user, const std::string& password) {
  return {"S: +OK ready", "C: USER " + user, "S: +OK", "C: PASS " + password, "S: +OK logged in"};
}

std::vector<std::string> StatSteps(const std::vector<ScriptMessage>& messages, bool withUidl) {
  int total = 0;
  for (const auto& m : messages)
    total += m.size;
  std::vector<std::string> steps = {
      "C: STAT", "S: +OK " + std::to_string(messages.size()) + " " + std::to_string(total),
      "C: LAST", "S: +OK 0", "C: UIDL"};
  if (!withUidl) {
    steps.push_back("S: -ERR no UIDL here");
    return steps;
  }
  auto list = UidlListSteps(messages);
  steps.insert(steps.end(), list.begin() + 1, list.end());
  return steps;
}

std::vector<std::string> UidlListSteps(const std::vector<ScriptMessage>& messages) {
  std::vector<std::string> steps = {"C: UIDL", "S: +OK"};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    steps.push_back("S: " + std::to_string(i + 1) + " " + messages[i].uidl);
  }
  steps.push_back("S: .");
  return steps;
}

std::vector<std::string> RetrieveSteps(const std::vector<ScriptMessage>& messages, bool withUidl) {
  std::vector<std::string> steps;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const std::string n = std::to_string(i + 1);
    steps.push_back("C: LIST " + n);
    steps.push_back("S: +OK " + n + " " + std::to_string(messages[i].size));
    steps.push_back("C: TOP " + n + " 0");
    steps.push_back("S: +OK");
    for (const auto& h : messages[i].headers)
      steps.push_back("S: " + h);
    steps.push_back("S: ");
    steps.push_back("S: .");
    if (withUidl) {
      steps.push_back("C: UIDL " + n);
      steps.push_back("S: +OK " + n + " " + messages[i].uidl);
    }
  }
  return steps;
}

std::vector<std::string> QuitSteps() {
  return {"C: QUIT", "S: +OK bye"};
}

std::vector<std::string> CheckSession(const std::vector<ScriptMessage>& messages, bool withUidl) {
  auto steps =
      Join({LoginSteps(), StatSteps(messages, withUidl), RetrieveSteps(messages, withUidl)});
  if (withUidl && !messages.empty()) {
    auto quit = QuitSteps();
    steps.insert(steps.end(), quit.begin(), quit.end());
  }
  return steps;
}

ScriptMessage ValidMessage(int n, const std::string& uidl) {
  return ScriptMessage{
      {"From: Friend " + std::to_string(n) + " <friend" + std::to_string(n) + "@example.org>",
       "To: me@example.com", "Subject: Lunch " + std::to_string(n),
       "Date: Mon, 3 Mar 2025 10:0" + std::to_string(n % 10) + ":00 +0000"},
      uidl,
      300 + n};
}

ScriptMessage SpamMessage(int n, const std::string& uidl) {
  return ScriptMessage{
      {"From: Offers <deal" + std::to_string(n) + "@spam.example>", "To: someone@elsewhere.example",
       "Subject: Cheap stuff " + std::to_string(n),
       "Date: Fri, 7 Mar 2025 09:0" + std::to_string(n % 10) + ":00 +0000"},
      uidl,
      500 + n};
}

}  // namespace kelvrin::test
