#pragma once

// The "WebSite Monitor" group of the "Communications" tab: the website list
// WebListBox1 with the check boxes "Active" (wsactive1) and "Keep Logfile"
// (wslog1). The boxes show the monitor's state; leaving the list, or
// releasing Enter in it, has the monitor put the list in order.

#include <QGroupBox>

class QCheckBox;

namespace kelvrin::update {
class WebsiteMonitor;
}
namespace kelvrin::filter {
class TEditListBox;
}

namespace kelvrin::gui {

class EditListBoxWidget;

class WebsiteGroup : public QGroupBox {
  Q_OBJECT
 public:
  // monitor and list must outlive the group.
  WebsiteGroup(update::WebsiteMonitor& monitor, filter::TEditListBox& list,
               QWidget* parent = nullptr);
  ~WebsiteGroup() override;

  EditListBoxWidget* list() const { return list_; }
  QCheckBox* active() const { return active_; }
  QCheckBox* keepLogfile() const { return keepLogfile_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void sync();
  void leaveList();

  update::WebsiteMonitor& monitor_;
  EditListBoxWidget* list_ = nullptr;
  QCheckBox* active_ = nullptr;
  QCheckBox* keepLogfile_ = nullptr;
  std::size_t subscription_ = 0;
};

}  // namespace kelvrin::gui
