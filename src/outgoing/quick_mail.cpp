#include "outgoing/quick_mail.h"

#include <algorithm>

#include "app/kvmain.h"
#include "filter/rule_lists.h"
#include "filter/spam_scoring.h"
#include "outgoing/send_mail.h"
#include "ui/message_box.h"

namespace kelvrin::outgoing {

QuickMail::QuickMail(app::TKVmain& kv, MailSender& sender) : kv_(kv), sender_(sender) {}

QuickMailFields QuickMail::Open(const filter::MessageNode* record, const std::string& initialBody,
                                bool support) const {
  QuickMailFields f;
  f.From = kv_.KVWForm1->text("KVWMainEmail1");
  if (support) {
    f.From = filter::ParseMailAdds(f.From);
    f.To = std::string(filter::kSupportAddress);
    f.Subject = kSupportSubject;
  } else if (record != nullptr) {
    f.From = filter::ParseMailAdds(record->SendTo);
    f.To = filter::ParseMailAdds(record->From);
    f.Subject = record->Subject;
  }
  if (!keptBody_.empty()) {
    f.Body = keptBody_;
  } else if (!initialBody.empty()) {
    f.Body = initialBody;
  } else {
    f.Body = kBodyPlaceholder;
  }
  return f;
}

bool QuickMail::Close(bool ok, const QuickMailFields& form) {
  keptBody_ = form.Body;
  if (!ok) return false;
  if (keptBody_.find(kBodyPlaceholder) == std::string::npos &&
      sender_.SendMAPImail("", form.From, false, keptBody_, form.Subject, form.To)) {
    kv_.dfsStatus.setStatus("Status: message sent");
    keptBody_.clear();
    return true;
  }
  kv_.Prompter.MsgBox("      Comms Error\rStatus: message NOT sent", "Kelvrin error", true,
                      ui::kMbIconExclamation);
  kv_.dfsStatus.setStatus("Status: message NOT sent");
  return false;
}

AddressHistory::AddressHistory(settings::IniFile file, std::string section)
    : file_(std::move(file)), section_(std::move(section)) {}

void AddressHistory::Reload() {
  items_ = file_.readSection(section_);
}

void AddressHistory::Save(const std::string& text) {
  if (std::find(items_.begin(), items_.end(), text) != items_.end()) return;
  while (items_.size() > 9)
    items_.erase(items_.begin() + 1);
  items_.push_back(text);
  file_.writeString(section_, text, "");
}

void AddressHistory::Forget(const std::string& item) {
  file_.deleteKey(section_, item);
}

void AddressHistory::Clear() {
  file_.eraseSection(section_);
  if (items_.size() > 1) items_.resize(1);
}

std::optional<MailToRecipients> MailToAddresses(const filter::TEditListBox& favourites) {
  const int focused = favourites.ItemIndex();
  if (focused < 0 || focused >= favourites.Count()) return std::nullopt;
  MailToRecipients r;
  if (favourites.SelCount() < 2) {
    r.To = filter::ParseMailAdds(favourites.Items(focused));
    return r;
  }
  r.MultiAddressWarning = true;
  for (int i = 0; i < favourites.Count(); ++i) {
    if (!favourites.Selected(i)) continue;
    if (!r.To.empty()) r.To += ';';
    r.To += filter::ParseMailAdds(favourites.Items(i));
  }
  return r;
}

bool ShowsMultiAddressWarning(const std::string& text) {
  const std::size_t first = text.find('@');
  return first != std::string::npos && text.find('@', first + 1) != std::string::npos;
}

}  // namespace kelvrin::outgoing
