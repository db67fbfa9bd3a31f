#pragma once

// The notification-area icon as state: which picture list it shows (the list
// number is the picture state 0..8), which picture, whether and how fast it
// cycles, its hint, its visibility and the balloon it shows. The GUI renders
// this model and calls advanceCycle() every CycleInterval milliseconds while
// CycleIcons is on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "notify/change_notifier.h"

namespace kelvrin::notify {

struct ImageListInfo {
  int Pictures;  // how many pictures the list holds
  int Size;      // square pictures of this many pixels
};

// ImageList0 .. ImageList8.
inline constexpr std::array<ImageListInfo, 9> kImageLists = {{
    {3, 16},   // 0 idle: online, offline, timed checks off
    {32, 16},  // 1 a check is running
    {2, 16},   // 2 new valid mail
    {2, 16},   // 3 suspect mail
    {3, 16},   // 4 suspect and spam
    {2, 16},   // 5 only spam, or nothing new
    {2, 16},   // 6 dialling
    {4, 32},   // 7 countdown to the next timed check
    {5, 16},   // 8 deleting on the server
}};

inline constexpr std::size_t kMaxHintLength = 127;
inline constexpr std::size_t kMaxBalloonTitle = 63;
inline constexpr std::size_t kMaxBalloonText = 255;
inline constexpr int kDesignCycleInterval = 800;

enum class BalloonIcon : int { None = 0, Info = 1, Warning = 2, Error = 3 };

struct BalloonHint {
  std::string Title;
  std::string Text;
  BalloonIcon IconKind = BalloonIcon::None;
  int TimeoutSecs = 0;
};

class TrayIconModel {
 public:
  // Which image list is shown; setting it also selects picture 0.
  int IconList() const { return iconList_; }
  void setIconList(int list);

  // A value beyond the last picture of the list selects the last one.
  int IconIndex() const { return iconIndex_; }
  void setIconIndex(int index);

  // On: show the pictures one after the other from picture 0; off: keep the
  // current picture still.
  bool CycleIcons() const { return cycleIcons_; }
  void setCycleIcons(bool on);

  // Milliseconds per picture; setting it restarts a running cycle.
  int CycleInterval() const { return cycleInterval_; }
  void setCycleInterval(int ms);

  // Cut to at most 127 bytes, never inside a UTF-8 character.
  const std::string& Hint() const { return hint_; }
  void setHint(std::string_view hint);

  bool IconVisible() const { return iconVisible_; }
  void setIconVisible(bool visible);

  // Hides a balloon that is showing and shows one with the title (cut to 63
  // characters) and text (cut to 255). With repeat, the arguments are ignored
  // and the last balloon shown is shown again (nothing when there was none).
  void ShowBalloon(std::string_view title, std::string_view text, BalloonIcon kind, int timeoutSecs,
                   bool repeat = false);
  void HideBalloon();
  bool BalloonVisible() const { return balloonVisible_; }
  const std::optional<BalloonHint>& LastBalloon() const { return lastBalloon_; }
  // How many balloons were shown so far (repeats included).
  int BalloonShowCount() const { return balloonShowCount_; }

  // Shows a picture list at a picture, still or cycling at an interval, as
  // one change (a value beyond the last picture selects the last one).
  void display(int list, int index, bool cycle, int interval);

  // One cycle step: the next picture, wrapping to the first. Does nothing
  // while not cycling.
  void advanceCycle();

  ChangeNotifier<>& changed() { return changed_; }

 private:
  int lastPicture() const;

  int iconList_ = 0;
  int iconIndex_ = 0;
  bool cycleIcons_ = false;
  int cycleInterval_ = kDesignCycleInterval;
  std::string hint_;
  bool iconVisible_ = false;
  bool balloonVisible_ = false;
  std::optional<BalloonHint> lastBalloon_;
  int balloonShowCount_ = 0;
  ChangeNotifier<> changed_;
};

// The picture states (the image list numbers) of TrayIconDisplay.
enum TrayState : std::uint16_t {
  kTrayIdle = 0,
  kTrayChecking = 1,
  kTrayNewMail = 2,
  kTraySuspect = 3,
  kTraySuspectAndSpam = 4,
  kTraySpamOnly = 5,
  kTrayDialling = 6,
  kTrayCountdown = 7,
  kTrayDeleting = 8,
};

// The pictures of the idle state.
enum TrayIdlePicture : std::uint16_t {
  kIdleOnline = 0,
  kIdleOffline = 1,
  kIdleTimedChecksOff = 2,
};

// Picture state and picture of the tray icon, shown as one change:
//   0 idle (still; Picture 0 online, 1 offline, 2 timed checks off),
//   1 checking, 2 new valid mail, 3 suspect, 4 suspect and spam, 5 spam only,
//   6 dialling, 7 countdown (still; Picture 1..8 shows picture Picture-1),
//   8 deleting. Any other state keeps the current list cycling at 800 ms.
void TrayIconDisplay(TrayIconModel& tray, std::uint16_t State, std::uint16_t Picture);

}  // namespace kelvrin::notify
