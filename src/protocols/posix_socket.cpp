#include "protocols/posix_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "protocols/reply_wait.h"

namespace kelvrin::protocols {
namespace {

using SteadyClock = std::chrono::steady_clock;

SocketError systemError(const std::string& call, int code) {
  return SocketError(
      std::string(std::strerror(code)) + " (" + call + ", error " + std::to_string(code) + ")",
      code, call);
}

SocketError tlsError(const std::string& what, const std::string& call) {
  return SocketError(what, kTlsErrorCode, call);
}

// The milliseconds left until deadline, at least 0; -1 stands for no limit.
int remainingMs(bool limited, SteadyClock::time_point deadline) {
  if (!limited) return -1;
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return static_cast<int>(std::clamp<std::int64_t>(left, 0, INT32_MAX));
}

// Waits for events on fd; returns the events seen, 0 on time-out. A
// negative time-out waits without limit.
short pollFd(int fd, short events, int timeoutMs) {
  const bool limited = timeoutMs >= 0;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
  int wait = timeoutMs;
  for (;;) {
    pollfd entry{fd, events, 0};
    const int rc = ::poll(&entry, 1, wait);
    if (rc > 0) return entry.revents != 0 ? entry.revents : events;
    if (rc == 0) return 0;
    if (errno != EINTR) throw systemError("poll", errno);
    wait = remainingMs(limited, deadline);
  }
}

SocketError cancelledError(const std::string& call) {
  return SocketError("Cancelled (" + call + ")", ECANCELED, call);
}

bool isIpLiteral(const std::string& text) {
  unsigned char buffer[sizeof(in6_addr)];
  return inet_pton(AF_INET, text.c_str(), buffer) == 1 ||
         inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

std::string numericName(const sockaddr_storage& address, socklen_t length) {
  char host[NI_MAXHOST];
  if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), length, host, sizeof host, nullptr,
                  0, NI_NUMERICHOST) != 0) {
    return {};
  }
  return host;
}

// --- A socket BIO that never raises SIGPIPE ---------------------------------
// OpenSSL's own socket BIO writes with write(2), which raises SIGPIPE when the
// peer has gone; a library must not change the process's signal handling, so
// TLS records go out through send(MSG_NOSIGNAL) here.

struct BioState {
  int fd = -1;
  bool eof = false;
};

int bioWrite(BIO* bio, const char* data, size_t length, size_t* written) {
  auto* state = static_cast<BioState*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  const ssize_t sent = ::send(state->fd, data, length, MSG_NOSIGNAL);
  if (sent >= 0) {
    *written = static_cast<size_t>(sent);
    return 1;
  }
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) BIO_set_retry_write(bio);
  *written = 0;
  return 0;
}

int bioRead(BIO* bio, char* data, size_t length, size_t* readBytes) {
  auto* state = static_cast<BioState*>(BIO_get_data(bio));
  BIO_clear_retry_flags(bio);
  *readBytes = 0;
  const ssize_t got = ::recv(state->fd, data, length, 0);
  if (got > 0) {
    *readBytes = static_cast<size_t>(got);
    return 1;
  }
  if (got == 0) {
    state->eof = true;
  } else if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
    BIO_set_retry_read(bio);
  }
  return 0;
}

long bioCtrl(BIO* bio, int command, long, void*) {
  switch (command) {
    case BIO_CTRL_FLUSH:
      return 1;
    case BIO_CTRL_EOF:
      return static_cast<BioState*>(BIO_get_data(bio))->eof ? 1 : 0;
    default:
      return 0;
  }
}

BIO_METHOD* noSigpipeMethod() {
  static BIO_METHOD* method = [] {
    BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "kelvrin socket");
    BIO_meth_set_write_ex(m, bioWrite);
    BIO_meth_set_read_ex(m, bioRead);
    BIO_meth_set_ctrl(m, bioCtrl);
    return m;
  }();
  return method;
}

std::string openSslReason() {
  const unsigned long code = ERR_peek_last_error();
  if (code == 0) return {};
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}

}  // namespace

