#include "gui/window/website_group.h"

#include <QApplication>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>

#include "filter/rule_lists.h"
#include "gui/dialogs/edit_list_box_widget.h"
#include "gui/dialogs/qt_text.h"

#include "update/website_monitor.h"

namespace kelvrin::gui {

WebsiteGroup::WebsiteGroup(update::WebsiteMonitor& monitor, filter::TEditListBox& list,
                           QWidget* parent)
    : QGroupBox(qtText(std::string(filter::kWebListBox1.Caption)), parent), monitor_(monitor) {
  setObjectName(QStringLiteral("WebSiteGroup"));
  list_ = new EditListBoxWidget(list, this);
  list_->setObjectName(QStringLiteral("WebListBox1"));
  list_->setListMenu(outgoing::ListMenuOwner::Websites);
  active_ = new QCheckBox(tr("Active"), this);
  active_->setObjectName(QStringLiteral("wsactive1"));
  keepLogfile_ = new QCheckBox(tr("Keep Logfile"), this);
  keepLogfile_->setObjectName(QStringLiteral("wslog1"));

  auto* boxes = new QHBoxLayout;
  boxes->addWidget(active_);
  boxes->addWidget(keepLogfile_);
  boxes->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(boxes);

  connect(active_, &QCheckBox::clicked, this, [this](bool on) {
    monitor_.setActive(on);
    sync();
  });
  connect(keepLogfile_, &QCheckBox::clicked, this, [this](bool on) {
    monitor_.setKeepLogfile(on);
    sync();
  });
  list_->installEventFilter(this);
  list_->editor()->installEventFilter(this);
  subscription_ = monitor_.changed().add([this] {
    list_->refresh();
    sync();
  });
  sync();
}

WebsiteGroup::~WebsiteGroup() {
  monitor_.changed().remove(subscription_);
}

void WebsiteGroup::sync() {
  active_->setEnabled(monitor_.ActiveEnabled());
  active_->setChecked(monitor_.Active());
  keepLogfile_->setEnabled(monitor_.LogEnabled());
  keepLogfile_->setChecked(monitor_.KeepLogfile());
}

void WebsiteGroup::leaveList() {
  monitor_.WebListBox1Exit();
}

bool WebsiteGroup::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ || watched == list_->editor()) {
    if (watched == list_ && event->type() == QEvent::KeyRelease) {
      const int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter) leaveList();
    } else if (event->type() == QEvent::FocusOut) {
      // The list's own in-place editor taking the focus is not leaving the
      // list; where the focus went is known once the change is complete.
      QPointer<WebsiteGroup> self(this);
      QTimer::singleShot(0, this, [self] {
        if (!self) return;
        QWidget* focus = QApplication::focusWidget();
        if (focus != nullptr && (focus == self->list_ || self->list_->isAncestorOf(focus))) return;
        self->leaveList();
      });
    }
  }
  return QGroupBox::eventFilter(watched, event);
}

}  // namespace kelvrin::gui
