#include "settings/sendkeys.h"

namespace kelvrin::settings {

namespace {

// Home, End, Up, Down, Left, Right, Page Up, Page Down, Insert, Delete.
constexpr std::array<unsigned, 10> kNavigationKeys = {36, 35, 38, 40, 37, 39, 33, 34, 45, 46};

unsigned modifierOf(unsigned char code) {
  if (code <= 251) return kVkShift;
  if (code <= 253) return kVkControl;
  return kVkMenu;
}

}  // namespace

std::vector<KeyStep> decodeKeyCodes(std::string_view codes) {
  std::vector<KeyStep> steps;
  bool modifierHeld = false;
  for (const char ch : codes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= kShiftDown) {
      const bool down = c % 2 == 0;
      steps.push_back(
          {down ? KeyStep::Kind::ModifierDown : KeyStep::Kind::ModifierUp, modifierOf(c), false});
      modifierHeld = down;
    } else if (c >= 240) {
      steps.push_back({KeyStep::Kind::VirtualKey, kNavigationKeys[c - 240], false});
    } else if (c >= 228) {
      steps.push_back({KeyStep::Kind::VirtualKey, c - 116u, false});
    } else if (c < 32) {
      steps.push_back({KeyStep::Kind::VirtualKey, c, false});
    } else {
      steps.push_back({KeyStep::Kind::Character, c, modifierHeld});
    }
  }
  return steps;
}

unsigned char recordedCode(unsigned virtualKey) {
  switch (virtualKey) {
    case kVkShift:
      return 250;
    case kVkControl:
      return 252;
    case kVkMenu:
      return 254;
    default:
      break;
  }
  for (std::size_t i = 0; i < 6; ++i) {
    if (kNavigationKeys[i] == virtualKey) return static_cast<unsigned char>(240 + i);
  }
  if (virtualKey >= 112 && virtualKey <= 123) return static_cast<unsigned char>(virtualKey + 116);
  return static_cast<unsigned char>(virtualKey);
}

std::string releaseSequence(std::string_view press) {
  std::string release;
  for (const char ch : press) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == kShiftDown || c == kCtrlDown || c == kAltDown)
      release.push_back(static_cast<char>(c + 1));
  }
  return release;
}

bool KeyRecording::append(unsigned char code) {
  if (code == 0 || size_ == kCapacity) return false;
  codes_[size_++] = static_cast<char>(code);
  return true;
}

void KeyRecording::setCodes(std::string_view codes) {
  clear();
  for (const char c : codes) {
    if (!append(static_cast<unsigned char>(c))) break;
  }
}

bool SendKeysTo(KeySender& sender, std::string_view windowTitle, std::string_view keys) {
  const KeySender::WindowHandle window = sender.GetHandleFromWindowTitle(windowTitle);
  // Without the mail program's window the keys would land in whatever
  // program has the focus, where Ctrl+M or F9 may do anything.
  if (window == 0) return false;
  sender.MakeWindowActive(window);
  sender.SendKeys(keys);
  return true;
}

std::string GetEmailProg(const std::optional<std::string>& defaultMailProgramName) {
  if (defaultMailProgramName && !defaultMailProgramName->empty()) return *defaultMailProgramName;
  return std::string(kUnknownEmailProgram);
}

void SendReceive::SendRxExecute(SendReceiveHost& host) {
  if (host.listedCount() == 0) return;
  // Deleting without being able to hand over to the mail program would only
  // surprise: say why and leave everything as it is.
  if (const auto reason = sender_.unavailableReason()) {
    host.tell(*reason);
    return;
  }
  host.minimizeApplication();
  host.deleteMarked();
  host.clearLastListedCount();
  // Nothing left for the mail program; an open session stays for the next
  // check to quit.
  if (host.serverMessageCount() == 0) return;
  if (cachedKeySetA_.empty()) {
    const SettingsSection s = host.settings();
    cachedKeySetA_ = s.KeySetA();
    cachedKeySetB_ = s.KeySetB();
    cachedEmailProg_ = s.EmailProg();
  }
  if (cachedKeySetA_.empty() || cachedEmailProg_.empty()) return;
  host.quitSession();
  SendKeysTo(sender_, cachedEmailProg_, cachedKeySetA_);
  SendKeysTo(sender_, cachedEmailProg_, cachedKeySetB_);
  host.resetStatus();
}

TestKeyOutcome TestKey1Click(KeySender& sender, TestKeyHost& host, std::string_view macroText,
                             std::string_view recorded, std::string_view emailProgText) {
  if (macroText.empty() || macroText == kStarsText || emailProgText == kUnknownEmailProgram) {
    return {};
  }
  std::string press(recorded);
  const std::string release = releaseSequence(press);
  int answer = 0;
  if (!press.empty()) {
    if (const auto reason = sender.unavailableReason()) {
      host.tell(*reason);
      return {};
    }
    SendKeysTo(sender, emailProgText, press);
    SendKeysTo(sender, emailProgText, release);
    answer = host.askDidItWork(std::string(kDidItWork));
  }
  SettingsSection s = host.settings();
  TestKeyOutcome outcome{true, false};
  if (answer == 6) {
    s.setKeySetA(press);
    s.setKeySetB(release);
    s.setEmailProg(emailProgText);
  } else {
    outcome.clearMacroEdit = true;
    press.clear();
    s.setKeySetA("");
    s.setKeySetB("");
  }
  host.setSendRcvReady(!press.empty());
  return outcome;
}

}  // namespace kelvrin::settings
