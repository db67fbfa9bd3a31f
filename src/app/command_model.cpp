#include "app/command_model.h"

#include <stdexcept>

namespace kelvrin::app {

CommandModel::CommandModel() {
  // Check
  add("btOpen", "&Check");
  add("ToolButton2", "&Check/F5");
  add("CheckNow1", "Check");
  // Cancel: only while something runs
  add("BtCancel", "&Cancel", false);
  add("ToolButton8", "&Cancel/Esc", false);
  // Spam delete: only once a check listed messages
  add("BtDelete", "spam&Del/Del", false);
  add("ToolButton3", "spam&Del", false);
  add("DeleteSpam1", "Spam delete", false);
  // Delete All: shown by the option "Delete All menu item"
  add("btDelall1", "del&All", false, false);
  add("ToolButton5", "del&All", false, false);
  add("DeleteAll1", "Delete All", false, false);
  // Send/Receive: enabled once the mail program's hot-key is recorded
  add("SendRcv", "Send/Receive", false);
  add("ToolButton4", "Send/Receive", false);
  add("SendReceive1", "Send/Receive", false, false);
  // Exit
  add("ToolButton1", "Exit");
  add("MenuItem1", "e&Xit");
  add("Exit1", "Exit");
  // The rest of the tray menu
  add("Help1", "Help");
  add("GeneralOptions1", "General Options");
  add("N1", "-");
  add("N2", "-");
  add("MarkAll1", "Mark All", true, false);
  add("N3", "-", true, false);
  add("Disable1", "Disable Timed Check");
  add("Disable2", "Disable Timed Check");  // the Advanced menu's twin of Disable1
  add("Disconnect1", "Disconnect", true, false);
  add("N6", "-");
  add("ShowHide1", "Show");
  // The Check button's drop-down: the account
  add("Paccount", "Primary", true, true, true);
  add("SecAccount", "Secondary", true, true, false);
  // The tool bar, or the menu bar when the option "MenuBar" is on
  add("ToolBar1", "");
  add("MainMenu1", "", true, false);
  // The message view's context menu
  add("CopyToBanned1", "Copy To Banned Email");
  add("CopyToAllowed1", "Copy To Allowed Email");
  add("AddtoFavourites1", "Add to Favourites");
  add("CopyToBannedSubject1", "Copy To Banned Subject");
  add("QuickReply1", "Quick Reply (not saved)");
  // A quick mail, sent at once and not stored
  add("Qmail1", "&Qmail");
  // The Help menu
  add("Contact1", "Support/Contact");
  add("Check4NewVer1", "Check For Updates");
}

void CommandModel::add(std::string name, std::string caption, bool enabled, bool visible,
                       bool checked) {
  commands_.emplace(std::move(name), Command{enabled, visible, std::move(caption), checked});
}

const Command& CommandModel::operator[](std::string_view name) const {
  auto it = commands_.find(name);
  if (it == commands_.end()) throw std::out_of_range("no command " + std::string(name));
  return it->second;
}

Command& CommandModel::at(std::string_view name) {
  auto it = commands_.find(name);
  if (it == commands_.end()) throw std::out_of_range("no command " + std::string(name));
  return it->second;
}

bool CommandModel::contains(std::string_view name) const {
  return commands_.find(name) != commands_.end();
}

std::vector<std::string> CommandModel::names() const {
  std::vector<std::string> result;
  for (const auto& [name, command] : commands_)
    result.push_back(name);
  return result;
}

void CommandModel::setEnabled(std::string_view name, bool enabled) {
  Command& c = at(name);
  if (c.Enabled == enabled) return;
  c.Enabled = enabled;
  changed_.notify(std::string(name));
}

void CommandModel::setVisible(std::string_view name, bool visible) {
  Command& c = at(name);
  if (c.Visible == visible) return;
  c.Visible = visible;
  changed_.notify(std::string(name));
}

void CommandModel::setCaption(std::string_view name, std::string caption) {
  Command& c = at(name);
  if (c.Caption == caption) return;
  c.Caption = std::move(caption);
  changed_.notify(std::string(name));
}

void CommandModel::setChecked(std::string_view name, bool checked) {
  Command& c = at(name);
  if (c.Checked == checked) return;
  c.Checked = checked;
  changed_.notify(std::string(name));
}

void CommandModel::setEnabled(std::initializer_list<std::string_view> names, bool enabled) {
  for (auto name : names)
    setEnabled(name, enabled);
}

void CommandModel::setVisible(std::initializer_list<std::string_view> names, bool visible) {
  for (auto name : names)
    setVisible(name, visible);
}

namespace {

const std::map<std::string_view, int, std::less<>>& tags() {
  static const std::map<std::string_view, int, std::less<>> kTags = {
      {"btOpen", kTagCheck},
      {"ToolButton2", kTagCheck},
      {"CheckNow1", kTagCheck},
      {"BtDelete", kTagSpamDelete},
      {"ToolButton3", kTagSpamDelete},
      {"DeleteSpam1", kTagSpamDelete},
      {"SendRcv", kTagSendReceive},
      {"ToolButton4", kTagSendReceive},
      {"SendReceive1", kTagSendReceive},
      {"btDelall1", kTagDeleteAll},
      {"ToolButton5", kTagDeleteAll},
      {"DeleteAll1", kTagDeleteAll},
      {"BtCancel", kTagCancel},
      {"ToolButton8", kTagCancel},
      {"GeneralOptions1", kTagOptions},
      {"Help1", kTagHelp},
  };
  return kTags;
}

}  // namespace

int TagOf(std::string_view name) {
  auto it = tags().find(name);
  return it == tags().end() ? kTagNone : it->second;
}

std::vector<std::string> CommandsOfTag(int tag) {
  std::vector<std::string> names;
  for (const auto& [name, t] : tags()) {
    if (t == tag && tag != kTagNone) names.emplace_back(name);
  }
  return names;
}

}  // namespace kelvrin::app
