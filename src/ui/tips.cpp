#include "ui/tips.h"

#include <chrono>
#include <limits>
#include <memory>
#include <random>
#include <utility>

#include "filter/rule_lists.h"
#include "settings/form.h"

namespace kelvrin::ui {

namespace {

constexpr std::string_view kShowTips1 = "ShowTips1";

std::vector<std::string> makeDefaultTips() {
  const std::string support(filter::kSupportAddress);
  const std::string info(kTipsInfoAddress);
  return {
      "These Tips can be turned on/off from Menu options: Help/Show Tips",
      "Highlighted message body can be shown by 3-second delay, or by press [Enter]: Options, "
      "Advanced, [Enter]=Display selected Body.",
      "If you have Timed Check enabled, the tray icon will show a graph of time to the next mail "
      "check.",
      "Double-click the Tray Icon Restores main form.",
      "Press Tray Icon for 1 second to force a Mail Check.",
      "'Delete All' (Options,GUI,Delete All Menu Item) saves marking mails for deletetion. Use "
      "with care!",
      "If Options,GUI,Close To Tray is checked, you can only close/exit program from the Tray "
      "Menu.",
      "In message view, if you click on a column header eg 'From' messages will be sorted by "
      "'From'",
      "In message view, to Add to whitelist or blacklist click the message's column, then [F2] to "
      "get to edit mode, highlight the desired part, then right-click for placement menu.",
      "To mark  a message for deletion, highlight (click the message line), then press [Space], "
      "or double click message.",
      "To unmark a message, highlight, then press [Space], or double click message.",
      "If you want to interrupt a process, press [Esc].",
      "You can reply to a mail. Right-click the selected mail in message view and select 'Quick "
      "Reply'",
      "Send/Rcv will be enabled if Options,General,Email Client hotkeys have been defined for "
      "your default email program.",
      "Editmode (get column contents) by [Ctrl]-click desired column, or click column and press "
      "[F2] then select text and right-click for copy.",
      "When in EditMode copy to Banned,Favourites,Allowed or BannedSubject by right-click.",
      "To Edit lists, click Options, General and click Tab Advanced. Hints provide edit keys for "
      "each listbox.",
      "[X] in Spam% column means a message is marked for deletion.",
      "Kelvrin contains no Spyware, or Adware.",
      "You can use Kelvrin as a mobile message filter - it can set to accept specified "
      "originator messages.",
      "Please help Kelvrin grow - tell your friends.",
      "If you have any problems please contact " + support + " and/or send bug reports.",
      "If you have any suggestions for improvements, please lets know at " + info,
      "Kelvrin uses one provider because it works on your messages offline.",
      "If you need multiple provider support, suggest you forward your other hosts mail to your "
      "kelvrin host account.",
      "In some rare cases, there can be a conflict with your current email program and Kelvrin. "
      "If this occurs, please uncheck your email timed check to avoid the conflict, or stop "
      "Kelvrin timed check.",
      "Menu bar quickkeys can be either Alt+capital, or the /key eg for Cancel is either Alt-C or "
      "[Esc]",
      "When mainform is visible quick check by pressing [F5] or Alt-C",
      "If you can partake in Kelvrin development (suggestions etc) please contact the author: " +
          support,
      "Editing the white/blacklists is the same as editing the message list eg F2 on a "
      "highlighted item gets into edit mode. Other standard keys such as [Del] [Ins] apply.",
      "Speed tip: Tray balloon shows messages less than 10. Ctrl-Click to delete all, or "
      "Shift-Click to Send/Receive.",
      "Speed tip: Tray Hint shows few messages.  Ctrl-Click to delete all, or Shift-Click to "
      "Send/Receive.",
      "Please read Help. Kelvrin is simple, but contains lots of extra features shown in help.",
      "To check for latest version of Kelvrin, when online click Help,Updates,Check Now",
      "For lots of spam if your server has spam filtering option, enable its spam",
      "filtering at medium level. This catches some, but not all spam, and Kelvrin",
      "takes care of the rest.",
      "For multiple mail hosts, Redirect and Delete your other mail servers mail to the server "
      "which Kelvrin is",
      "working on.",
  };
}

}  // namespace

const std::vector<std::string>& defaultTips() {
  static const std::vector<std::string> tips = makeDefaultTips();
  return tips;
}

std::string showAtStartCaption(std::string_view appName) {
  std::string caption = "&Show this dialog on next Start";
  if (!appName.empty()) {
    caption += " of ";
    caption += appName;
  }
  return caption;
}

TipPicker clockSeededTipPicker() {
  const auto seed = static_cast<std::mt19937::result_type>(
      std::chrono::steady_clock::now().time_since_epoch().count());
  auto engine = std::make_shared<std::mt19937>(seed);
  return [engine](std::size_t count) {
    std::uniform_int_distribution<std::size_t> pick(0, count - 1);
    return pick(*engine);
  };
}

TipSequence::TipSequence(std::vector<std::string> tips, TipPicker pick)
    : tips_(std::move(tips)), pick_(std::move(pick)) {
  if (tips_.empty()) tips_.emplace_back(kNoTipsText);
  history_.push_back(tips_.size() > 1 ? pick_(tips_.size()) : 0);
}

void TipSequence::Next() {
  if (!canNext()) return;
  // A Next after Back forgets the tips that were ahead, as a browser does.
  history_.resize(position_ + 1);
  history_.push_back(pick_(tips_.size()));
  ++position_;
}

void TipSequence::Back() {
  if (canBack()) --position_;
}

std::uint16_t TTips::TipsCount() const {
  constexpr std::size_t kMax = std::numeric_limits<std::uint16_t>::max();
  return static_cast<std::uint16_t>(Tips.size() < kMax ? Tips.size() : kMax);
}

TipsDialogSpec TTips::dialogSpec() const {
  TipsDialogSpec spec;
  spec.caption = Title;
  spec.header = Header;
  spec.tipHelp = TipHelp;
  spec.showAtStartCaption = showAtStartCaption(AppName);
  spec.background = TipBackground;
  spec.tips = Tips;
  return spec;
}

bool TTips::Execute() {
  if (!showDialog) return false;
  const TipsDialogResult result = showDialog(dialogSpec());
  ShowAtStart = result.showAtStart;
  return result.accepted;
}

void ShowTips1Click(settings::Form& KVmain, TTips& tips) {
  tips.ShowAtStart = KVmain.toggle(kShowTips1);
  if (!tips.ShowAtStart) return;
  tips.Execute();
  KVmain.setChecked(kShowTips1, tips.ShowAtStart);
}

void ShowTipsAtStart(settings::Form& KVmain, TTips& tips) {
  tips.ShowAtStart = KVmain.checked(kShowTips1);
  if (KVmain.checked(kShowTips1)) tips.Execute();
  KVmain.setChecked(kShowTips1, tips.ShowAtStart);
}

}  // namespace kelvrin::ui