HelperOutcome RunOnHelperThread(std::function<void()> work, int timeoutMs,
                                const std::function<bool()>& keepWaiting) {
  struct Shared {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
  };
  auto shared = std::make_shared<Shared>();
  auto task = std::make_shared<std::function<void()>>(std::move(work));
  try {
    std::thread([shared, task] {
      (*task)();
      const std::lock_guard<std::mutex> lock(shared->mutex);
      shared->done = true;
      shared->finished.notify_all();
    }).detach();
  } catch (const std::system_error&) {
    // No thread to be had: better a blocking wait than no connection.
    (*task)();
    return HelperOutcome::Done;
  }
  const bool limited = timeoutMs > 0;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
  std::unique_lock<std::mutex> lock(shared->mutex);
  for (;;) {
    const int left = remainingMs(limited, deadline);
    const int slice = left < 0 ? kPumpIntervalMs : std::min(left, kPumpIntervalMs);
    if (shared->finished.wait_for(lock, std::chrono::milliseconds(slice),
                                  [&] { return shared->done; })) {
      return HelperOutcome::Done;
    }
    if (limited && remainingMs(limited, deadline) == 0) return HelperOutcome::TimedOut;
    lock.unlock();
    const bool goOn = keepWaiting();
    lock.lock();
    if (!goOn) return shared->done ? HelperOutcome::Done : HelperOutcome::Cancelled;
  }
}

struct PosixSocket::Tls {
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BioState bio;
  ~Tls() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  }
};

PosixSocket::PosixSocket() = default;

PosixSocket::~PosixSocket() {
  doClose();
}

bool PosixSocket::IsConnected() const {
  return fd_ >= 0 && !peerClosed_;
}

bool PosixSocket::IsTls() const {
  return tls_ != nullptr;
}

std::string PosixSocket::LocalHostName() const {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

std::string PosixSocket::LocalAddress() const {
  if (fd_ < 0) return {};
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) return {};
  return numericName(address, length);
}

std::string PosixSocket::PeerAddress() const {
  return fd_ >= 0 ? peerAddress_ : std::string();
}

void PosixSocket::doOpen(int connectTimeoutMs) {
  doClose();
  const bool numeric = !Addr().empty();
  const std::string target = numeric ? Addr() : Host();
  if (target.empty()) {
    throw SocketError("No host name or address given (getaddrinfo)", EDESTADDRREQ, "getaddrinfo");
  }
  // The time-out covers the whole open: the look-up, every address tried.
  const bool limited = connectTimeoutMs > 0;
  const auto deadline =
      SteadyClock::now() + std::chrono::milliseconds(limited ? connectTimeoutMs : 0);
  notifyLookup();
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
  // Owned jointly with the resolving thread, which may outlive this call.
  struct Lookup {
    int rc = 0;
    int error = 0;
    addrinfo* found = nullptr;
    ~Lookup() {
      if (found != nullptr) freeaddrinfo(found);
    }
  };
  auto lookup = std::make_shared<Lookup>();
  auto resolve = [lookup, target, service = std::to_string(Port()), hints] {
    lookup->rc = getaddrinfo(target.c_str(), service.c_str(), &hints, &lookup->found);
    lookup->error = errno;
  };
  if (numeric) {
    resolve();  // no look-up: nothing to wait for
  } else {
    // A resolver may wait seconds for a name server; the caller's events
    // must not.
    switch (RunOnHelperThread(resolve, limited ? remainingMs(true, deadline) : 0,
                              [this] { return keepWaiting(); })) {
      case HelperOutcome::Done:
        break;
      case HelperOutcome::TimedOut:
        throw SocketError("Timed out looking up " + target + " (getaddrinfo)", ETIMEDOUT,
                          "getaddrinfo");
      case HelperOutcome::Cancelled:
        throw cancelledError("getaddrinfo");
    }
  }
  const int rc = lookup->rc;
  if (rc != 0) {
    if (rc == EAI_SYSTEM) throw systemError("getaddrinfo", lookup->error);
    throw SocketError(std::string(gai_strerror(rc)) + ": " + target + " (getaddrinfo, error " +
                          std::to_string(rc) + ")",
                      rc, "getaddrinfo");
  }
  std::unique_ptr<addrinfo, void (*)(addrinfo*)> list(std::exchange(lookup->found, nullptr),
                                                      freeaddrinfo);

  notifyConnecting();
  int lastError = ECONNREFUSED;
  for (const addrinfo* entry = list.get(); entry != nullptr; entry = entry->ai_next) {
    const int fd = ::socket(entry->ai_family, entry->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            entry->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    int error = 0;
    if (::connect(fd, entry->ai_addr, entry->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS || error == EINTR) {
        short events = 0;
        try {
          events = pollWhileWaiting(fd, POLLOUT, limited, deadline, "connect");
        } catch (...) {
          ::close(fd);
          throw;
        }
        if (events == 0) {
          error = ETIMEDOUT;
        } else {
          socklen_t length = sizeof error;
          if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        }
      }
    }
    if (error != 0) {
      ::close(fd);
      lastError = error;
      if (error == ETIMEDOUT) break;  // the time-out covers the whole open
      continue;
    }
    // Commands are single small writes that wait for their reply: send them
    // at once instead of holding them for coalescing.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Plain waits block in recv with SO_RCVTIMEO: one system call per
    // reply where poll and recv would take two.
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    receiveTimeoutMs_ = 0;
    fd_ = fd;
    peerClosed_ = false;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    peerAddress_ = getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) == 0
                       ? numericName(peer, peerLength)
                       : std::string();
    break;
  }
  if (fd_ < 0) throw systemError("connect", lastError);
  if (ImplicitTls()) doStartTls(connectTimeoutMs);
}

