#pragma once

// The mail program's hot-key: the one-byte key codes that the recorder
// writes, the settings file keeps and the player replays; the KeySender port
// that finds the mail program's window and plays codes into it; and the two
// operations built on them, Send/Receive (SendRxExecute) and the wizard's
// Test (TestKey1Click).
//
// A key code string, one byte per step:
//   0 ... 31     the virtual-key code of the same value (Tab 9, Enter 13, Esc 27)
//   32 ... 227   the character of that code, typed by its key of the current
//                layout, with Shift around it when the layout needs it
//   228 ... 239  F1 ... F12
//   240 ... 249  Home, End, Up, Down, Left, Right, Page Up, Page Down, Insert, Delete
//   250 / 251    Shift down / up;  252 / 253 Ctrl down / up;  254 / 255 Alt down / up
// A modifier pressed by 250, 252 or 254 stays down until its release code is
// played, possibly by a later string.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_section.h"

namespace kelvrin::settings {

inline constexpr unsigned char kShiftDown = 250;
inline constexpr unsigned char kCtrlDown = 252;
inline constexpr unsigned char kAltDown = 254;

// Virtual-key codes the codes are defined by.
inline constexpr unsigned kVkShift = 16;
inline constexpr unsigned kVkControl = 17;
inline constexpr unsigned kVkMenu = 18;  // Alt
inline constexpr unsigned kVkWindows = 92;

inline constexpr std::string_view kUnknownEmailProgram = "unknown email program";
inline constexpr std::string_view kStarsText = "****";

// One step of a played key code string.
struct KeyStep {
  enum class Kind {
    ModifierDown,  // code: kVkShift, kVkControl or kVkMenu
    ModifierUp,
    VirtualKey,  // press and release of the key with virtual-key code `code`
    Character,   // press and release of the key that types character `code`
  };
  Kind kind = Kind::VirtualKey;
  unsigned code = 0;
  // Character only: a modifier of the string is held, so the layout's shift
  // state is not added around the key.
  bool modifierHeld = false;

  friend bool operator==(const KeyStep&, const KeyStep&) = default;
};

// The steps of a key code string, each played in order with events allowed
// to run after it. The modifier flag starts clear at each string.
std::vector<KeyStep> decodeKeyCodes(std::string_view codes);

// The stored code of a recorded virtual-key code (Shift 250, Ctrl 252, Alt
// 254, Home 240 ... Right 245, F1 ... F12 228 ... 239, anything else itself).
unsigned char recordedCode(unsigned virtualKey);

// The release sequence of a press sequence: for each modifier press, in
// order, its release code.
std::string releaseSequence(std::string_view press);

// The recorder's store: up to 10 codes; a press after the tenth is not
// recorded. A zero code cannot be stored (it ends the recording).
class KeyRecording {
 public:
  static constexpr std::size_t kCapacity = 10;
  void clear() { size_ = 0; }
  // False when the recording is full or the code is zero.
  bool append(unsigned char code);
  // The codes from the first one up to the first zero.
  std::string codes() const { return std::string(codes_.data(), size_); }
  void setCodes(std::string_view codes);

 private:
  std::array<char, kCapacity> codes_{};
  std::size_t size_ = 0;
};

// What the platform does for the hot-key.
class KeySender {
 public:
  using WindowHandle = std::uint64_t;  // 0: no window
  virtual ~KeySender() = default;
  // Whether keys can be sent at all in this session; when not, the text
  // that tells the user why and what to do instead.
  virtual std::optional<std::string> unavailableReason() { return std::nullopt; }
  // The top-level window whose title equals `title` without regard to case.
  virtual WindowHandle GetHandleFromWindowTitle(std::string_view title) = 0;
  // Restores a minimised window, else raises it; does not wait for it.
  virtual void MakeWindowActive(WindowHandle window) = 0;
  // Plays a key code string into the window that has the keyboard focus.
  virtual void SendKeys(std::string_view codes) = 0;
};

// Brings the window with that title forward and plays the keys. With no such
// window nothing is sent (false).
bool SendKeysTo(KeySender& sender, std::string_view windowTitle, std::string_view keys);

// The mail program's title for the wizard's field: the desktop's default mail
// program's name, else the design text.
std::string GetEmailProg(const std::optional<std::string>& defaultMailProgramName);

// What Send/Receive needs of the main window.
class SendReceiveHost {
 public:
  virtual ~SendReceiveHost() = default;
  virtual std::size_t listedCount() = 0;
  virtual void minimizeApplication() = 0;
  // The deletion with the Send/Receive origin: silent, starts no check.
  virtual void deleteMarked() = 0;
  virtual void clearLastListedCount() = 0;
  virtual std::size_t serverMessageCount() = 0;
  // Ends the session, which makes the deletions final.
  virtual void quitSession() = 0;
  virtual void resetStatus() = 0;
  virtual SettingsSection settings() = 0;
  // A notice in the program's message box.
  virtual void tell(const std::string& text) = 0;
};

// The main window's Send/Receive with its cache of the stored hot-key, read
// once per run by the first Send/Receive that finds it empty.
class SendReceive {
 public:
  explicit SendReceive(KeySender& sender) : sender_(sender) {}
  void SendRxExecute(SendReceiveHost& host);

  const std::string& CachedKeySetA() const { return cachedKeySetA_; }

 private:
  KeySender& sender_;
  std::string cachedKeySetA_;
  std::string cachedKeySetB_;
  std::string cachedEmailProg_;
};

// What the wizard's Test needs besides the sender.
class TestKeyHost {
 public:
  virtual ~TestKeyHost() = default;
  virtual SettingsSection settings() = 0;
  // "Did your email program Send/Receive?"; returns the pressed button (6 Yes).
  virtual int askDidItWork(const std::string& text) = 0;
  // The main window's commands follow the outcome: ready when a press
  // sequence is left.
  virtual void setSendRcvReady(bool ready) = 0;
  virtual void tell(const std::string& text) = 0;
};

inline constexpr std::string_view kDidItWork =
    "Did your email program Send/Receive?\rIf Yes, then [Yes] and [Next]\rIf you want to skip "
    "this step\rPress [No] then [Next]";

struct TestKeyOutcome {
  bool acted = false;           // false: the Test did nothing at all
  bool clearMacroEdit = false;  // the wizard empties MacroEdit1
};

// The wizard's Test button: macroText and emailProgText are the fields'
// texts, recorded the codes of the recording.
TestKeyOutcome TestKey1Click(KeySender& sender, TestKeyHost& host, std::string_view macroText,
                             std::string_view recorded, std::string_view emailProgText);

}  // namespace kelvrin::settings
