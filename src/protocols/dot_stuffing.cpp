#include "protocols/dot_stuffing.h"

namespace kelvrin::protocols {

bool DotUnstuffer::Feed(std::string_view chunk, std::string& out) {
  used_ = 0;
  for (const char c : chunk) {
    if (state_ == State::Done) return true;
    ++used_;
    switch (state_) {
      case State::Done:
        break;
      case State::StatusLine:
        if (c == '\n') state_ = State::LineStart;
        break;
      case State::LineStart:
        if (c == '.') {
          state_ = State::Dot;
        } else {
          out += c;
          state_ = c == '\r' ? State::InLineCr : c == '\n' ? State::LineStart : State::InLine;
        }
        break;
      case State::Dot:
        // The dot was stuffed, unless this is the terminating line (which
        // some servers end with a bare LF).
        if (c == '\r') {
          state_ = State::DotCr;
        } else if (c == '\n') {
          state_ = State::Done;
        } else {
          out += c;
          state_ = State::InLine;
        }
        break;
      case State::DotCr:
        if (c == '\n') {
          state_ = State::Done;
        } else {
          // "." CR and something else: a line that began with a stuffed dot
          // followed by a bare CR.
          out += '\r';
          out += c;
          state_ = c == '\r' ? State::InLineCr : State::InLine;
        }
        break;
      case State::InLine:
        out += c;
        // A bare LF ends a line as CR LF does: a server that writes no CR
        // stuffs and terminates after it too.
        if (c == '\r') state_ = State::InLineCr;
        if (c == '\n') state_ = State::LineStart;
        break;
      case State::InLineCr:
        out += c;
        state_ = c == '\n' ? State::LineStart : c == '\r' ? State::InLineCr : State::InLine;
        break;
    }
  }
  return state_ == State::Done;
}

void DotStuffer::Feed(std::string_view chunk, std::string& out) {
  for (const char c : chunk) {
    if (pendingCr_) {
      pendingCr_ = false;
      out += "\r\n";
      atLineStart_ = true;
      if (c == '\n') continue;
    }
    if (c == '\r') {
      pendingCr_ = true;
      continue;
    }
    if (c == '\n') {
      out += "\r\n";
      atLineStart_ = true;
      continue;
    }
    if (atLineStart_ && c == '.') out += '.';
    out += c;
    atLineStart_ = false;
  }
}

void DotStuffer::Finish(std::string& out) {
  if (pendingCr_) {
    pendingCr_ = false;
    out += "\r\n";
    atLineStart_ = true;
  }
  if (!atLineStart_) out += "\r\n";
  out += ".\r\n";
  atLineStart_ = true;
}

}  // namespace kelvrin::protocols
