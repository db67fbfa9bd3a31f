#pragma once

// The "Message" button of the Communications tab without its window: the
// chosen message type sent to every selected favourite, with the progress
// in the status bar and the report of who was reached.

#include <functional>
#include <string>
#include <vector>

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::outgoing {

class MailSender;

// The items of FlashBox1, in order.
enum class FlashType : int {
  VoiceMessage = 0,
  VoiceChat = 1,
  Greeting = 2,
  Flash = 3,
  FastEmail = 4,
  AddressUpdate = 5,
};

inline constexpr const char* kFastEmailSubject = "Kelvrin Fast Email";
inline constexpr const char* kFastEmailReport = "Kelvxmt.txt";

class FlashPanel {
 public:
  // Opens the quick-mail form for a fast e-mail with body as its start;
  // true when it closed with OK, body then holding the text.
  using FastEmailForm = std::function<bool(std::string& body)>;

  FlashPanel(app::TKVmain& kv, MailSender& sender);

  // FlashButtonClick. greeting is the FlashGreetEdit text; screenWidth the
  // width in pixels the "sent to" text wraps at.
  void FlashButtonClick(FlashType type, const std::string& greeting, int screenWidth,
                        const FastEmailForm& fastEmailForm);

  // The last flash text or fast e-mail body (one text for both).
  const std::string& LastText() const { return lastText_; }
  // The addresses the last fast e-mail reached.
  const std::vector<std::string>& Reached() const { return reached_; }

 private:
  app::TKVmain& kv_;
  MailSender& sender_;
  std::string lastText_;
  std::vector<std::string> reached_;
};

}  // namespace kelvrin::outgoing
