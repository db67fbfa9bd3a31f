#pragma once

// SendMAPImail: the one way a mail leaves the program. Quick mails, fast
// e-mails, flash and command mails and the answers to address requests all
// go through it, with the SMTP server and login of the current account.

#include <string>
#include <string_view>

#include "protocols/clock.h"
#include "protocols/smtp_client.h"
#include "protocols/socket.h"

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::outgoing {

class MailSender {
 public:
  // The sockets come from factory (real ones when empty); the client waits
  // with the window's pump and clock.
  explicit MailSender(app::TKVmain& kv, protocols::SocketFactory factory = {});
  ~MailSender();
  MailSender(const MailSender&) = delete;
  MailSender& operator=(const MailSender&) = delete;

  // An ordinary mail when Body is not empty (the footer is added), a command
  // mail with code Cmd and data Subject when Body is empty and Cmd is not.
  // From empty: the user's own address. KeepOpen leaves the connection open
  // for a further message. True when the server took the message for every
  // recipient list. Input that would make a wrong mail (no address, a line
  // break in a header field) is refused before anything is sent, with the
  // reason in the status bar.
  bool SendMAPImail(std::string_view Cmd, std::string_view From, bool KeepOpen,
                    std::string_view Body, std::string_view Subject, std::string_view SendTo,
                    std::string_view CC = {}, std::string_view BCC = {});

  // Closes a connection left open by KeepOpen.
  void Close();

  protocols::TSmtpClient SmtpClient1;

 private:
  app::TKVmain& kv_;
};

// Why a header field cannot be sent as it stands; empty when it can.
std::string RefusedHeaderInput(std::string_view Subject, std::string_view From,
                               std::string_view SendTo, std::string_view CC, std::string_view BCC);

}  // namespace kelvrin::outgoing
