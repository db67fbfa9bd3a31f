#include "ui/prompter.h"

#include <exception>
#include <utility>

namespace kelvrin::ui {

int Prompter::show(MessageBoxSpec spec) {
  const auto active = activeWindow();
  if (spec.caption.empty() && active) spec.caption = active->caption;
  spec.position = effectivePosition(spec.position, active.has_value());
  spec.stayOnTop = spec.stayOnTop || stayOnTopMode_;
  try {
    return showMessageBox(spec);
  } catch (const std::exception&) {
    return kIdNone;
  }
}

int Prompter::MsgBox(std::string_view text, std::string_view caption, bool silent, unsigned flags) {
  auto spec = standardBoxSpec(text, caption, silent, flags);
  if (!spec) return kIdNone;
  spec->origin = BoxOrigin::MsgBox;
  spec->foreground = true;
  spec->position = BoxPosition::OwnerFormCenter;
  return show(*std::move(spec));
}

int Prompter::MsgBoxAt(std::string_view text, std::string_view caption, bool silent, unsigned flags,
                       BoxPosition position) {
  auto spec = standardBoxSpec(text, caption, silent, flags);
  if (!spec) return kIdNone;
  spec->origin = BoxOrigin::MsgBoxAt;
  spec->position = position;
  return show(*std::move(spec));
}

bool Prompter::InfoBox(std::string_view text) {
  auto spec = standardBoxSpec(text, "", true, kMbIconInformation);
  spec->origin = BoxOrigin::InfoBox;
  spec->foreground = true;
  return show(*std::move(spec)) != kIdNone;
}

int Prompter::ButtonBox(const ButtonBoxArgs& args) {
  auto spec = customBoxSpec(args);
  if (!spec) return kIdNone;
  spec->origin = BoxOrigin::ButtonBox;
  return show(*std::move(spec));
}

void Prompter::inputDialog(InputDialogSpec spec, std::string& value) {
  const auto active = activeWindow();
  if (spec.caption.empty() && active) spec.caption = active->caption;
  spec.position = effectivePosition(spec.position, active.has_value());
  spec.stayOnTop = spec.stayOnTop || stayOnTopMode_;
  try {
    value = showInputDialog(spec);
  } catch (const std::exception&) {
    value = kInputFailed;
  }
}

void Prompter::InputBox(std::string_view prompt, std::string_view caption,
                        std::string_view defaultValue, std::string& value) {
  // Built directly rather than through the "|" rules: the prompt is one
  // prompt, whatever characters it holds.
  InputDialogSpec spec;
  spec.caption = std::string(caption);
  spec.fields.push_back(InputField{std::string(prompt), std::string(defaultValue)});
  spec.editWidth = 170;
  spec.maxLength = 255;
  spec.icon = BoxIcon::Question;
  spec.toolTipEditColor = true;
  spec.position = BoxPosition::OwnerFormCenter;
  const auto active = activeWindow();
  spec.stayOnTop = active && active->stayOnTop;
  inputDialog(std::move(spec), value);
}

void Prompter::InputDialog(const InputDialogArgs& args, std::string& value) {
  inputDialog(inputDialogSpec(args), value);
}

bool Prompter::ProgressBoxOpen(const ProgressBoxArgs& args, std::function<void()> onCancel) {
  if (progressOpen_) return false;
  ProgressBoxSpec spec;
  spec.text = args.text;
  spec.caption = args.caption;
  spec.cancelButton = args.cancelButton;
  spec.gauge = args.gauge;
  spec.min = args.min;
  spec.max = args.max < args.min ? args.min : args.max;
  spec.width = args.width;
  spec.height = args.height;
  const auto active = activeWindow();
  if (spec.caption.empty() && active) spec.caption = active->caption;
  spec.position = effectivePosition(args.position, active.has_value());
  spec.stayOnTop = args.stayOnTop || stayOnTopMode_;
  spec.picture = args.picture;
  spec.sound = decodeBoxSound(args.sound);
  try {
    showProgressBox(spec);
  } catch (const std::exception&) {
    return false;
  }
  progressOpen_ = true;
  progressGauge_ = spec.gauge;
  progressMin_ = spec.min;
  progressMax_ = spec.max;
  progressPosition_ = spec.min;
  onProgressCancel_ = std::move(onCancel);
  return true;
}

bool Prompter::ProgressBoxStep(int n) {
  if (!progressOpen_ || !progressGauge_) return false;
  long long next = static_cast<long long>(progressPosition_) + n;
  if (next > progressMax_) next = progressMax_;
  if (next < progressMin_) next = progressMin_;
  progressPosition_ = static_cast<int>(next);
  // Last: a front end may report Cancel from here, and its receiver may
  // close the box before we return.
  updateProgressBox(progressPosition_);
  return true;
}

bool Prompter::ProgressBoxClose() {
  if (!progressOpen_) return false;
  progressOpen_ = false;
  onProgressCancel_ = nullptr;
  hideProgressBox();
  return true;
}

void Prompter::progressBoxCancelPressed() {
  if (!progressOpen_ || !onProgressCancel_) return;
  // A copy: the receiver usually closes the box, which drops the callback.
  const std::function<void()> notify = onProgressCancel_;
  notify();
}

void Prompter::PlayBoxSound(std::string_view name) {
  const BoxSound sound = decodeBoxSound(name);
  if (sound.kind != BeepKind::None) playSound(sound);
}

}  // namespace kelvrin::ui
