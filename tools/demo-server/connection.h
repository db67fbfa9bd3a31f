#pragma once

// Line-oriented I/O on one accepted connection. Lines end with LF (CR LF
// or a bare LF from a sloppy client); the CR is not part of the line.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvrin::demo {

class Connection {
 public:
  explicit Connection(int fd) : fd_(fd) {}
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  enum class Result { Line, TooLong, Closed, Timeout };

  // Waits up to timeoutMs for a whole line. A line longer than maxLength is
  // skipped up to its end and reported as TooLong, so a client cannot make
  // the server buffer without limit.
  Result readLine(std::string& line, std::size_t maxLength, int timeoutMs);
  // Sends all of it; false when the peer is gone.
  bool send(std::string_view data);
  std::string peer() const;

 private:
  int fd_;
  std::string buffer_;
  std::size_t start_ = 0;    // the unread part of buffer_ starts here
  std::size_t scanned_ = 0;  // buffer_ holds no LF between start_ and here
  bool skipping_ = false;
};

}  // namespace kelvrin::demo
