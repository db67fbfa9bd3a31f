#include "ui/console_prompter.h"

#include <iostream>

namespace kelvrin::ui {

namespace {

// Message texts break lines with CR (sometimes CR LF); a terminal wants LF.
std::string terminalText(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\n  ";
    } else if (text[i] == '\n') {
      out += "\n  ";
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void printHeader(std::ostream& out, std::string_view caption, std::string_view text) {
  if (!caption.empty()) out << plainCaption(caption) << ": ";
  out << terminalText(text) << '\n';
}

bool hasResult(const MessageBoxSpec& spec, int result) {
  for (const BoxButton& b : spec.buttons) {
    if (b.result == result) return true;
  }
  return false;
}

}  // namespace

std::string plainCaption(std::string_view caption) {
  std::string out;
  for (std::size_t i = 0; i < caption.size(); ++i) {
    if (caption[i] == '&') {
      if (i + 1 < caption.size() && caption[i + 1] == '&') {
        out.push_back('&');
        ++i;
      }
      continue;
    }
    out.push_back(caption[i]);
  }
  return out;
}

ConsolePrompter::ConsolePrompter(std::ostream& out, bool assumeYes)
    : out_(out), assumeYes_(assumeYes) {}

ConsolePrompter::ConsolePrompter(bool assumeYes) : ConsolePrompter(std::cerr, assumeYes) {}

int ConsolePrompter::answerFor(const MessageBoxSpec& spec) const {
  if (spec.buttons.empty()) return kIdNone;
  if (spec.origin == BoxOrigin::ButtonBox) {
    // The caller's own buttons carry no meaning we could judge; take the one
    // the box offers as its default, as Enter would.
    return spec.buttons[spec.defaultButton].result;
  }
  const int* order = nullptr;
  static constexpr int kSafe[] = {kIdCancel, kIdNo, kIdAbort, kIdOk, 0};
  static constexpr int kYes[] = {kIdYes, kIdOk, kIdIgnore, kIdRetry, 0};
  order = assumeYes_ ? kYes : kSafe;
  for (; *order != 0; ++order) {
    if (hasResult(spec, *order)) return *order;
  }
  return spec.buttons.front().result;
}

int ConsolePrompter::showMessageBox(const MessageBoxSpec& spec) {
  printHeader(out_, spec.caption, spec.text);
  const int result = answerFor(spec);
  if (spec.buttons.size() > 1) {
    for (const BoxButton& b : spec.buttons) {
      if (b.result == result) out_ << "  -> " << plainCaption(b.caption) << '\n';
    }
  }
  out_.flush();
  return result;
}

std::string ConsolePrompter::showInputDialog(const InputDialogSpec& spec) {
  for (const InputField& f : spec.fields)
    printHeader(out_, spec.caption, f.prompt);
  if (!assumeYes_) {
    out_ << "  -> Cancel\n";
    out_.flush();
    return kInputCancelled;
  }
  std::vector<std::string> texts;
  for (const InputField& f : spec.fields)
    texts.push_back(f.value);
  std::vector<bool> checks;
  for (const InputCheckBox& c : spec.checkBoxes)
    checks.push_back(c.checked);
  out_ << "  -> OK (defaults taken)\n";
  out_.flush();
  return encodeInputValue(texts, checks);
}

void ConsolePrompter::showProgressBox(const ProgressBoxSpec& spec) {
  printHeader(out_, spec.caption, spec.text);
  progressMax_ = spec.max;
  out_.flush();
}

void ConsolePrompter::updateProgressBox(int position) {
  out_ << "  " << position << " of " << progressMax_ << '\n';
  out_.flush();
}

void ConsolePrompter::hideProgressBox() {}

void ConsolePrompter::playSound(const BoxSound&) {}

}  // namespace kelvrin::ui
