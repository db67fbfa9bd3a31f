#include "ui/message_box.h"

namespace kelvrin::ui {

namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

BoxButton button(std::string_view caption, int result) {
  return BoxButton{std::string(caption), result, {}};
}

}  // namespace

DecodedFlags decodeFlags(unsigned flags) {
  DecodedFlags d;
  if (flags >= kMbSetForeground) {
    d.foreground = true;
    flags -= kMbSetForeground;
  }
  for (unsigned value : {kMbDefButton4, kMbDefButton3, kMbDefButton2}) {
    if (flags >= value) {
      d.defaultButton = value / kMbDefButton2;
      flags -= value;
      break;
    }
  }
  struct IconValue {
    unsigned value;
    BoxIcon icon;
  };
  for (IconValue iv :
       {IconValue{kMbIconInformation, BoxIcon::Information},
        IconValue{kMbIconExclamation, BoxIcon::Exclamation},
        IconValue{kMbIconQuestion, BoxIcon::Question}, IconValue{kMbIconStop, BoxIcon::Stop}}) {
    if (flags >= iv.value) {
      d.icon = iv.icon;
      flags -= iv.value;
      break;
    }
  }
  d.buttonSet = flags;
  d.valid = flags <= kMbRetryCancel;
  return d;
}

std::vector<BoxButton> standardButtons(unsigned buttonSet) {
  switch (buttonSet) {
    case kMbOk:
      return {button(kCaptionOk, kIdOk)};
    case kMbOkCancel:
      return {button(kCaptionOk, kIdOk), button(kCaptionCancel, kIdCancel)};
    case kMbAbortRetryIgnore:
      return {button(kCaptionAbort, kIdAbort), button(kCaptionRetry, kIdRetry),
              button(kCaptionIgnore, kIdIgnore)};
    case kMbYesNoCancel:
      return {button(kCaptionYes, kIdYes), button(kCaptionNo, kIdNo),
              button(kCaptionCancel, kIdCancel)};
    case kMbYesNo:
      return {button(kCaptionYes, kIdYes), button(kCaptionNo, kIdNo)};
    case kMbRetryCancel:
      return {button(kCaptionRetry, kIdRetry), button(kCaptionCancel, kIdCancel)};
    default:
      return {};
  }
}

std::optional<std::size_t> escapeButton(const std::vector<BoxButton>& buttons) {
  for (int wanted : {kIdCancel, kIdNo}) {
    for (std::size_t i = 0; i < buttons.size(); ++i) {
      if (buttons[i].result == wanted) return i;
    }
  }
  if (buttons.size() == 1 && buttons.front().result == kIdOk) return 0;
  return std::nullopt;
}

std::vector<std::string> splitBarList(std::string_view list) {
  std::vector<std::string> items;
  if (!list.empty() && list.front() == '|') list.remove_prefix(1);
  if (list.empty()) return items;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = list.find('|', start);
    if (bar == std::string_view::npos) {
      items.emplace_back(list.substr(start));  // the added trailing "|" ends it
      break;
    }
    items.emplace_back(list.substr(start, bar - start));
    start = bar + 1;
    if (start == list.size()) break;
  }
  return items;
}

std::vector<std::size_t> buttonRows(std::size_t buttonCount) {
  std::size_t perRow = 3;
  if (buttonCount == 2 || buttonCount == 4) perRow = 2;
  if (buttonCount > 9) perRow = 4;
  std::vector<std::size_t> rows;
  for (std::size_t left = buttonCount; left > 0;) {
    const std::size_t n = left < perRow ? left : perRow;
    rows.push_back(n);
    left -= n;
  }
  return rows;
}

std::string resolveCaption(std::string_view callerCaption,
                           const std::optional<std::string>& activeWindowCaption) {
  if (!callerCaption.empty()) return std::string(callerCaption);
  return activeWindowCaption.value_or(std::string());
}

BoxPosition effectivePosition(BoxPosition requested, bool programWindowActive) {
  return programWindowActive ? requested : BoxPosition::DesktopCenter;
}

BoxSound standardBeep(BoxIcon icon, bool silent) {
  if (silent) return {};
  switch (icon) {
    case BoxIcon::Stop:
      return {BeepKind::Stop, {}, false};
    case BoxIcon::Question:
      return {BeepKind::Question, {}, false};
    case BoxIcon::Exclamation:
      return {BeepKind::Exclamation, {}, false};
    case BoxIcon::Information:
      return {BeepKind::Information, {}, false};
    case BoxIcon::None:
      break;
  }
  return {BeepKind::Default, {}, false};
}

