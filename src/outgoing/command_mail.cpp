#include "outgoing/command_mail.h"

#include <iterator>

#include "filter/rule_lists.h"
#include "filter/string_match.h"
#include "mail/header_parsing.h"

namespace kelvrin::outgoing {

namespace {

// A fixed command the support desk can re-issue; any text would do, but it
// travels scrambled like every other command.
constexpr std::string_view kReissueCommand = "1002";

std::string blanksEncoded(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == ' ') {
      out += "%20";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

std::string CommandSubject(std::string_view code, std::string_view data) {
  std::string text = std::string(code) + std::string(data);
  filter::ScrambleText(text);
  return std::string(kCommandPrefix) + text;
}

std::string CommandBody(std::string_view titleText) {
  const std::string support(filter::kSupportAddress);
  std::string reissue(kReissueCommand);
  filter::ScrambleText(reissue);
  const std::string lines[] = {
      "This " + std::string(titleText) +
          " system Command message enables extra functions, or new version info.",
      "",
      "Please use Kelvrin always, otherwise these commands are lost",
      "",
      "",
      "If you are not using Kelvrin, reply to this message with the Subject line: REMOVE",
      "or click here: MailTo:" + support + "?Subject=REMOVE",
      "",
      "Otherwise, reply to this message so it can be re-issued for your Kelvrin to use",
      "or click here: MailTo:" + support + "?Subject=kelvrin:" + reissue,
  };
  std::string body;
  for (std::size_t i = 0; i < std::size(lines); ++i) {
    if (i > 0) body += '\r';
    body += lines[i];
  }
  return body;
}

std::string MailFooter(std::string_view titleText) {
  return "\r\r--\rSent with " + std::string(titleText) +
         ", the mailbox screener that deletes spam before you download it.\r" +
         std::string(kProductWebSite) + "  (download: " + std::string(kDownloadAddress) + ")";
}

std::optional<ReceivedCommand> ParseCommandSubject(std::string_view subject) {
  const std::string lower = mail::LowerCase(subject);
  const std::size_t at = lower.find(kCommandPrefix);
  if (at == std::string::npos) return std::nullopt;
  std::string text(subject.substr(at + kCommandPrefix.size()));
  filter::UnscrambleText(text);
  ReceivedCommand command;
  if (text.size() >= 4) {
    int code = 0;
    bool digits = true;
    for (std::size_t i = 0; i < 4; ++i) {
      const char c = text[i];
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      code = code * 10 + (c - '0');
    }
    if (digits) command.Code = code;
  }
  command.Data = text.size() > 4 ? text.substr(4) : std::string();
  return command;
}

std::string InvitationLink(std::string_view favouriteEntry) {
  return "MailTo:" + std::string(favouriteEntry) +
         "?Subject=" + blanksEncoded("If you use Kelvrin please add me to your Favourites List") +
         "&body=" + blanksEncoded("You can get it here: " + std::string(kProductWebSite));
}

}  // namespace kelvrin::outgoing
