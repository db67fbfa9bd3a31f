#pragma once

// Command mails between copies of the program: a four-digit code and a short
// data text, scrambled, behind the prefix "kelvrin:" in the subject. The body
// carries no user text, only an explanation for a reader without Kelvrin.

#include <optional>
#include <string>
#include <string_view>

namespace kelvrin::outgoing {

inline constexpr std::string_view kCommandPrefix = "kelvrin:";
inline constexpr std::string_view kProductWebSite = "https://kelvrin.example/";
inline constexpr std::string_view kDownloadAddress = "https://kelvrin.example/download/";

enum CommandCode : int {
  kCodeCorrupt = 0,
  kCodeGreeting = 1001,
  kCodeEnableComms = 1003,
  kCodeFlash = 1004,
  kCodeAddressRequest = 1030,
  kCodeAddressAnswer = 1040,
};

// "kelvrin:" + the scrambled code and data.
std::string CommandSubject(std::string_view code, std::string_view data);

// The explanation lines of a command mail's body.
std::string CommandBody(std::string_view titleText);

// The block every ordinary mail ends with.
std::string MailFooter(std::string_view titleText);

struct ReceivedCommand {
  int Code = kCodeCorrupt;  // 0: the first four characters are not a number
  std::string Data;
};

// The command of a subject that holds the prefix anywhere, in any case;
// nothing for an ordinary subject.
std::optional<ReceivedCommand> ParseCommandSubject(std::string_view subject);

// The link of the invitation button: blanks written as "%20", nothing else
// encoded, so the entry reaches the mail program as it stands.
std::string InvitationLink(std::string_view favouriteEntry);

// Opens links in the user's own programs (a mailto: link in the mail program).
class Shell {
 public:
  virtual ~Shell() = default;
  // False when nothing could be started.
  virtual bool OpenLink(const std::string& link) = 0;
};

}  // namespace kelvrin::outgoing