void PosixSocket::doStartTls(int timeoutMs) {
  if (fd_ < 0) throw systemError("SSL_connect", ENOTCONN);
  if (tls_) throw tlsError("TLS is already active on this connection", "SSL_connect");
  // TLS works on a non-blocking descriptor and waits with poll.
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  auto tls = std::make_unique<Tls>();
  ERR_clear_error();
  tls->ctx = SSL_CTX_new(TLS_client_method());
  if (tls->ctx == nullptr) throw tlsError("TLS set-up failed: " + openSslReason(), "SSL_CTX_new");
  SSL_CTX_set_min_proto_version(tls->ctx, TLS1_2_VERSION);
  SSL_CTX_set_default_verify_paths(tls->ctx);
  if (!CaFile().empty() &&
      SSL_CTX_load_verify_locations(tls->ctx, CaFile().c_str(), nullptr) != 1) {
    throw tlsError(
        "TLS set-up failed: cannot load the CA file " + CaFile() + " (" + openSslReason() + ")",
        "SSL_CTX_load_verify_locations");
  }
  SSL_CTX_set_verify(tls->ctx, SSL_VERIFY_PEER, nullptr);
  // POP3 and SMTP frame their own data, so a missing close_notify cannot
  // truncate anything unnoticed; treat it as an ordinary end of stream.
  SSL_CTX_set_options(tls->ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);

  tls->ssl = SSL_new(tls->ctx);
  if (tls->ssl == nullptr) throw tlsError("TLS set-up failed: " + openSslReason(), "SSL_new");
  const std::string name = Addr().empty() ? Host() : Addr();
  if (isIpLiteral(name)) {
    X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(tls->ssl), name.c_str());
  } else {
    SSL_set_hostflags(tls->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    SSL_set1_host(tls->ssl, name.c_str());
    SSL_set_tlsext_host_name(tls->ssl, name.c_str());
  }
  tls->bio.fd = fd_;
  BIO* bio = BIO_new(noSigpipeMethod());
  if (bio == nullptr) throw tlsError("TLS set-up failed: " + openSslReason(), "BIO_new");
  BIO_set_data(bio, &tls->bio);
  BIO_set_init(bio, 1);
  SSL_set_bio(tls->ssl, bio, bio);

  const bool limited = timeoutMs > 0;
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(limited ? timeoutMs : 0);
  for (;;) {
    ERR_clear_error();
    errno = 0;
    const int rc = SSL_connect(tls->ssl);
    if (rc == 1) break;
    const int error = SSL_get_error(tls->ssl, rc);
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
      const short wanted = error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
      if (pollWhileWaiting(fd_, wanted, limited, deadline, "SSL_connect") == 0) {
        throw tlsError("TLS handshake failed: timed out", "SSL_connect");
      }
      continue;
    }
    const long verify = SSL_get_verify_result(tls->ssl);
    if (verify != X509_V_OK) {
      throw tlsError(std::string("TLS handshake failed: certificate verify failed (") +
                         X509_verify_cert_error_string(verify) + ")",
                     "SSL_connect");
    }
    std::string reason = openSslReason();
    if (reason.empty()) {
      reason = (error == SSL_ERROR_SYSCALL && errno != 0) ? std::strerror(errno)
                                                          : "the server closed the connection";
    }
    throw tlsError("TLS handshake failed: " + reason, "SSL_connect");
  }
  tls_ = std::move(tls);
  eofPending_ = false;
}

