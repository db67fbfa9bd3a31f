#include "outgoing/sys_messages.h"

#include <exception>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/session_guard.h"
#include "filter/rule_lists.h"
#include "filter/spam_scoring.h"
#include "mail/header_parsing.h"
#include "ui/message_box.h"
#include "ui/prompter.h"

namespace kelvrin::outgoing {

namespace {

std::string trimmedAddress(std::string_view text) {
  std::string address = filter::ParseMailAdds(text);
  const auto first = address.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return address.substr(first, address.find_last_not_of(" \t") - first + 1);
}

// The date up to the blank before a " +hhmm" zone, which the balloon leaves out.
std::string balloonDate(const std::string& dateText) {
  const std::size_t zone = dateText.find(" +");
  return zone == std::string::npos ? dateText : dateText.substr(0, zone + 1);
}

}  // namespace

CommandMails::CommandMails(app::TKVmain& kv, protocols::SocketFactory smtpSockets)
    : sender_(kv, std::move(smtpSockets)) {}

void CommandMails::recordPeer(app::TKVmain& kv, const std::string& sender,
                              const std::string& data) {
  auto& favourites = *kv.Favourites1;
  const int found = favourites.Search(sender, /*Partial=*/true, /*CaseSensitive=*/false);
  if (found >= 0) favourites.Delete(found);
  favourites.Add(sender + "," + data);
  favourites.SaveList();
}

void CommandMails::act(app::TKVmain& kv, const ReceivedCommand& command, const std::string& sender,
                       const std::string& date, std::vector<Answer>& answers) {
  const bool sound = kv.KVmain->checked("SndEnable1");
  auto& tray = kv.TrayIcon1;
  const std::string own = mail::LowerCase(trimmedAddress(kv.KVWForm1->text("KVWMainEmail1")));
  // An address exchange needs a peer: not ourselves (our own request would
  // put us among the favourites) and not an unknown sender.
  const bool peer = !sender.empty() && mail::LowerCase(sender) != own;
  switch (command.Code) {
    case kCodeCorrupt:
      tray.ShowBalloon("Kelvrin mail command received:",
                       "Message corrupt, please contact " + std::string(filter::kSupportAddress),
                       notify::BalloonIcon::Error, 10);
      return;
    case kCodeGreeting:
      tray.ShowBalloon("Kelvrin Greeting from " + sender, command.Data, notify::BalloonIcon::Info,
                       15);
      break;
    case kCodeEnableComms:
      kv.TabSheet2Visible = true;
      kv.Settings.setComms(true);
      tray.ShowBalloon("Kelvrin mail Command:", command.Data, notify::BalloonIcon::Info, 15);
      break;
    case kCodeFlash:
      kv.State.FlashPending = true;
      flashSender_ = sender;
      tray.ShowBalloon("Flash from " + sender + " Click Balloon to Reply",
                       "Dated:" + date + "\r" + command.Data, notify::BalloonIcon::Info, 60);
      break;
    case kCodeAddressRequest:
      if (peer) {
        recordPeer(kv, sender, command.Data);
        answers.push_back({std::to_string(kCodeAddressAnswer), sender, kv.dialUp().AddressText()});
      }
      return;
    case kCodeAddressAnswer:
      if (peer) recordPeer(kv, sender, command.Data);
      return;
    default:
      return;
  }
  if (sound) kv.soundPlayer().PlaySound(notify::Sound::WaveNewEM1);
}

void CommandMails::IncomingSysMessage(app::TKVmain& kv) {
  received_.clear();
  // Inside a check the check holds the session; called on its own, this
  // takes it, and gives way to any other operation that holds it.
  app::SessionGuard guard(kv, app::SessionOperation::CommandMails);
  if (!guard.owns() && kv.State.SessionOwner != app::SessionOperation::Check) return;
  auto& client = kv.Pop3Client1;
  if (!client.Connected()) return;

  std::vector<Answer> answers;
  std::size_t i = 0;
  while (i < kv.MessageList1.Count() && i < client.MessageCount) {
    mail::TMailMessage& message = kv.MessageList1.Items(i);
    std::optional<ReceivedCommand> command;
    std::string date;
    try {
      command = ParseCommandSubject(message.Subject);
      date = balloonDate(message.DateText);
    } catch (const std::exception&) {
      ++i;
      continue;
    }
    if (!command) {
      ++i;
      continue;
    }
    std::string sender = trimmedAddress(message.ReturnPath);
    // Without a Return-Path (or with the empty one of a bounce) the balloon
    // still names someone.
    if (sender.empty()) sender = trimmedAddress(message.From());
    CommandRecord record{command->Code, sender, command->Data, false};

    act(kv, *command, sender, date, answers);

    bool deleted = false;
    if (command->Code > 0) {
      const std::uint16_t number = kv.Check().ServerNumberOf(message);
      try {
        // The number holds in the session the check listed it in; the id
        // makes sure it still names this very message.
        const bool same = number != 0 && (message.UIDL.empty() || !client.UIDLSupported ||
                                          client.GetUIDL(number) == message.UIDL);
        if (same && client.Connected()) {
          client.DeleteMessage(number);
          deleted = client.Connected() && !client.Failed;
        }
      } catch (const std::exception& e) {
        kv.dfsStatus.setStatus(app::failureStatus(e.what()));
      }
    }
    record.Handled = deleted;
    received_.push_back(std::move(record));
    // A command mail is never listed, whether it could be deleted or not.
    kv.MessageList1.Delete(i);
    if (!client.Connected()) break;
  }

  if (!answers.empty()) {
    client.OnConnect = nullptr;
    client.OnDisconnect = nullptr;
    try {
      // QUIT makes the deletions final before the answers go out.
      client.Quit();
    } catch (const std::exception&) {
      client.Socket().Close();
    }
    for (const Answer& answer : answers) {
      (void)sender_.SendMAPImail(answer.Code, "", false, "", answer.Data, answer.To);
    }
    try {
      // A new session: the numbers of the old one no longer hold.
      ++kv.State.SessionSerial;
      if (client.Connect()) {
        kv.Delay(100);
        client.Login();
      }
    } catch (const std::exception& e) {
      kv.dfsStatus.setStatus(app::failureStatus(e.what()));
    }
    kv.Check().attachClientEvents();
  }
}

void CommandMails::StartFlashReply(app::TKVmain& kv) {
  if (!kv.State.FlashPending) return;
  kv.State.FlashPending = false;
  std::string text;
  kv.Prompter.InputBox("Kelvrin Flash Reply", "Message type here (up to 160 characters)", "", text);
  if (text == ui::kInputCancelled || text == ui::kInputFailed) return;
  if (kv.State.OnlineState == app::kOffline) {
    kv.Delay(100);
    auto& dialUp = kv.dialUp();
    dialUp.SetDetectorOffline();
    kv.Commands.setVisible("Disconnect1", true);
    // The reply goes out once the call is up (or has failed), not into a
    // line that is still dialling.
    (void)dialUp.DialAndWait();
  }
  if (sender_.SendMAPImail(std::to_string(kCodeFlash), "", false, "", text, flashSender_)) {
    kv.Prompter.InfoBox("Flash Message:\rData Sent");
  } else {
    kv.Prompter.InfoBox("Invalid data or SMTP transmit");
  }
}

}  // namespace kelvrin::outgoing
