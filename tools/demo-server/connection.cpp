#include "connection.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace kelvrin::demo {

Connection::~Connection() {
  ::shutdown(fd_, SHUT_RDWR);
  ::close(fd_);
}

Connection::Result Connection::readLine(std::string& line, std::size_t maxLength, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const std::size_t nl = buffer_.find('\n', scanned_);
    if (nl != std::string::npos) {
      const bool wasSkipping = skipping_;
      skipping_ = false;
      std::size_t end = nl;
      if (end > start_ && buffer_[end - 1] == '\r') --end;
      const std::size_t length = end - start_;
      if (!wasSkipping && length <= maxLength) line.assign(buffer_, start_, length);
      start_ = scanned_ = nl + 1;
      if (wasSkipping || length > maxLength) return Result::TooLong;
      return Result::Line;
    }
    // Drop what has been consumed before the buffer grows again.
    buffer_.erase(0, start_);
    start_ = 0;
    scanned_ = buffer_.size();
    if (buffer_.size() > maxLength + 1) {  // + 1: a CR may still be followed by its LF
      buffer_.clear();
      scanned_ = 0;
      skipping_ = true;
    }

    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return Result::Timeout;
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return Result::Closed;
    if (ready == 0) return Result::Timeout;

    char chunk[65536];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return Result::Closed;
    buffer_.append(chunk, static_cast<std::size_t>(n));
  }
}

bool Connection::send(std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

std::string Connection::peer() const {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  if (::getpeername(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return "?";
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

}  // namespace kelvrin::demo