short PosixSocket::pollWhileWaiting(int fd, short events, bool limited,
                                    SteadyClock::time_point deadline, const char* call) {
  for (;;) {
    const int left = remainingMs(limited, deadline);
    const int slice = left < 0 ? kPumpIntervalMs : std::min(left, kPumpIntervalMs);
    if (const short seen = pollFd(fd, events, slice); seen != 0) return seen;
    if (limited && remainingMs(limited, deadline) == 0) return 0;
    if (!keepWaiting()) throw cancelledError(call);
  }
}

void PosixSocket::doSend(std::string_view data) {
  if (fd_ < 0) throw systemError("send", ENOTCONN);
  if (tls_) {
    sendTls(data);
  } else {
    sendPlain(data);
  }
}

void PosixSocket::sendPlain(std::string_view data) {
  // The descriptor blocks for the receive waits, but a send must not: a
  // peer that stops reading would hold the caller's events up for as long
  // as it likes. Each send takes what fits, and the rest waits in slices.
  std::size_t offset = 0;
  while (offset < data.size()) {
    const ssize_t sent =
        ::send(fd_, data.data() + offset, data.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent >= 0) {
      offset += static_cast<std::size_t>(sent);
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      waitToSend(POLLOUT);
    } else if (errno != EINTR) {
      throw systemError("send", errno);
    }
  }
}

void PosixSocket::waitToSend(short events) {
  // No limit of its own: the clients' time-outs are for replies, and a
  // send ends when the peer takes the data, the connection fails or the
  // caller gives up.
  pollWhileWaiting(fd_, events, false, SteadyClock::time_point(), "send");
}

void PosixSocket::sendTls(std::string_view data) {
  std::size_t offset = 0;
  while (offset < data.size()) {
    ERR_clear_error();
    errno = 0;
    std::size_t written = 0;
    if (SSL_write_ex(tls_->ssl, data.data() + offset, data.size() - offset, &written) == 1) {
      offset += written;
      continue;
    }
    const int error = SSL_get_error(tls_->ssl, 0);
    if (error == SSL_ERROR_WANT_WRITE) {
      waitToSend(POLLOUT);
    } else if (error == SSL_ERROR_WANT_READ) {
      waitToSend(POLLIN);
    } else if (error == SSL_ERROR_SYSCALL && errno != 0) {
      throw systemError("send", errno);
    } else {
      const std::string reason = openSslReason();
      throw tlsError("TLS send failed: " + (reason.empty() ? "connection closed" : reason),
                     "SSL_write");
    }
  }
}

