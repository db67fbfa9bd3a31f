#include "app/account_probe.h"

#include "protocols/pop3_client.h"
#include "protocols/smtp_client.h"

namespace kelvrin::app {

namespace {

std::string withoutBlanks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

protocols::SecurityMode securityOf(int value) {
  switch (value) {
    case 1:
      return protocols::SecurityMode::StartTls;
    case 2:
      return protocols::SecurityMode::ImplicitTls;
    default:
      return protocols::SecurityMode::None;
  }
}

constexpr const char* kStopped = "stopped";

}  // namespace

AccountProbe::AccountProbe(protocols::SocketFactory factory, protocols::EventPump& pump,
                           protocols::Clock& clock)
    : factory_(std::move(factory)), pump_(pump), clock_(clock) {}

void AccountProbe::abort() {
  aborted_ = true;
  // Aborted alone ends a multi-line reply, not the wait for a status line,
  // and the SMTP client has no abort of its own: a closed connection ends
  // either wait. Nothing of a test needs a polite end.
  if (pop_ != nullptr) {
    pop_->Abort();
    pop_->Socket().Close();
  }
  if (smtp_ != nullptr) smtp_->Socket().Close();
}

ProbeOutcome AccountProbe::run(const settings::Form& fields) {
  ProbeOutcome outcome;
  if (running_) return outcome;
  running_ = true;
  aborted_ = false;
  outcome.pop = "POP3: " + probePop(fields, outcome.popOk);
  if (!aborted_ && !fields.text("KVWsmtphost").empty()) {
    outcome.smtp = "SMTP: " + probeSmtp(fields, outcome.smtpOk);
  }
  running_ = false;
  return outcome;
}

std::string AccountProbe::probePop(const settings::Form& fields, bool& ok) {
  protocols::TPop3Client client(factory_);
  client.SetEventPump(pump_);
  client.SetClock(clock_);
  client.OperationTimeout = 30000;
  client.Host = fields.text("KVWEdhost");
  client.Port = withoutBlanks(fields.text("PopPort"));
  client.UserId = fields.text("KVWedUser");
  client.UserPasswd = fields.text("KVWedPassword");
  client.Security = securityOf(fields.value("PopSecurity"));
  client.CaFile = fields.text("CaFile");
  std::string refusal;
  client.OnError = [&refusal](protocols::TPop3Client&, std::int32_t, const std::string& text) {
    refusal = text;
  };
  pop_ = &client;
  std::string result;
  try {
    if (!client.Connect()) {
      result = aborted_ ? kStopped
                        : "Unable connect" +
                              (client.LastErrorText.empty() ? "" : ": " + client.LastErrorText);
    } else if (!client.Login()) {
      result = "Username/Password error" + (refusal.empty() ? "" : ": " + refusal);
    } else {
      client.GetStat();
      if (client.Failed) {
        result = "the mailbox was refused" + (refusal.empty() ? "" : ": " + refusal);
      } else {
        ok = true;
        result =
            "Received maildrop info (" + std::to_string(client.ServerMessageCount) + " messages)";
        client.Quit();
      }
    }
  } catch (const std::exception& e) {
    result = aborted_ ? kStopped : e.what();
    client.Socket().Close();
  }
  pop_ = nullptr;
  return result;
}

std::string AccountProbe::probeSmtp(const settings::Form& fields, bool& ok) {
  protocols::TSmtpClient client(factory_);
  client.SetEventPump(pump_);
  client.SetClock(clock_);
  client.OperationTimeout = 30000;
  client.Host = fields.text("KVWsmtphost");
  client.Port = withoutBlanks(fields.text("SmtpPort"));
  client.UserId = fields.text("KVWedUser");
  client.UserPasswd = fields.text("KVWedPassword");
  client.Security = securityOf(fields.value("SmtpSecurity"));
  client.CaFile = fields.text("CaFile");
  smtp_ = &client;
  std::string result;
  try {
    if (!client.Connect()) {
      result = aborted_ ? kStopped
                        : "Unable connect" +
                              (client.LastErrorText.empty() ? "" : ": " + client.LastErrorText);
    } else if (!client.AuthLoginOffered && !client.AuthPlainOffered) {
      ok = true;
      result = "connected (the server asks for no login)";
      client.Quit();
    } else if (!client.Login()) {
      result = "login refused: " + client.ReplyCode + " " + client.ReplyText;
      client.Quit();
    } else {
      ok = true;
      result = "logged in";
      client.Quit();
    }
  } catch (const std::exception& e) {
    result = aborted_ ? kStopped : e.what();
    client.Socket().Close();
  }
  smtp_ = nullptr;
  return result;
}

}  // namespace kelvrin::app
