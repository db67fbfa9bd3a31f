#pragma once

// The decisions of the system's own message box, input dialog and progress
// box, as data: which buttons, icon, default button, beep and caption a box
// gets, how its buttons are laid out in rows, and how an input dialog's
// answer is encoded. A front end (Qt, console, test double) only renders a
// spec and reports which button was pressed; every rule lives here, so all
// front ends behave alike.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::ui {

// Flags of the standard box (the platform's message-box values).
inline constexpr unsigned kMbOk = 0;
inline constexpr unsigned kMbOkCancel = 1;
inline constexpr unsigned kMbAbortRetryIgnore = 2;
inline constexpr unsigned kMbYesNoCancel = 3;
inline constexpr unsigned kMbYesNo = 4;
inline constexpr unsigned kMbRetryCancel = 5;
inline constexpr unsigned kMbIconStop = 16;
inline constexpr unsigned kMbIconQuestion = 32;
inline constexpr unsigned kMbIconExclamation = 48;
inline constexpr unsigned kMbIconInformation = 64;
inline constexpr unsigned kMbDefButton2 = 0x100;
inline constexpr unsigned kMbDefButton3 = 0x200;
inline constexpr unsigned kMbDefButton4 = 0x300;
inline constexpr unsigned kMbSetForeground = 0x10000;

// Results: the platform's values for standard buttons, 11, 12 ... for the
// caller's own buttons, 0 when no box was shown.
inline constexpr int kIdNone = 0;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;
inline constexpr int kIdFirstCustom = 11;

// Captions used when the caller gives none.
inline constexpr std::string_view kCaptionYes = "&Yes";
inline constexpr std::string_view kCaptionNo = "&No";
inline constexpr std::string_view kCaptionCancel = "&Cancel";
inline constexpr std::string_view kCaptionOk = "&OK";
inline constexpr std::string_view kCaptionRetry = "&Retry";
inline constexpr std::string_view kCaptionAbort = "&Abort";
inline constexpr std::string_view kCaptionIgnore = "Ignore";

enum class BoxIcon { None, Stop, Question, Exclamation, Information };

// What a box sounds like when it opens.
enum class BeepKind {
  None,     // silent, or an empty sound name
  Default,  // the default beep
  Stop,     // the message beeps of the icon kinds
  Question,
  Exclamation,
  Information,
  Speaker,   // the simple speaker beep
  PlayName,  // play `BoxSound::name` without waiting
};

struct BoxSound {
  BeepKind kind = BeepKind::None;
  std::string name;     // for PlayName
  bool isFile = false;  // PlayName: a sound file (the name holds a path) or a built-in sound
  bool operator==(const BoxSound&) const = default;
};

// The window-position kinds of the user-interface library.
enum class BoxPosition {
  Designed,
  Default,
  ScreenCenter,
  DesktopCenter,
  MainFormCenter,
  OwnerFormCenter
};

struct BoxButton {
  std::string caption;
  int result = kIdNone;
  std::string glyph;  // the caller's glyph for a custom button, if any
  bool operator==(const BoxButton&) const = default;
};

// Which operation asked for a box.
enum class BoxOrigin { MsgBox, MsgBoxAt, InfoBox, ButtonBox };

// Everything a front end needs to show one message box.
struct MessageBoxSpec {
  BoxOrigin origin = BoxOrigin::MsgBox;
  std::string text;     // CR breaks lines
  std::string caption;  // already resolved (caller's or the active window's)
  BoxIcon icon = BoxIcon::None;
  std::string picture;  // custom boxes: the caller's picture (a file or resource name)
  std::vector<BoxButton> buttons;
  std::size_t defaultButton = 0;  // index into buttons
  // The button that Esc (and closing the window) presses; none: only the
  // buttons close the box.
  std::optional<std::size_t> escapeButton;
  std::vector<std::size_t> rows;  // buttons per row, top to bottom
  bool foreground = false;        // bring the owner to the foreground first
  bool stayOnTop = false;
  BoxPosition position = BoxPosition::OwnerFormCenter;
  BoxSound sound;
  unsigned flags = 0;  // the caller's flags (standard boxes)
};

// Flags decoded in the order foreground, default button, icon, buttons;
// each part is taken off before the next is decoded.
struct DecodedFlags {
  bool foreground = false;
  std::size_t defaultButton = 0;  // 0-based
  BoxIcon icon = BoxIcon::None;
  unsigned buttonSet = 0;
  bool valid = false;  // the remaining button value is one of 0 ... 5
};
DecodedFlags decodeFlags(unsigned flags);

// The standard buttons of a button set (empty for a value outside 0 ... 5).
std::vector<BoxButton> standardButtons(unsigned buttonSet);

// The button Esc presses in a standard box: Cancel, else No, else a lone OK.
// Abort/Retry/Ignore has none: the user has to choose. The caller's own
// buttons never have one, since their meaning is the caller's.
std::optional<std::size_t> escapeButton(const std::vector<BoxButton>& buttons);

