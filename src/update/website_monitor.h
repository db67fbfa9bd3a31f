#pragma once

// The website monitor of the "Communications" tab: the list WebListBox1
// ("KVweblist.txt"), the check boxes "Active" (wsactive1) and "Keep
// Logfile" (wslog1), and the host test the scheduler runs on every listed
// site before a timed check.
//
// The list starts with a placeholder host. Until the user has put a site of
// their own in it, the monitor is switched off and its check boxes are
// disabled, so the placeholder is never probed.

#include <string>
#include <string_view>

#include "filter/edit_list_box.h"
#include "notify/change_notifier.h"
#include "settings/form.h"
#include "ui/prompter.h"

#include "update/update_ports.h"

namespace kelvrin::update {

// The host an entry names: the entry itself when it is a bare host name, or
// the host part of an address ("https://user@www.site.example:8080/x" gives
// "www.site.example", "[::1]:80" gives "::1"). Blanks around it go.
std::string hostOfEntry(std::string_view entry);

class WebsiteMonitor {
 public:
  // options: the KVmain form holding wsactive1 and wslog1. All must outlive
  // the monitor.
  WebsiteMonitor(filter::TEditListBox& list, settings::Form& options, ui::Prompter& prompter,
                 HostProbe& probe);

  // The list's normalisation: when the user leaves the list, releases Enter
  // in it, and once at start-up.
  void WebListBox1Exit();

  bool ActiveEnabled() const { return activeEnabled_; }
  bool LogEnabled() const { return logEnabled_; }
  bool Active() const;
  bool KeepLogfile() const;
  // The user's clicks on the check boxes; ignored while a box is disabled.
  void setActive(bool on);
  void setKeepLogfile(bool on);

  // The scheduler's step before a timed check: while "Active" is checked,
  // every entry in order is probed, and each one not found is reported in an
  // information box that waits for the user before the next entry.
  void Run();

  // The enabled or checked state of a box, or the list, changed.
  notify::ChangeNotifier<>& changed() { return changed_; }

 private:
  filter::TEditListBox& list_;
  settings::Form& options_;
  ui::Prompter& prompter_;
  HostProbe& probe_;
  bool activeEnabled_ = false;
  bool logEnabled_ = false;
  bool running_ = false;
  notify::ChangeNotifier<> changed_;
};

}  // namespace kelvrin::update
