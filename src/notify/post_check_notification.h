#pragma once

// What the program does once a check has scored its messages: the counts
// text, the tray hint and result picture, and the memory of what was already
// announced (the previous counts and the number listed). The sounds, the
// balloon with the senders and the invasive display hang on the virtual steps
// below, which do nothing here.

#include <string>

#include "mail/mail_message.h"
#include "notify/check_counts.h"
#include "notify/tray_icon.h"

namespace kelvrin::notify {

struct PostCheckContext {
  CheckCounts& state;
  TrayIconModel& tray;
  const mail::TMailMessageList& MessageList1;
};

class PostCheckNotification {
 public:
  virtual ~PostCheckNotification() = default;

  // Runs every step in order; see the .cpp for the rules.
  virtual void Run(PostCheckContext& ctx);

  // "Valid:2 Suspect:1 Spam:3", each part only when its count is above 0.
  static std::string countsText(const CheckCounts& state);

  const std::string& CountsText() const { return CountsText_; }
  const std::string& BalloonList() const { return BalloonList_; }
  const std::string& LastBalloonList() const { return LastBalloonList_; }

 protected:
  // New valid mail (a valid count that differs from the previous one):
  // sound or invasive display.
  virtual void announceNewValidMail(PostCheckContext&) {}
  // No valid mail and the suspect or spam count changed: the mixed-mail sound.
  virtual void announceMixedMail(PostCheckContext&) {}
  // Builds BalloonList and shows the balloon when the rules ask for it.
  virtual void prepareBalloon(PostCheckContext&) {}

  std::string CountsText_;
  // Kept between checks; rebuilt only when the balloon is prepared.
  std::string BalloonList_;
  std::string LastBalloonList_;
};

}  // namespace kelvrin::notify
