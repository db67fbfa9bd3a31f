#pragma once

// The receiving side of the command mails: picked out of every check before
// the list is scored, acted on, answered, and deleted on the server so that
// the user's mail program never sees them. None of them reaches the message
// view, the counts or the scoring.

#include <memory>
#include <string>
#include <vector>

#include "app/later_parts.h"
#include "outgoing/command_mail.h"
#include "outgoing/send_mail.h"
#include "protocols/socket.h"

namespace kelvrin::outgoing {

// One command mail a check found.
struct CommandRecord {
  int Code = 0;
  std::string From;  // the sender's bare address
  std::string Text;  // the data, unscrambled
  // Acted on and deleted on the server. A corrupt one, or one the server
  // would not delete, stays there.
  bool Handled = false;
};

class CommandMails final : public app::SysMessages {
 public:
  // The answers go out through an SMTP client of its own, whose sockets
  // come from smtpSockets (real ones when empty).
  explicit CommandMails(app::TKVmain& kv, protocols::SocketFactory smtpSockets = {});

  void IncomingSysMessage(app::TKVmain& kv) override;
  void StartFlashReply(app::TKVmain& kv) override;

  MailSender& Sender() { return sender_; }
  // The command mails of the last check, in list order.
  const std::vector<CommandRecord>& LastReceived() const { return received_; }
  // The sender of the last flash, whom a click on its balloon answers.
  const std::string& FlashSender() const { return flashSender_; }

 private:
  struct Answer {
    std::string Code;
    std::string To;
    std::string Data;
  };
  void act(app::TKVmain& kv, const ReceivedCommand& command, const std::string& sender,
           const std::string& date, std::vector<Answer>& answers);
  void recordPeer(app::TKVmain& kv, const std::string& sender, const std::string& data);

  MailSender sender_;
  std::vector<CommandRecord> received_;
  std::string flashSender_;
};

}  // namespace kelvrin::outgoing
