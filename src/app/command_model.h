#pragma once

// Every command the main window enables, disables, shows, hides, captions or
// checks — tool buttons, menu items and tray menu items — named by its
// component name. The GUI binds each of its actions to the entry of the same
// name. Asking for a name that does not exist throws std::out_of_range, so a
// misspelt name fails loudly in the tests instead of changing nothing.

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "notify/change_notifier.h"

namespace kelvrin::app {

struct Command {
  bool Enabled = true;
  bool Visible = true;
  std::string Caption;
  bool Checked = false;
};

class CommandModel {
 public:
  // Every command with its design state.
  CommandModel();

  const Command& operator[](std::string_view name) const;
  bool Enabled(std::string_view name) const { return (*this)[name].Enabled; }
  bool Visible(std::string_view name) const { return (*this)[name].Visible; }
  bool Checked(std::string_view name) const { return (*this)[name].Checked; }
  const std::string& Caption(std::string_view name) const { return (*this)[name].Caption; }

  void setEnabled(std::string_view name, bool enabled);
  void setVisible(std::string_view name, bool visible);
  void setCaption(std::string_view name, std::string caption);
  void setChecked(std::string_view name, bool checked);

  // Several at once, for the groups the handlers switch together.
  void setEnabled(std::initializer_list<std::string_view> names, bool enabled);
  void setVisible(std::initializer_list<std::string_view> names, bool visible);

  bool contains(std::string_view name) const;
  std::vector<std::string> names() const;

  // The name of the command that changed.
  notify::ChangeNotifier<const std::string&>& changed() { return changed_; }

 private:
  Command& at(std::string_view name);
  void add(std::string name, std::string caption, bool enabled = true, bool visible = true,
           bool checked = false);

  std::map<std::string, Command, std::less<>> commands_;
  notify::ChangeNotifier<const std::string&> changed_;
};

// The tags that tell the commands sharing one handler apart.
enum CommandTag : int {
  kTagNone = 0,
  kTagCheck = 1,
  kTagSpamDelete = 2,
  kTagSendReceive = 3,
  kTagDeleteAll = 4,
  kTagCancel = 5,
  kTagOptions = 6,
  kTagHelp = 7,
};

// The tag of a command by its name (0 for a name without one).
int TagOf(std::string_view name);

// The commands that share the handler of a tag (tool button, menu item, tray
// item), in name order; each keeps its own state in the model.
std::vector<std::string> CommandsOfTag(int tag);

}  // namespace kelvrin::app
