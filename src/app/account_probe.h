#pragma once

// "Test settings" of the wizard: logs in to the POP3 and the SMTP server
// with the values on screen (USER/PASS, STAT and QUIT; EHLO, AUTH and QUIT)
// and tells how each went. It never deletes or sends anything. The clients
// let events run while they wait, so the wizard stays usable and abort()
// ends a test at once.

#include <string>

#include "protocols/clock.h"
#include "protocols/event_pump.h"
#include "protocols/socket.h"
#include "settings/form.h"

namespace kelvrin::protocols {
class TPop3Client;
class TSmtpClient;
}  // namespace kelvrin::protocols

namespace kelvrin::app {

struct ProbeOutcome {
  bool popOk = false;
  std::string pop;  // "POP3: Received maildrop info (3 messages)" or why not
  bool smtpOk = false;
  std::string smtp;  // "SMTP: logged in" or why not; empty without an SMTP host
  std::string text() const { return smtp.empty() ? pop : pop + "\n" + smtp; }
};

class AccountProbe {
 public:
  AccountProbe(protocols::SocketFactory factory, protocols::EventPump& pump,
               protocols::Clock& clock);
  // The primary account of the wizard's fields.
  ProbeOutcome run(const settings::Form& fields);
  void abort();
  bool running() const { return running_; }

 private:
  std::string probePop(const settings::Form& fields, bool& ok);
  std::string probeSmtp(const settings::Form& fields, bool& ok);

  protocols::SocketFactory factory_;
  protocols::EventPump& pump_;
  protocols::Clock& clock_;
  bool running_ = false;
  bool aborted_ = false;
  // The clients of the test that runs, for abort().
  protocols::TPop3Client* pop_ = nullptr;
  protocols::TSmtpClient* smtp_ = nullptr;
};

}  // namespace kelvrin::app
