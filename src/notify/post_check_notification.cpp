#include "notify/post_check_notification.h"

namespace kelvrin::notify {

std::string PostCheckNotification::countsText(const CheckCounts& state) {
  std::string text;
  if (state.ValidCount > 0) text += "Valid:" + std::to_string(state.ValidCount);
  if (state.SuspectCount > 0) text += " Suspect:" + std::to_string(state.SuspectCount);
  if (state.SpamCount > 0) text += " Spam:" + std::to_string(state.SpamCount);
  return text;
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
  if (BalloonList_.size() >= 130) {
    ctx.tray.setHint(s.TitleText + "\r" + CountsText_);
  } else {
    ctx.tray.setHint(CountsText_ + BalloonList_);
  }

  s.LastListedCount = static_cast<int>(ctx.MessageList1.Count());
  s.PrevSuspectCount = s.SuspectCount;
  s.PrevValidCount = s.ValidCount;
  s.PrevSpamCount = s.SpamCount;
}

}  // namespace kelvrin::notify
