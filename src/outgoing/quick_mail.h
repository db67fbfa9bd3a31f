#pragma once

// The quick-mail form without its window: what the form opens with (a blank
// mail, a reply, a support request), the body kept between openings, what
// happens when it closes, and the address history of its two boxes.

#include <optional>
#include <string>
#include <vector>

#include "filter/edit_list_box.h"
#include "filter/message_node.h"
#include "settings/ini_file.h"

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::outgoing {

class MailSender;

inline constexpr const char* kQuickMailCaption = "Kelvrin Quick Mail - this message is not stored";
inline constexpr const char* kBodyPlaceholder = "Enter mail body here";
inline constexpr const char* kSupportSubject = "Kelvrin Support Request";

struct QuickMailFields {
  std::string From;
  std::string To;
  std::string Subject;
  std::string Body;
};

class QuickMail {
 public:
  QuickMail(app::TKVmain& kv, MailSender& sender);

  // ShowDemForm's first half: the fields the form opens with. A record makes
  // a reply (addresses swapped, subject unchanged); support a support request.
  QuickMailFields Open(const filter::MessageNode* record, const std::string& initialBody,
                       bool support) const;
  // ShowDemForm's second half, once the form is closed: sends when it closed
  // with OK and a body was written, and keeps the body unless it was sent.
  // True when the mail was sent.
  bool Close(bool ok, const QuickMailFields& form);

  const std::string& KeptBody() const { return keptBody_; }

 private:
  app::TKVmain& kv_;
  MailSender& sender_;
  std::string keptBody_;
};

// The address history of one box ("ComboBox1" From, "ComboBox2" To): the
// keys of its section of the settings file.
class AddressHistory {
 public:
  AddressHistory(settings::IniFile file, std::string section);

  // Entering the box: its items are the stored addresses.
  void Reload();
  const std::vector<std::string>& Items() const { return items_; }
  // SaveComboTxt: remembers text unless an item is exactly it; the list
  // keeps its first item and the nine most recent others.
  void Save(const std::string& text);
  // Ctrl+click on an item.
  void Forget(const std::string& item);
  // Ctrl+double-click in the box: the section is erased, the first item stays.
  void Clear();

 private:
  settings::IniFile file_;
  std::string section_;
  std::vector<std::string> items_;
};

// MailTo1Click's recipients: the focused favourite as a bare address, or,
// with two or more selected, every selected one in list order joined by ";"
// (and the multi-address warning shown). Nothing without a focused entry.
struct MailToRecipients {
  std::string To;
  bool MultiAddressWarning = false;
};
std::optional<MailToRecipients> MailToAddresses(const filter::TEditListBox& favourites);

// More than one address in a box ("@" twice): the warning is shown.
bool ShowsMultiAddressWarning(const std::string& text);

}  // namespace kelvrin::outgoing
