#include "notify/post_check_notification.h"

#include "filter/spam_scoring.h"
#include "mail/display_text.h"

namespace kelvrin::notify {

namespace {

// The first |count| characters of UTF-8 display text, never half a character.
std::string firstCharacters(const std::string& text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) {
    ++pos;
    while (pos < text.size() && (static_cast<unsigned char>(text[pos]) & 0xC0) == 0x80)
      ++pos;
  }
  return text.substr(0, pos);
}

}  // namespace

std::string PostCheckNotification::countsText(const CheckCounts& state) {
  std::string text;
  if (state.ValidCount > 0) text += "Valid:" + std::to_string(state.ValidCount);
  if (state.SuspectCount > 0) text += " Suspect:" + std::to_string(state.SuspectCount);
  if (state.SpamCount > 0) text += " Spam:" + std::to_string(state.SpamCount);
  return text;
}

std::string PostCheckNotification::balloonList(const mail::TMailMessageList& messages) {
  std::string list;
  const bool withSubjects = messages.Count() < kSubjectsBelow;
  for (std::size_t i = 0; i < messages.Count(); ++i) {
    const mail::TMailMessage& message = messages.Items(i);
    const std::string address = filter::ParseMailAdds(message.From());
    if (address.empty()) {
      list += "\rInvalidAdds";
    } else {
      list += "\r" + address;
      if (withSubjects) {
        // The subject is read by a person: its display text, cut so that
        // address and subject share one balloon line.
        const std::size_t room =
            address.size() < kBalloonLineWidth ? kBalloonLineWidth - address.size() : 0;
        list += "=" + firstCharacters(mail::HeaderDisplayText(message.Subject), room);
      }
    }
    if (list.size() > kBalloonListCut) {
      list += "\rmore....";
      break;
    }
  }
  return list;
}

std::string PostCheckNotification::balloonTitle(bool allowCtrlDel) {
  std::string title = "Kelvrin: Click=View";
  if (allowCtrlDel) title += ", Click+[Ctrl]=Delete all";
  return title;
}

void PostCheckNotification::Run(PostCheckContext& ctx) {
  CheckCounts& s = ctx.state;

  CountsText_ = countsText(s);
  ctx.tray.setHint("Kelvrin " + CountsText_);
  TrayIconDisplay(ctx.tray, kTrayIdle, kIdleOnline);

  if (s.ValidCount > 0 && s.ValidCount != s.PrevValidCount) {
    announceNewValidMail(ctx);
    TrayIconDisplay(ctx.tray, kTrayNewMail, 0);
  }
  // Valid mail whose count did not change keeps the still idle picture.
  if (s.ValidCount == 0) {
    if (s.SuspectCount != s.PrevSuspectCount || s.SpamCount != s.PrevSpamCount) {
      announceMixedMail(ctx);
    }
    if (s.SuspectCount > 0 && s.SpamCount > 0) {
      TrayIconDisplay(ctx.tray, kTraySuspectAndSpam, 0);
    } else if (s.SuspectCount > 0) {
      TrayIconDisplay(ctx.tray, kTraySuspect, 0);
    } else {
      TrayIconDisplay(ctx.tray, kTraySpamOnly, 0);
    }
  }

  prepareBalloon(ctx);

  // A long sender list would be cut by the icon; the short hint says enough.
  if (BalloonList_.size() >= kShortHintFrom) {
    ctx.tray.setHint(s.TitleText + "\r" + CountsText_);
  } else {
    ctx.tray.setHint(CountsText_ + BalloonList_);
  }

  s.LastListedCount = static_cast<int>(ctx.MessageList1.Count());
  s.PrevSuspectCount = s.SuspectCount;
  s.PrevValidCount = s.ValidCount;
  s.PrevSpamCount = s.SpamCount;
}

void PostCheckNotification::announceNewValidMail(PostCheckContext&) {
  // Someone looking at the window needs neither sound nor a window thrown
  // in front of them.
  if (!hidden()) return;
  if (option("Invasive1")) {
    host_->showWindowOnServerTab();
  } else if (option("SndEnable1")) {
    host_->sounds().PlaySound(option("SndVoiceEnable1") ? Sound::VoiceMail1 : Sound::WaveNewEM1);
  }
}

void PostCheckNotification::announceMixedMail(PostCheckContext&) {
  if (hidden() && option("SndEnable1")) host_->sounds().PlaySound(Sound::WaveMixedEM1);
}

void PostCheckNotification::prepareBalloon(PostCheckContext& ctx) {
  if (!option("EmailBalloon1") || !hidden() || ctx.MessageList1.Count() > kMaxBalloonMessages) {
    return;
  }
  BalloonList_ = balloonList(ctx.MessageList1);
  const std::string title = balloonTitle(option("AllowCtrlDel"));
  if (host_->FlashPending()) {
    // The flash message's balloon stays the one shown until it is answered.
    ctx.tray.ShowBalloon({}, {}, BalloonIcon::None, 0, true);
  } else if (option("TrayBalloonNotify1") && ctx.state.ValidCount > 0 &&
             BalloonList_ != LastBalloonList_) {
    ctx.tray.ShowBalloon(title, CountsText_ + BalloonList_, BalloonIcon::Info, kBalloonSecs);
    LastBalloonList_ = BalloonList_;
  }
}

bool PostCheckNotification::CheckCtrlDel(const CheckCounts& state, bool shift, bool ctrl) {
  if (!host_) return false;
  bool acted = false;
  if (shift && state.ValidCount == 1) {
    host_->SendReceive();
    host_->ClearCheckRequested();
    acted = true;
  }
  if (ctrl) {
    host_->DeleteAll();
    host_->ClearCheckRequested();
    acted = true;
  }
  return acted;
}

void PostCheckNotification::TrayIcon1BalloonHintClick(const CheckCounts& state, bool shift,
                                                      bool ctrl) {
  if (!host_) return;
  if (option("AllowCtrlDel") && CheckCtrlDel(state, shift, ctrl)) return;
  if (host_->FlashPending()) {
    host_->setFlashPending(false);
    host_->StartFlashReply();
    return;
  }
  host_->showWindowOnServerTab();
}

}  // namespace kelvrin::notify
