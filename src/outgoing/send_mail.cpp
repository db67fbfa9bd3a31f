#include "outgoing/send_mail.h"

#include <exception>
#include <memory>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/status_bar.h"
#include "mail/display_text.h"
#include "mail/mail_message.h"
#include "outgoing/command_mail.h"
#include "settings/forms.h"

namespace kelvrin::outgoing {

namespace {

std::string withoutBlanks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out += c;
  }
  return out;
}

protocols::SecurityMode securityMode(int value) {
  switch (value) {
    case settings::kSecurityStartTls:
      return protocols::SecurityMode::StartTls;
    case settings::kSecurityImplicitTls:
      return protocols::SecurityMode::ImplicitTls;
    default:
      return protocols::SecurityMode::None;
  }
}

bool hasLineBreak(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) > 127) return false;
  }
  return true;
}

}  // namespace

std::string RefusedHeaderInput(std::string_view Subject, std::string_view From,
                               std::string_view SendTo, std::string_view CC, std::string_view BCC) {
  // A line break would end the header line and let the rest of the text
  // become headers (or the body) of the sender's choosing.
  if (hasLineBreak(Subject)) return "the subject holds a line break";
  for (std::string_view field : {From, SendTo, CC, BCC}) {
    if (hasLineBreak(field)) return "an address holds a line break";
  }
  bool any = false;
  for (std::string_view list : {SendTo, CC, BCC}) {
    for (const std::string& address : protocols::TSmtpClient::SplitAddresses(list)) {
      if (address.find('@') == std::string::npos || address.front() == '@' ||
          address.back() == '@') {
        return "\"" + address + "\" is not a mail address";
      }
      any = true;
    }
  }
  if (!any) return "no recipient address";
  return {};
}

MailSender::MailSender(app::TKVmain& kv, protocols::SocketFactory factory)
    : SmtpClient1(std::move(factory)), kv_(kv) {
  SmtpClient1.SetEventPump(kv.Pump);
  SmtpClient1.SetClock(kv.Clock);
  SmtpClient1.SendProgressStep = 10;
  SmtpClient1.TimeOut = 90000;
}

MailSender::~MailSender() {
  Close();
}

void MailSender::Close() {
  try {
    if (SmtpClient1.Connected()) SmtpClient1.Quit();
  } catch (...) {
    // Nothing is left to tell about a connection being given up.
  }
}

bool MailSender::SendMAPImail(std::string_view Cmd, std::string_view From, bool KeepOpen,
                              std::string_view Body, std::string_view Subject,
                              std::string_view SendTo, std::string_view CC, std::string_view BCC) {
  auto& wizard = *kv_.KVWForm1;
  const bool secondary = !kv_.KVmain->checked("Paccount") && !wizard.text("KVWsecsmtphost").empty();
  const std::string host = secondary ? wizard.text("KVWsecsmtphost") : wizard.text("KVWsmtphost");
  // The placeholder host of a wizard never finished names no server either.
  if (!kv_.State.SmtpConfigured || withoutBlanks(host).empty() ||
      host == settings::kPlaceholderSmtpHost) {
    kv_.TrayIcon1.ShowBalloon("Kelvrin:   SMTP setup error....",
                              "Under Options, enter SMTP details in para 3",
                              notify::BalloonIcon::Error, 10);
    kv_.dfsStatus.setStatus("Status: message NOT sent: no SMTP server is set");
    return false;
  }
  const bool command = Body.empty() && !Cmd.empty();
  std::string sender(From);
  if (sender.empty()) {
    sender = "<" + wizard.text("KVWMainEmail1") + ">";
  } else if (sender.find('<') == std::string::npos) {
    sender = "<" + sender + ">";
  }
  const std::string subject = command ? CommandSubject(Cmd, Subject) : std::string(Subject);
  if (const std::string why =
          RefusedHeaderInput(command ? Subject : subject, sender, SendTo, CC, BCC);
      !why.empty()) {
    kv_.dfsStatus.setStatus("Status: message NOT sent: " + why);
    return false;
  }

  SmtpClient1.Port = withoutBlanks(wizard.text("SmtpPort"));
  SmtpClient1.Host = host;
  SmtpClient1.UserId = secondary ? wizard.text("KVWsecedUser") : wizard.text("KVWedUser");
  SmtpClient1.UserPasswd =
      secondary ? wizard.text("KVWSecEdPassword") : wizard.text("KVWedPassword");
  SmtpClient1.Security = securityMode(wizard.value("SmtpSecurity"));
  SmtpClient1.CaFile = wizard.text("CaFile");

  auto message = std::make_unique<mail::TMailMessage>();
  message->SetSendTo(SendTo);
  message->SetCC(CC);
  message->SetBCC(BCC);
  message->SetFrom(sender);
  message->SetReplyTo(sender);
  message->Subject = subject;
  const std::string& title = kv_.State.TitleText;
  const std::string body = command ? CommandBody(title) : std::string(Body) + MailFooter(title);
  message->Text.push_back(body);
  if (!isAscii(body) || !isAscii(subject)) {
    message->CharSet = mail::IsValidUtf8(body) ? "utf-8" : "windows-1252";
  }
  message->SetLocalHost(SmtpClient1.LocalHost());
  message->LocalAddr = SmtpClient1.LocalAddr();

  try {
    if (!SmtpClient1.Connected()) {
      if (!SmtpClient1.Connect()) {
        kv_.dfsStatus.setStatus("Status: Unable SMTP connect or login");
        if (!SmtpClient1.LastErrorText.empty()) {
          kv_.dfsStatus.setPanel(2, SmtpClient1.LastErrorText);
        }
        return false;
      }
      if (!SmtpClient1.Login()) {
        Close();
        kv_.dfsStatus.setStatus("Status: Unable SMTP connect or login");
        return false;
      }
    }
  } catch (const std::exception& e) {
    Close();
    kv_.dfsStatus.setStatus(app::failureStatus(e.what()));
    return false;
  }
  // The connection the message goes out on names the host in its id.
  message->SetLocalHost(SmtpClient1.LocalHost());
  message->LocalAddr = SmtpClient1.LocalAddr();

  bool result = false;
  if (!SmtpClient1.Failed) {
    try {
      result = SmtpClient1.SendMail(*message);
    } catch (const std::exception& e) {
      kv_.dfsStatus.setStatus(app::failureStatus(e.what()));
    }
  }
  message.reset();
  if (!KeepOpen || !result) Close();
  return result;
}

}  // namespace kelvrin::outgoing
