#include "outgoing/flash_panel.h"

#include <sys/stat.h>

#include "app/kvmain.h"
#include "base/atomic_file.h"
#include "base/rounding.h"
#include "filter/spam_scoring.h"
#include "outgoing/command_mail.h"
#include "outgoing/quick_mail.h"
#include "outgoing/send_mail.h"
#include "ui/message_box.h"

namespace kelvrin::outgoing {

FlashPanel::FlashPanel(app::TKVmain& kv, MailSender& sender) : kv_(kv), sender_(sender) {}

void FlashPanel::FlashButtonClick(FlashType type, const std::string& greeting, int screenWidth,
                                  const FastEmailForm& fastEmailForm) {
  auto& favourites = *kv_.Favourites1;
  std::vector<std::string> chosen;
  for (int i = 0; i < favourites.Count(); ++i) {
    if (favourites.Selected(i)) chosen.emplace_back(favourites.Items(i));
  }
  if (chosen.empty()) {
    kv_.Prompter.MsgBox("Message request failed:\rSelect destination(s) in Favourites", "Kelvrin",
                        true, ui::kMbOk | ui::kMbIconStop);
    return;
  }
  // The voice types are disabled in the window and send nothing.
  if (type == FlashType::VoiceMessage || type == FlashType::VoiceChat) return;

  auto& s = kv_.State;
  s.CheckInProgress = true;
  if (type == FlashType::Flash) {
    std::string text;
    kv_.Prompter.InputBox("Flash Message type here (up to 160 characters)", "Kelvrin Flash Message",
                          lastText_, text);
    if (text == ui::kInputCancelled || text == ui::kInputFailed) {
      s.CheckInProgress = false;
      return;
    }
    lastText_ = text;
  } else if (type == FlashType::FastEmail) {
    std::string body = lastText_;
    if (!fastEmailForm || !fastEmailForm(body) ||
        body.find(kBodyPlaceholder) != std::string::npos) {
      s.CheckInProgress = false;
      return;
    }
    lastText_ = body;
  }

  if (kv_.Pop3Client1.Connected()) kv_.Pop3Client1.Quit();
  kv_.dfsStatus.setGauge(0);
  reached_.clear();
  std::string sentTo;
  int limit = screenWidth - 64;
  bool anySent = false;
  const int n = static_cast<int>(chosen.size());
  for (int i = 1; i <= n; ++i) {
    const std::string address = filter::ParseMailAdds(chosen[static_cast<std::size_t>(i - 1)]);
    std::string code;
    std::string data;
    switch (type) {
      case FlashType::Greeting:
        code = std::to_string(kCodeGreeting);
        data = greeting;
        break;
      case FlashType::Flash:
        code = std::to_string(kCodeFlash);
        data = lastText_;
        break;
      case FlashType::AddressUpdate:
        code = std::to_string(kCodeAddressRequest);
        data = kv_.dialUp().AddressText();
        break;
      default:
        break;
    }
    bool sent = false;
    if (type == FlashType::FastEmail) {
      sent = sender_.SendMAPImail("", "", i < n, lastText_, kFastEmailSubject, address);
      if (sent) reached_.push_back(address);
    }
    if (n >= 2) {
      kv_.dfsStatus.setStatus("Status: Message #" + std::to_string(i) + " of " + std::to_string(n));
      kv_.dfsStatus.setGauge(static_cast<int>(base::roundHalfEven(i * 100LL, n)));
    }
    kv_.Pump.ProcessEvents();
    // Cancel clears the flag: the rest are not sent.
    if (!s.CheckInProgress) break;
    if (type != FlashType::FastEmail) {
      sent = sender_.SendMAPImail(code, "", false, "", data, address);
    }
    if (sent) {
      anySent = true;
      if (sentTo.empty()) {
        sentTo = address;
      } else if (static_cast<int>(sentTo.size()) > limit) {
        sentTo += "\r" + address;
        limit += 64;
      } else {
        sentTo += "," + address;
      }
    }
  }
  // A fast e-mail stopped early leaves its connection open.
  sender_.Close();
  s.CheckInProgress = false;

  if (!anySent) {
    kv_.Prompter.InfoBox("Invalid data or SMTP transmit");
  } else if (type == FlashType::FastEmail && reached_.size() >= 2) {
    std::string report;
    for (const std::string& address : reached_)
      report += address + "\n";
    try {
      base::replaceFileAtomically(std::filesystem::path(s.ProgramDir) / kFastEmailReport, report,
                                  base::FileMode::existingOr(0600));
      kv_.Prompter.InfoBox("Sent report saved as Kelvxmt.txt");
    } catch (const base::FileError& e) {
      kv_.dfsStatus.setStatus("Status: Kelvxmt.txt not saved: " + e.reason());
    }
  } else {
    kv_.dfsStatus.setStatus("Status: message sent to " + sentTo);
  }
}

}  // namespace kelvrin::outgoing
