#pragma once

// The transparency of multi-line POP3 replies (RFC 1939 section 3) and of
// SMTP message data (RFC 5321 section 4.5.2), done on a stream of chunks so
// that a message is never held whole in memory. A line ending, a stuffed dot
// or the terminating line may be split anywhere between two chunks.

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvrin::protocols {

// Turns a multi-line POP3 reply (status line first) into the bytes of the
// message: the status line and the terminating "." line are dropped, the
// extra dot of every line that begins with one is removed, and everything
// else, CR LF included, is kept as the server sent it.
class DotUnstuffer {
 public:
  // Appends the message bytes of chunk to out. True once the terminating
  // line is complete; whatever follows it is not part of the reply.
  bool Feed(std::string_view chunk, std::string& out);
  bool Complete() const { return state_ == State::Done; }
  // How many bytes of the last chunk fed belong to the reply: after the
  // terminating line, the rest is the start of the next reply.
  std::size_t Used() const { return used_; }

 private:
  enum class State { StatusLine, LineStart, Dot, DotCr, InLine, InLineCr, Done };
  State state_ = State::StatusLine;
  std::size_t used_ = 0;
};

// Turns message bytes into SMTP data: every line end becomes CR LF (a bare
// LF or CR would let the receiving server and the next one disagree on
// where the data ends), a line that begins with "." gets a second one, and
// Finish adds the terminating line.
class DotStuffer {
 public:
  void Feed(std::string_view chunk, std::string& out);
  // The end of the data: a last line end where the message has none, and
  // "." CR LF.
  void Finish(std::string& out);

 private:
  bool atLineStart_ = true;
  bool pendingCr_ = false;
};

}  // namespace kelvrin::protocols
