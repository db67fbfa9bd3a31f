#pragma once

// What the program does once a check has scored its messages: the counts
// text, the tray hint and result picture, the sound or the invasive display
// of the window, the balloon listing the senders, and the memory of what was
// already announced (the previous counts, the number listed and the last
// sender list shown). Also the clicks on the balloon and the Shift/Ctrl
// shortcuts they share with a requested check.
//
// Without a NotificationHost (the command line) only the state, the hint and
// the picture change: nothing is hidden in a tray, nobody hears a sound.

#include <cstddef>
#include <string>
#include <string_view>

#include "mail/mail_message.h"
#include "notify/check_counts.h"
#include "notify/sound_player.h"
#include "notify/tray_icon.h"

namespace kelvrin::notify {

struct PostCheckContext {
  CheckCounts& state;
  TrayIconModel& tray;
  const mail::TMailMessageList& MessageList1;
};

// What the notification asks of the main window.
class NotificationHost {
 public:
  virtual ~NotificationHost() = default;
  // The checked state of an option of the main window (SndEnable1 ...).
  virtual bool option(std::string_view name) = 0;
  // The main window is in the tray.
  virtual bool windowHidden() = 0;
  // The "Server" tab, and the window shown from the tray.
  virtual void showWindowOnServerTab() = 0;
  virtual SoundPlayer& sounds() = 0;

  // A flash message waits for its reply.
  virtual bool FlashPending() = 0;
  virtual void setFlashPending(bool pending) = 0;
  virtual void StartFlashReply() = 0;

  virtual void SendReceive() = 0;
  // Delete All (it warns itself when valid mail is present).
  virtual void DeleteAll() = 0;
  virtual void ClearCheckRequested() = 0;
};

inline constexpr std::size_t kMaxBalloonMessages = 10;
// Fewer messages than this list their subjects too.
inline constexpr std::size_t kSubjectsBelow = 6;
inline constexpr std::size_t kBalloonLineWidth = 50;
// A sender list longer than this ends with "more....".
inline constexpr std::size_t kBalloonListCut = 210;
// From this many characters of sender list the hint is the short one.
inline constexpr std::size_t kShortHintFrom = 130;
inline constexpr int kBalloonSecs = 20;

class PostCheckNotification {
 public:
  PostCheckNotification() = default;
  explicit PostCheckNotification(NotificationHost& host) : host_(&host) {}
  virtual ~PostCheckNotification() = default;

  // Runs every step in order; see the .cpp for the rules.
  virtual void Run(PostCheckContext& ctx);

  // "Valid:2 Suspect:1 Spam:3", each part only when its count is above 0.
  static std::string countsText(const CheckCounts& state);
  // The sender lines of the balloon for a list of messages (at most
  // kMaxBalloonMessages of them): "\r" and the bare address of each sender
  // ("InvalidAdds" when it has none), with "=" and the start of the subject
  // while fewer than kSubjectsBelow are listed, cut with "\rmore....".
  static std::string balloonList(const mail::TMailMessageList& messages);
  // "Kelvrin: Click=View", with the Ctrl shortcut when it is allowed.
  static std::string balloonTitle(bool allowCtrlDel);

  const std::string& CountsText() const { return CountsText_; }
  const std::string& BalloonList() const { return BalloonList_; }
  const std::string& LastBalloonList() const { return LastBalloonList_; }

  // A click on the balloon, with the keys held at the time of the click.
  void TrayIcon1BalloonHintClick(const CheckCounts& state, bool shift, bool ctrl);
  // Shift with exactly one valid message: Send/Receive; Ctrl: Delete All.
  // Either clears a requested check. True when one of them ran.
  bool CheckCtrlDel(const CheckCounts& state, bool shift, bool ctrl);

 protected:
  // New valid mail (a valid count that differs from the previous one):
  // sound or invasive display.
  virtual void announceNewValidMail(PostCheckContext& ctx);
  // No valid mail and the suspect or spam count changed: the mixed-mail sound.
  virtual void announceMixedMail(PostCheckContext& ctx);
  // Builds BalloonList and shows the balloon when the rules ask for it.
  virtual void prepareBalloon(PostCheckContext& ctx);

  std::string CountsText_;
  // Kept between checks; rebuilt only when the balloon is prepared.
  std::string BalloonList_;
  std::string LastBalloonList_;

 private:
  bool option(std::string_view name) const { return host_ && host_->option(name); }
  bool hidden() const { return host_ && host_->windowHidden(); }

  NotificationHost* host_ = nullptr;
};

}  // namespace kelvrin::notify
