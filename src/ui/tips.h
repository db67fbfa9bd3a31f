#pragma once

// The tip of the day: the fixed list of hints, the dialog's texts, which tip
// is shown, and the "Show Tips" option that decides whether the dialog opens
// at start-up. The option is the checked state of ShowTips1 in the KVmain
// form, so it is kept in the settings file with the window's other options.
// A front end only renders TipsDialogSpec and reports how it was closed.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelvrin::settings {
class Form;
}

namespace kelvrin::ui {

enum class TipsLanguage { English };

inline constexpr std::string_view kTipsAppName = "Kelvrin";
inline constexpr std::string_view kTipsHeader = "Kelvrin tip of the day";
inline constexpr std::string_view kTipsTipHelp = "Did you know?";
inline constexpr std::string_view kTipsNextCaption = "&Next >";
inline constexpr std::string_view kTipsBackCaption = "< &Back";
inline constexpr std::string_view kTipsCloseCaption = "&Close";
inline constexpr std::string_view kNoTipsText = "No tips available !";
inline constexpr std::string_view kTipsInfoAddress = "info@kelvrin.example";
inline constexpr std::uint32_t kTipsWhite = 0xFFFFFF;

// The 39 tips in list order.
const std::vector<std::string>& defaultTips();

// "&Show this dialog on next Start of " + appName, or without the name.
std::string showAtStartCaption(std::string_view appName);

// Picks an index in [0, count) uniformly at random.
using TipPicker = std::function<std::size_t(std::size_t count)>;
// A picker seeded from the clock.
TipPicker clockSeededTipPicker();

// The dialog's own copy of the tips and the tip it shows. Next picks any tip
// at random, the one shown included; Back returns through the tips shown
// since the dialog opened, so a tip passed too quickly can be read again.
class TipSequence {
 public:
  // An empty list holds the single entry kNoTipsText.
  explicit TipSequence(std::vector<std::string> tips, TipPicker pick = clockSeededTipPicker());

  std::size_t count() const { return tips_.size(); }
  std::size_t currentIndex() const { return history_[position_]; }
  const std::string& current() const { return tips_[currentIndex()]; }

  bool canNext() const { return tips_.size() > 1; }
  bool canBack() const { return position_ > 0; }
  void Next();
  void Back();

 private:
  std::vector<std::string> tips_;
  TipPicker pick_;
  std::vector<std::size_t> history_;  // indexes shown, oldest first
  std::size_t position_ = 0;          // into history_
};

struct TipsDialogSpec {
  std::string caption;
  std::string header;
  std::string tipHelp;
  std::string showAtStartCaption;
  bool showAtStartChecked = true;  // the check box always starts checked
  std::uint32_t background = kTipsWhite;
  std::string nextCaption{kTipsNextCaption};
  std::string backCaption{kTipsBackCaption};
  std::string closeCaption{kTipsCloseCaption};
  std::vector<std::string> tips;
};

struct TipsDialogResult {
  bool accepted = false;  // closed with Close (a result), not by the window's close
  bool showAtStart = true;
};

class TTips {
 public:
  std::string AppName{kTipsAppName};
  std::string Header{kTipsHeader};
  std::string TipHelp{kTipsTipHelp};
  std::string Title;
  std::uint32_t TipBackground = kTipsWhite;
  bool ShowAtStart = true;
  TipsLanguage Language = TipsLanguage::English;
  std::vector<std::string> Tips = defaultTips();

  std::uint16_t TipsCount() const;

  // Shows the dialog modally and returns how it was closed. Set by the front
  // end; without it Execute shows nothing.
  std::function<TipsDialogResult(const TipsDialogSpec&)> showDialog;

  TipsDialogSpec dialogSpec() const;
  // Shows the dialog; ShowAtStart takes the check box's state. True when the
  // dialog was closed with a result.
  bool Execute();
};

// The menu option "Show Tips": inverts ShowTips1 and, when it is now on,
// shows the dialog at once; the dialog's check box then decides the option,
// so that unticking "Show this dialog on next Start" keeps it from the next
// start whichever way the dialog was opened.
void ShowTips1Click(settings::Form& KVmain, TTips& tips);

// At start-up: the dialog opens when ShowTips1 is on, and ShowTips1 follows
// its check box afterwards.
void ShowTipsAtStart(settings::Form& KVmain, TTips& tips);

}  // namespace kelvrin::ui