bool PosixSocket::fillFromTls() {
  char buffer[16384];
  ERR_clear_error();
  errno = 0;
  std::size_t got = 0;
  if (SSL_read_ex(tls_->ssl, buffer, sizeof buffer, &got) == 1) {
    keepAhead(buffer, got);
    return true;
  }
  const int error = SSL_get_error(tls_->ssl, 0);
  switch (error) {
    case SSL_ERROR_WANT_READ:
      return false;
    case SSL_ERROR_WANT_WRITE:
      pollFd(fd_, POLLOUT, -1);
      return false;
    case SSL_ERROR_ZERO_RETURN:
      eofPending_ = true;
      return true;
    case SSL_ERROR_SYSCALL:
      if (errno == 0) {
        eofPending_ = true;
        return true;
      }
      throw systemError("recv", errno);
    default: {
      const std::string reason = openSslReason();
      throw tlsError("TLS receive failed: " + (reason.empty() ? "protocol error" : reason),
                     "SSL_read");
    }
  }
}

void PosixSocket::setReceiveTimeout(int timeoutMs) {
  if (timeoutMs == receiveTimeoutMs_) return;
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) {
    throw systemError("setsockopt", errno);
  }
  receiveTimeoutMs_ = timeoutMs;
}

void PosixSocket::keepAhead(const char* data, std::size_t count) {
  if (readAheadPos_ == readAhead_.size()) {
    readAhead_.clear();
    readAheadPos_ = 0;
  }
  readAhead_.append(data, count);
}

bool PosixSocket::doWaitReadable(int timeoutMs) {
  if (fd_ < 0) return false;
  if (peerClosed_ || eofPending_ || readAheadPos_ < readAhead_.size()) return true;
  if (!tls_) {
    if (timeoutMs <= 0) return pollFd(fd_, POLLIN, 0) != 0;
    setReceiveTimeout(timeoutMs);
    char buffer[16384];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got > 0) {
      keepAhead(buffer, static_cast<std::size_t>(got));
      return true;
    }
    if (got == 0) {
      eofPending_ = true;
      return true;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return false;
    throw systemError("recv", errno);
  }
  if (SSL_pending(tls_->ssl) > 0) {
    fillFromTls();
    return true;
  }
  // Bytes on the wire may turn out to be a record without application data
  // (a session ticket): keep waiting for the rest of the time then.
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
  for (;;) {
    if (pollFd(fd_, POLLIN, remainingMs(true, deadline)) == 0) return false;
    if (fillFromTls()) return true;
  }
}

std::size_t PosixSocket::doReceive(char* buffer, std::size_t size) {
  if (fd_ < 0) throw systemError("recv", ENOTCONN);
  if (size == 0) return 0;
  for (;;) {
    if (readAheadPos_ < readAhead_.size()) {
      const std::size_t count = std::min(size, readAhead_.size() - readAheadPos_);
      std::memcpy(buffer, readAhead_.data() + readAheadPos_, count);
      readAheadPos_ += count;
      return count;
    }
    if (eofPending_ || peerClosed_) {
      peerClosed_ = true;
      return 0;
    }
    if (tls_) {
      if (!fillFromTls()) pollFd(fd_, POLLIN, -1);
      continue;
    }
    setReceiveTimeout(0);
    const ssize_t got = ::recv(fd_, buffer, size, 0);
    if (got > 0) return static_cast<std::size_t>(got);
    if (got == 0) {
      peerClosed_ = true;
      return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollFd(fd_, POLLIN, -1);
    } else if (errno != EINTR) {
      throw systemError("recv", errno);
    }
  }
}

bool PosixSocket::doClose() {
  if (fd_ < 0) return false;
  if (tls_) {
    // One try at close_notify; a peer that is gone does not hold us up.
    if (!eofPending_ && !peerClosed_) {
      ERR_clear_error();
      SSL_shutdown(tls_->ssl);
    }
    tls_.reset();
  }
  ::close(fd_);
  fd_ = -1;
  peerClosed_ = false;
  peerAddress_.clear();
  eofPending_ = false;
  readAhead_.clear();
  readAheadPos_ = 0;
  return true;
}

SocketFactory PosixSocketFactory() {
  return [] { return std::make_unique<PosixSocket>(); };
}

}  // namespace kelvrin::protocols
