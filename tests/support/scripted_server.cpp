#include "support/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <stdexcept>

namespace kelvrin::test {
namespace {

using SteadyClock = std::chrono::steady_clock;
constexpr int kSliceMs = 20;

std::string printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 32 || c > 126) {
      char buffer[8];
      snprintf(buffer, sizeof buffer, "\\x%02X", c);
      out += buffer;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 == text.size()) {
      out += text[i];
      continue;
    }
    const char next = text[++i];
    switch (next) {
      case 'r':
        out += '\r';
        break;
      case 'n':
        out += '\n';
        break;
      case 't':
        out += '\t';
        break;
      case 'x':
        if (i + 2 < text.size()) {
          out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
          i += 2;
        }
        break;
      default:
        out += next;
    }
  }
  return out;
}

// One accepted connection, plain or TLS.
class ScriptedServer::Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection() { close(); }

  bool open() const { return fd_ >= 0; }

  void close() {
    if (ssl_ != nullptr) {
      SSL_shutdown(ssl_);
      SSL_free(ssl_);
      ssl_ = nullptr;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool handshake(SSL_CTX* context) {
    ssl_ = SSL_new(context);
    SSL_set_fd(ssl_, fd_);
    ERR_clear_error();
    const bool ok = SSL_accept(ssl_) == 1;
    if (!ok) {
      SSL_free(ssl_);
      ssl_ = nullptr;
    }
    return ok;
  }

  bool write(const std::string& data) {
    std::size_t offset = 0;
    while (offset < data.size()) {
      ssize_t sent;
      if (ssl_ != nullptr) {
        sent = SSL_write(ssl_, data.data() + offset, static_cast<int>(data.size() - offset));
      } else {
        sent = ::send(fd_, data.data() + offset, data.size() - offset, MSG_NOSIGNAL);
      }
      if (sent <= 0) return false;
      offset += static_cast<std::size_t>(sent);
    }
    return true;
  }

  // Waits up to timeoutMs for data; appends it to out. -1: the client
  // closed, 0: nothing came, else the number of bytes.
  long read(std::string& out, int timeoutMs) {
    if (ssl_ == nullptr || SSL_pending(ssl_) == 0) {
      pollfd entry{fd_, POLLIN, 0};
      const int rc = ::poll(&entry, 1, timeoutMs);
      if (rc <= 0) return 0;
    }
    char buffer[16384];
    ssize_t got;
    if (ssl_ != nullptr) {
      got = SSL_read(ssl_, buffer, sizeof buffer);
    } else {
      got = ::recv(fd_, buffer, sizeof buffer, 0);
    }
    if (got <= 0) return -1;
    out.append(buffer, static_cast<std::size_t>(got));
    return got;
  }

 private:
  int fd_;
  SSL* ssl_ = nullptr;
};

ScriptedServer::ScriptedServer(const std::string& script, Options options) : options_(options) {
  parse(script);
  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  socklen_t length = sizeof address;
  if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(listenFd_, 4) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("scripted server: cannot listen on 127.0.0.1");
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread([this] { run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

void ScriptedServer::parse(const std::string& script) {
  std::istringstream in(script);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#') continue;
    line = line.substr(start);
    if (line.size() < 2)
      throw std::runtime_error("script line " + std::to_string(number) + ": " + line);
    const std::string tag = line.substr(0, 2);
    std::string text = line.size() > 3 ? line.substr(3) : std::string();
    char kind;
    if (tag == "C:") {
      kind = 'C';
    } else if (tag == "C~") {
      kind = 'R';
    } else if (tag == "S:") {
      kind = 'S';
      text += "\r\n";
    } else if (tag == "S~") {
      kind = 'S';
      text = Unescape(text);
    } else if (tag == "P:") {
      kind = 'P';
    } else if (tag == "T:") {
      kind = 'T';
    } else if (tag == "T!") {
      kind = 'F';
    } else if (tag == "X:") {
      kind = 'X';
    } else {
      throw std::runtime_error("script line " + std::to_string(number) + ": unknown step " + line);
    }
    steps_.push_back({kind, text, number});
  }
}

void ScriptedServer::fail(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  errors_.push_back(message);
}

std::string ScriptedServer::ClientLog() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

testing::AssertionResult ScriptedServer::Finished() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  if (errors_.empty() && stepsDone_ == steps_.size()) return testing::AssertionSuccess();
  testing::AssertionResult result = testing::AssertionFailure();
  result << "played " << stepsDone_ << " of " << steps_.size() << " steps";
  for (const std::string& error : errors_)
    result << "\n  " << error;
  result << "\n  client sent: " << printable(log_);
  return result;
}

void ScriptedServer::run() {
  // A client that goes away while the server writes must not end the test
  // program: SIGPIPE stays pending on this thread.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  std::unique_ptr<SSL_CTX, void (*)(SSL_CTX*)> context(nullptr, SSL_CTX_free);
  if (options_.Certificate != nullptr) {
    context.reset(SSL_CTX_new(TLS_server_method()));
    SSL_CTX_use_certificate_chain_file(context.get(), options_.Certificate->CertFile.c_str());
    SSL_CTX_use_PrivateKey_file(context.get(), options_.Certificate->KeyFile.c_str(),
                                SSL_FILETYPE_PEM);
  }

  const auto acceptDeadline =
      SteadyClock::now() + std::chrono::milliseconds(options_.StepTimeoutMs);
  int fd = -1;
  while (fd < 0) {
    pollfd entry{listenFd_, POLLIN, 0};
    if (::poll(&entry, 1, kSliceMs) > 0) {
      fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    } else if (stop_ || SteadyClock::now() > acceptDeadline) {
      if (!steps_.empty()) fail("no client connected");
      return;
    }
  }
  Connection connection(fd);
  if (options_.ImplicitTls && (context == nullptr || !connection.handshake(context.get()))) {
    fail("implicit TLS handshake failed");
    return;
  }

  std::string input;    // client bytes not matched yet
  std::string pending;  // server bytes not sent yet
  auto receive = [&](int timeoutMs) {
    std::string got;
    const long count = connection.read(got, timeoutMs);
    if (count > 0) {
      input += got;
      std::lock_guard<std::mutex> lock(mutex_);
      log_ += got;
    }
    return count;
  };
  auto flush = [&] {
    if (pending.empty()) return true;
    const bool ok = connection.write(pending);
    if (!ok) fail("could not send " + printable(pending) + " (client gone)");
    pending.clear();
    return ok;
  };

  for (const Step& step : steps_) {
    const std::string where = "script line " + std::to_string(step.lineNumber) + ": ";
    if (step.kind == 'S') {
      pending += step.text;
    } else {
      if (!flush()) return;
    }
    switch (step.kind) {
      case 'C':
      case 'R': {
        const auto deadline =
            SteadyClock::now() + std::chrono::milliseconds(options_.StepTimeoutMs);
        std::size_t lineEnd;
        while ((lineEnd = input.find('\n')) == std::string::npos) {
          const bool stopping = stop_;
          const long count = receive(stopping ? 0 : kSliceMs);
          if (count < 0) {
            fail(where + "the client closed the connection instead of sending " + step.text);
            return;
          }
          if (count == 0 && (stopping || SteadyClock::now() > deadline)) {
            fail(where + "the client did not send " + step.text);
            return;
          }
        }
        std::string line = input.substr(0, lineEnd);
        input.erase(0, lineEnd + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const bool matches =
            step.kind == 'C' ? line == step.text : std::regex_match(line, std::regex(step.text));
        if (!matches) {
          fail(where + "expected " + step.text + ", the client sent " + printable(line));
          return;
        }
        break;
      }
      case 'P':
        std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(step.text)));
        break;
      case 'T':
        if (context == nullptr || !connection.handshake(context.get())) {
          fail(where + "TLS handshake failed");
          return;
        }
        break;
      case 'F':
        if (context != nullptr && connection.handshake(context.get())) {
          fail(where + "the client accepted a certificate it should have refused");
          return;
        }
        connection.close();
        break;
      case 'X':
        connection.close();
        break;
      default:
        break;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++stepsDone_;
  }
  if (!flush()) return;
  // The script is over: the client may close, but must not send more.
  while (connection.open()) {
    const bool stopping = stop_;
    const long count = receive(stopping ? 0 : kSliceMs);
    if (count < 0 || (count == 0 && stopping)) break;
  }
  if (!input.empty()) fail("the client sent more than the script: " + printable(input));
}

}  // namespace kelvrin::test
