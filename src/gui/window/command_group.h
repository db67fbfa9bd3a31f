#pragma once

// One object per command tag (1 Check ... 7 Help): it carries the tag's
// handler, and every widget of the tag — tool button, menu item, tray item —
// is an action made here that follows its own entry of the core's command
// model (enabled, visible, caption, checked).

#include <QAction>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <string>

namespace kelvrin::app {
class CommandModel;
class TKVmain;
}  // namespace kelvrin::app

namespace kelvrin::gui {

// An action that follows one command of the model; triggering it runs
// handler. Separators ("-" captions) are made as separators.
QAction* makeCommandAction(app::CommandModel& commands, const std::string& name,
                           std::function<void()> handler, QObject* parent);

// Shows an action as its command entry says.
void applyCommand(QAction* action, const app::CommandModel& commands, const std::string& name);

// The model's "&" marks a shortcut letter as Qt's does; "&&" is a literal "&".
QString commandCaption(const std::string& caption);

class CommandGroup : public QObject {
  Q_OBJECT
 public:
  CommandGroup(app::TKVmain& kv, int tag, QObject* parent = nullptr);
  ~CommandGroup() override;

  int tag() const { return tag_; }
  // The action of one command of the tag (made on first use); throws
  // std::out_of_range for a name of another tag.
  QAction* action(const std::string& name);
  const std::map<std::string, QAction*>& actions() const { return actions_; }

  // Runs the tag's handler as the named command does.
  void execute(const std::string& name);

 private:
  app::TKVmain& kv_;
  int tag_;
  std::map<std::string, QAction*> actions_;
  std::size_t subscription_ = 0;
};

}  // namespace kelvrin::gui