// Splits a "|"-separated list: a leading "|" is dropped, a missing trailing
// "|" is added, and each piece is one item (empty pieces included). An empty
// list, or "|" alone, gives no items.
std::vector<std::string> splitBarList(std::string_view list);

// Buttons per row: rows of three; rows of two for two or four buttons; rows
// of four for more than nine.
std::vector<std::size_t> buttonRows(std::size_t buttonCount);

// The caller's caption, else the active window's, else none.
std::string resolveCaption(std::string_view callerCaption,
                           const std::optional<std::string>& activeWindowCaption);

// Every box is centred on the desktop when no window of the program is active.
BoxPosition effectivePosition(BoxPosition requested, bool programWindowActive);

// The beep of a standard box: the icon's kind, the default beep without an
// icon, nothing when silent.
BoxSound standardBeep(BoxIcon icon, bool silent);
// What PlayBoxSound does with a name.
BoxSound decodeBoxSound(std::string_view name);

// The layout of a standard box; empty optional when the flags name no button
// set (the box is not shown and the result is 0).
std::optional<MessageBoxSpec> standardBoxSpec(std::string_view text, std::string_view caption,
                                              bool silent, unsigned flags);

struct ButtonBoxArgs {
  std::string text;
  std::string caption;
  std::string picture;
  int defaultButton = 1;  // 1-based; out of range gives the first button
  bool bringToFront = false;
  bool stayOnTop = false;
  std::string sound;    // a PlayBoxSound name
  std::string buttons;  // "|"-separated captions
  BoxPosition position = BoxPosition::OwnerFormCenter;
  std::vector<std::string> glyphs;  // glyph of each button position, if given
};

// The layout of a box with the caller's buttons; empty optional when the
// button list is empty (nothing is shown, the result is 0).
std::optional<MessageBoxSpec> customBoxSpec(const ButtonBoxArgs& args);

// ---------------------------------------------------------------------------
// Input dialog

// The answer of an input dialog that was cancelled or that failed; both are
// one character long, so they differ from any empty input.
inline const std::string kInputCancelled(1, '\0');
inline const std::string kInputFailed(1, '\x01');

struct InputCheckBox {
  std::string caption;  // without the leading code-1 character
  bool checked = false;
  bool operator==(const InputCheckBox&) const = default;
};

struct InputField {
  std::string prompt;
  std::string value;  // prefilled default
  bool operator==(const InputField&) const = default;
};

struct InputDialogArgs {
  std::string prompts;  // "|"-separated
  std::string caption;
  std::string defaults;  // "|"-separated when there is more than one prompt
  int editWidth = 170;
  std::size_t maxLength = 255;  // characters each field accepts (0 = no limit)
  bool stayOnTop = false;
  BoxPosition position = BoxPosition::OwnerFormCenter;
  std::string picture;
  std::string sound;
  std::string checkBoxes;    // "|"-separated; a caption starting with "\x01" starts checked
  char passwordChar = '\0';  // masks every field when not '\0'
};

struct InputDialogSpec {
  std::string caption;
  std::vector<InputField> fields;
  std::vector<InputCheckBox> checkBoxes;
  int editWidth = 170;
  std::size_t maxLength = 255;
  bool stayOnTop = false;
  BoxPosition position = BoxPosition::OwnerFormCenter;
  BoxIcon icon = BoxIcon::None;  // InputBox shows the question icon
  std::string picture;
  BoxSound sound;
  char passwordChar = '\0';
  // The edit fields take the tooltip background (the one-line InputBox).
  bool toolTipEditColor = false;
};

InputDialogSpec inputDialogSpec(const InputDialogArgs& args);

// The answer after OK: the field texts joined by LF, then, when there are
// check boxes, CR and one digit ("1" / "0") per check box.
std::string encodeInputValue(const std::vector<std::string>& fieldTexts,
                             const std::vector<bool>& checkStates);

// The parts of an OK answer (for callers of dialogs with several fields or
// check boxes). Not meaningful for kInputCancelled / kInputFailed.
struct InputAnswer {
  std::vector<std::string> fields;
  std::vector<bool> checks;
};
InputAnswer decodeInputValue(std::string_view value);

// ---------------------------------------------------------------------------
// Progress box

struct ProgressBoxArgs {
  std::string text;
  std::string caption;
  std::string sound;
  bool cancelButton = false;
  bool gauge = false;
  int max = 100;
  int min = 0;
  int width = 0;   // > 0 overrides the computed client width
  int height = 0;  // > 0 overrides the computed client height
  bool stayOnTop = false;
  BoxPosition position = BoxPosition::OwnerFormCenter;
  std::string picture;
};

struct ProgressBoxSpec {
  std::string text;
  std::string caption;
  bool cancelButton = false;
  std::string cancelCaption = std::string(kCaptionCancel);
  bool gauge = false;
  int min = 0;
  int max = 100;
  int width = 0;
  int height = 0;
  bool stayOnTop = false;
  BoxPosition position = BoxPosition::OwnerFormCenter;
  std::string picture;
  BoxSound sound;
};

}  // namespace kelvrin::ui
