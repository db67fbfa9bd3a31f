#pragma once

// The body of one waiting message, fetched in full on demand and shown as
// its first lines in a message box with the buttons OK, Spam, Reply and
// Reply Quote; and the view events that start it (Enter, or the delay timer
// ETimer1 when Enter is not the trigger).

#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::mail {
class TMailMessage;
}

namespace kelvrin::app {

class TKVmain;

inline constexpr const char* kBodyButtons = "&OK|&Spam|&Reply|Reply&Quote";
inline constexpr int kBodyButtonOK = 11;
inline constexpr int kBodyButtonSpam = 12;
inline constexpr int kBodyButtonReply = 13;
inline constexpr int kBodyButtonReplyQuote = 14;

// The message's text lines, each followed by CR LF, without any "&nbsp;".
std::string bodyText(const mail::TMailMessage& message);
// The same lines as display text (UTF-8, each part read in its charset).
std::string bodyDisplayText(const mail::TMailMessage& message);
// Long lines broken: once more than 120 characters have passed since the
// last line end, the next blank is followed by a CR. The last character of
// the text is left out.
std::string wrapBody(std::string_view text);
// The text of the box: the non-blank lines trimmed, each followed by CR,
// until (lines taken) × 13 exceeds the view's height in pixels.
std::string displayText(std::string_view wrapped, int viewHeight);
// The quote of Reply Quote: a header line and the display text, cut at 250
// characters with a closing line.
std::string replyQuote(std::string_view display);

class BodyDisplay {
 public:
  explicit BodyDisplay(TKVmain& kv);

  void DisplayBody();
  void Timer1Timer();
  void VTree1KeyFocusChange();
  void VTree1Click();

  enum class Key { Up, Down, Enter, Other };
  void VTree1KeyDown(Key key, bool ctrlR = false);
  void VTree1Scroll();
  void VTree1MouseMove(int screenY);

  // The caption and text of the last box shown (for programs without one).
  const std::string& LastCaption() const { return lastCaption_; }
  const std::string& LastText() const { return lastText_; }
  // The same box as a person reads it: the sender's display text and the
  // body's, cut to the same lines.
  const std::string& LastDisplayCaption() const { return lastDisplayCaption_; }
  const std::string& LastDisplayText() const { return lastDisplayText_; }

 private:
  TKVmain& kv_;
  std::string lastCaption_;
  std::string lastText_;
  std::string lastDisplayCaption_;
  std::string lastDisplayText_;
  int lastMouseY_ = 0;
};

}  // namespace kelvrin::app
