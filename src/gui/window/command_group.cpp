#include "gui/window/command_group.h"

#include <algorithm>
#include <stdexcept>

#include "app/check_cycle.h"
#include "app/command_model.h"
#include "app/kvmain.h"
#include "app/window_handlers.h"
#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

QString commandCaption(const std::string& caption) {
  return qtText(caption);
}

void applyCommand(QAction* action, const app::CommandModel& commands, const std::string& name) {
  const app::Command& c = commands[name];
  // Visibility first: Qt disables a hidden action, and enabling must come
  // after showing it.
  action->setVisible(c.Visible);
  action->setEnabled(c.Enabled);
  if (!action->isSeparator()) action->setText(commandCaption(c.Caption));
  if (action->isCheckable()) action->setChecked(c.Checked);
}

QAction* makeCommandAction(app::CommandModel& commands, const std::string& name,
                           std::function<void()> handler, QObject* parent) {
  auto* action = new QAction(parent);
  action->setObjectName(QString::fromStdString(name));
  if (commands.Caption(name) == "-") action->setSeparator(true);
  applyCommand(action, commands, name);
  if (handler) QObject::connect(action, &QAction::triggered, action, [handler] { handler(); });
  return action;
}

CommandGroup::CommandGroup(app::TKVmain& kv, int tag, QObject* parent)
    : QObject(parent), kv_(kv), tag_(tag) {
  setObjectName(QStringLiteral("CommandTag%1").arg(tag));
  subscription_ = kv_.Commands.changed().add([this](const std::string& name) {
    auto it = actions_.find(name);
    if (it != actions_.end()) applyCommand(it->second, kv_.Commands, name);
  });
}

CommandGroup::~CommandGroup() {
  kv_.Commands.changed().remove(subscription_);
}

QAction* CommandGroup::action(const std::string& name) {
  auto it = actions_.find(name);
  if (it != actions_.end()) return it->second;
  const auto names = app::CommandsOfTag(tag_);
  if (std::find(names.begin(), names.end(), name) == names.end()) {
    throw std::out_of_range("command " + name + " has another tag");
  }
  QAction* a = makeCommandAction(
      kv_.Commands, name, [this, name] { execute(name); }, this);
  actions_.emplace(name, a);
  return a;
}

void CommandGroup::execute(const std::string& /*name*/) {
  switch (tag_) {
    case app::kTagCheck:
      kv_.btOpenClick();
      break;
    case app::kTagSendReceive:
      kv_.mailProgram().SendReceive1Click(kv_);
      break;
    case app::kTagSpamDelete:
    case app::kTagDeleteAll:
      // The deletion tells its origins apart by the tag.
      kv_.btDeleteClick(tag_);
      break;
    case app::kTagCancel:
      kv_.BtCancelClick();
      break;
    case app::kTagOptions:
      kv_.Window().General1Click();
      break;
    case app::kTagHelp:
      kv_.Window().HelpBtn1Click();
      break;
    default:
      break;
  }
}

}  // namespace kelvrin::gui