BoxSound decodeBoxSound(std::string_view name) {
  if (name.empty()) return {};
  if (equalsIgnoringCase(name, "MB_ICONINFORMATION")) return {BeepKind::Information, {}, false};
  if (equalsIgnoringCase(name, "MB_ICONEXCLAMATION")) return {BeepKind::Exclamation, {}, false};
  if (equalsIgnoringCase(name, "MB_ICONQUESTION")) return {BeepKind::Question, {}, false};
  if (equalsIgnoringCase(name, "MB_ICONERROR")) return {BeepKind::Stop, {}, false};
  if (equalsIgnoringCase(name, "BEEP") || name == "0") return {BeepKind::Default, {}, false};
  if (name == "65535") return {BeepKind::Speaker, {}, false};
  // A path names a sound file (either separator: stored names may come from
  // another platform); anything else is one of the program's own sounds.
  const bool isFile = name.find_first_of("/\\") != std::string_view::npos;
  return {BeepKind::PlayName, std::string(name), isFile};
}

std::optional<MessageBoxSpec> standardBoxSpec(std::string_view text, std::string_view caption,
                                              bool silent, unsigned flags) {
  const DecodedFlags d = decodeFlags(flags);
  if (!d.valid) return std::nullopt;
  MessageBoxSpec spec;
  spec.text = std::string(text);
  spec.caption = std::string(caption);
  spec.icon = d.icon;
  spec.buttons = standardButtons(d.buttonSet);
  // The focus moves by Tab presses, which wrap around after the last button.
  spec.defaultButton = d.defaultButton % spec.buttons.size();
  spec.escapeButton = escapeButton(spec.buttons);
  spec.rows = buttonRows(spec.buttons.size());
  spec.foreground = d.foreground;
  spec.sound = standardBeep(d.icon, silent);
  spec.flags = flags;
  return spec;
}

std::optional<MessageBoxSpec> customBoxSpec(const ButtonBoxArgs& args) {
  const std::vector<std::string> captions = splitBarList(args.buttons);
  if (captions.empty()) return std::nullopt;
  MessageBoxSpec spec;
  spec.text = args.text;
  spec.caption = args.caption;
  spec.picture = args.picture;
  for (std::size_t i = 0; i < captions.size(); ++i) {
    BoxButton b{captions[i], kIdFirstCustom + static_cast<int>(i), {}};
    if (i < args.glyphs.size()) b.glyph = args.glyphs[i];
    spec.buttons.push_back(std::move(b));
  }
  const int wanted = args.defaultButton - 1;
  spec.defaultButton = (wanted >= 0 && static_cast<std::size_t>(wanted) < captions.size())
                           ? static_cast<std::size_t>(wanted)
                           : 0;
  spec.rows = buttonRows(spec.buttons.size());
  spec.foreground = args.bringToFront;
  spec.stayOnTop = args.stayOnTop;
  spec.position = args.position;
  spec.sound = decodeBoxSound(args.sound);
  return spec;
}

InputDialogSpec inputDialogSpec(const InputDialogArgs& args) {
  InputDialogSpec spec;
  spec.caption = args.caption;
  std::vector<std::string> prompts = splitBarList(args.prompts);
  if (prompts.empty()) prompts.emplace_back();  // a dialog always has a field
  std::vector<std::string> defaults;
  if (prompts.size() > 1 && args.defaults.find('|') != std::string::npos) {
    defaults = splitBarList(args.defaults);
  } else {
    defaults.push_back(args.defaults);
  }
  for (std::size_t i = 0; i < prompts.size(); ++i) {
    spec.fields.push_back(
        InputField{prompts[i], i < defaults.size() ? defaults[i] : std::string()});
  }
  for (std::string caption : splitBarList(args.checkBoxes)) {
    const bool checked = !caption.empty() && caption.front() == '\x01';
    if (checked) caption.erase(0, 1);
    spec.checkBoxes.push_back(InputCheckBox{std::move(caption), checked});
  }
  spec.editWidth = args.editWidth;
  spec.maxLength = args.maxLength;
  spec.stayOnTop = args.stayOnTop;
  spec.position = args.position;
  spec.picture = args.picture;
  spec.sound = decodeBoxSound(args.sound);
  spec.passwordChar = args.passwordChar;
  return spec;
}

std::string encodeInputValue(const std::vector<std::string>& fieldTexts,
                             const std::vector<bool>& checkStates) {
  std::string value;
  for (std::size_t i = 0; i < fieldTexts.size(); ++i) {
    if (i > 0) value.push_back('\n');
    value += fieldTexts[i];
  }
  if (!checkStates.empty()) {
    value.push_back('\r');
    for (bool checked : checkStates)
      value.push_back(checked ? '1' : '0');
  }
  return value;
}

InputAnswer decodeInputValue(std::string_view value) {
  InputAnswer answer;
  // Field texts come from one-line edits, so the last CR is the one that
  // starts the check-box digits.
  if (const std::size_t cr = value.rfind('\r'); cr != std::string_view::npos) {
    for (char c : value.substr(cr + 1))
      answer.checks.push_back(c == '1');
    value = value.substr(0, cr);
  }
  std::size_t start = 0;
  for (;;) {
    const std::size_t lf = value.find('\n', start);
    answer.fields.emplace_back(value.substr(start, lf - start));
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return answer;
}

}  // namespace kelvrin::ui
