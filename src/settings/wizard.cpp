#include "settings/wizard.h"

#include <algorithm>
#include <string_view>
#include <cctype>
#include <charconv>
#include <filesystem>

#include "base/ascii_text.h"
#include "settings/forms.h"

namespace kelvrin::settings {

namespace {

constexpr std::string_view kServiceHint =
    " Your preferred service provider.\r\nIt must be the same server as in POP3 Host above. \r\n"
    "If none are visible, you either are not on dial-up,\r\nor have not set up "
    "dial-up-networking.\r\nThis value must exist for Kelvrin 'use dialer' to work properly";

struct Hint {
  std::string_view field;
  std::string_view text;
};

constexpr std::array<Hint, 10> kHints{{
    {"KVWMainEmail1",
     "                Your own email addresse(s)\r\nThis MUST be entered for Kelvrin to work "
     "properly"},
    {"EmailProg1", "Default email program"},
    {"MacroEdit1", "Email Key combo"},
    {"KVWccntypeGroup", "Check your connection type"},
    {"IncInterval1", "If no traffic, Dial Interval will be increased each time"},
    {"IdleSecs1", "If you dont respond to incoming messages, Kelvrin will hangup"},
    {"Hangup1",
     "'Use Dialler' and Kelvrin dialled out, and no messages, Kelvrin will hangup.\r\nThis has "
     "no effect on connections not dialled by Kelvrin."},
    {"HangupSpam1",
     "'Use Dialler' and Kelvrin dialled out, and spam messages, Kelvrin will hangup.\r\nThis has "
     "no effect on connections not dialled by Kelvrin."},
    {"KVWServiceComboBox", kServiceHint},
    {"KVWsecServiceComboBox", kServiceHint},
}};

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The text between the host's first "." and the next one (B of A.B.C);
// empty for a host with fewer than two dots.
std::string providerName(std::string_view host) {
  const auto first = host.find('.');
  if (first == std::string_view::npos) return {};
  const auto second = host.find('.', first + 1);
  if (second == std::string_view::npos) return {};
  return std::string(host.substr(first + 1, second - first - 1));
}

std::string withoutBlanks(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c != ' ') out.push_back(c);
  }
  return out;
}

// The port of a port field, or -1 when it is no number of 1 to 65535.
int portOf(std::string_view text) {
  const std::string digits = withoutBlanks(text);
  int port = -1;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) return -1;
  return (port >= 1 && port <= 65535) ? port : -1;
}

// What a port proposes: implicit TLS for 995 and 465, STARTTLS for the
// submission port; any other port keeps the choice, except implicit TLS,
// which a plain port does not speak.
int proposedSecurity(int port, int current) {
  if (port == 995 || port == 465) return kSecurityImplicitTls;
  if (port == 587) return kSecurityStartTls;
  return current == kSecurityImplicitTls ? kSecurityNone : current;
}

}  // namespace

std::string_view wizardHint(std::string_view field) {
  for (const auto& hint : kHints) {
    if (hint.field == field) return hint.text;
  }
  return {};
}

std::string ServiceList::text() const {
  if (selected < 0 || selected >= static_cast<int>(entries.size())) return {};
  return entries[static_cast<std::size_t>(selected)];
}

TKVWForm1::TKVWForm1(Form& fields, filter::TEditListBox& lbAllowEM, IniFile& file, WizardHost& host,
                     std::function<bool()> firstRun)
    : fields_(fields),
      lbAllowEM_(lbAllowEM),
      file_(file),
      host_(host),
      firstRun_(std::move(firstRun)),
      draft_(makeKVWForm1Form()) {}

TKVWForm1::NumberRange TKVWForm1::numberRange(std::string_view field) {
  if (field == "SpinEdit2" || field == "SpinEdit3" || field == "OnlineInt1") return {0, 100, 10};
  return {0, -1, 1};
}

void TKVWForm1::changed() {
  if (onChanged_) onChanged_();
}

std::string TKVWForm1::takeFocus() {
  std::string focus = std::move(focus_);
  focus_.clear();
  return focus;
}

std::string TKVWForm1::idleLabel() const {
  return dialUpBoxVisible() ? kIdleLabelDialUp : kIdleLabelCable;
}

void TKVWForm1::FormCreate() {
  finishEnabled_ = !firstRun_();
  page_ = kPageAddress;
  backEnabled_ = false;
}

void TKVWForm1::FormShow() {
  for (const auto& property : fields_.properties()) {
    draft_->setCurrent(property.name, property.current);
  }
  for (auto* list : {&primary_, &secondary_}) {
    const auto& name =
        fields_.text(list == &primary_ ? "KVWServiceComboBox" : "KVWsecServiceComboBox");
    // A stored name chooses its entry (none when the phone book lost it);
    // without one the list keeps the first entry it was filled with.
    if (name.empty()) continue;
    const auto it = std::find(list->entries.begin(), list->entries.end(), name);
    list->selected = it != list->entries.end() ? static_cast<int>(it - list->entries.begin()) : -1;
  }
  if (draft_->text("EmailProg1").empty()) draft_->setText("EmailProg1", host_.GetEmailProg());
  nextEnabled_ = true;
  changed();
}

void TKVWForm1::SelectPage(std::string_view sheet) {
  for (std::size_t i = 0; i < kWizardPages.size(); ++i) {
    if (sheet == kWizardPages[i].sheet) page_ = static_cast<int>(i);
  }
  changed();
}

void TKVWForm1::NextBtnClick() {
  backEnabled_ = true;
  if (page_ < kPageFinish) {
    page_ = (page_ == kPageConnect && firstRun_()) ? kPageFinish : page_ + 1;
  }
  if (page_ == kPageFinish) {
    finishEnabled_ = true;
    nextEnabled_ = false;
  }
  changed();
}

void TKVWForm1::BackBtnClick() {
  if (page_ > kPageAddress) --page_;
  if (page_ == kPageAddress) backEnabled_ = false;
  nextEnabled_ = true;
  changed();
}

void TKVWForm1::selectTab(int index) {
  if (index < 0 || index >= static_cast<int>(kWizardPages.size())) return;
  page_ = index;
  changed();
}

void TKVWForm1::CancelBtnClick() {
  // The draft is dropped at the next opening; nothing is written.
  changed();
}

void TKVWForm1::setText(std::string_view field, std::string value) {
  if (draft_->text(field) == value) return;
  const bool popPort = field == "PopPort";
  const bool smtpPort = field == "SmtpPort";
  draft_->setText(field, std::move(value));
  if (popPort || smtpPort) {
    const int port = portOf(draft_->text(field));
    const char* security = popPort ? "PopSecurity" : "SmtpSecurity";
    if (port > 0) draft_->setValue(security, proposedSecurity(port, draft_->value(security)));
  }
  changed();
}

void TKVWForm1::setChecked(std::string_view field, bool value) {
  draft_->setChecked(field, value);
  changed();
}

void TKVWForm1::setNumber(std::string_view field, int value) {
  const auto range = numberRange(field);
  value = std::max(value, range.min);
  if (range.max >= 0) value = std::min(value, range.max);
  draft_->setValue(field, value);
  changed();
}

void TKVWForm1::stepNumber(std::string_view field, int direction) {
  const auto range = numberRange(field);
  const long long next =
      static_cast<long long>(draft_->value(field)) + static_cast<long long>(direction) * range.step;
  setNumber(field, static_cast<int>(std::clamp<long long>(next, range.min, 1'000'000'000LL)));
}

void TKVWForm1::setSecurity(std::string_view field, int value) {
  draft_->setValue(field, std::clamp(value, kSecurityNone, kSecurityImplicitTls));
  changed();
}

void TKVWForm1::setServiceEntries(const std::vector<std::string>& entries, bool listingWorked) {
  for (auto* list : {&primary_, &secondary_}) {
    list->entries = listingWorked ? entries : std::vector<std::string>{};
    list->enabled = listingWorked && !entries.empty();
    list->selected = list->entries.empty() ? -1 : 0;
  }
  changed();
}

void TKVWForm1::chooseService(bool secondary, int index) {
  auto& list = secondary ? secondary_ : primary_;
  if (index < -1 || index >= static_cast<int>(list.entries.size())) return;
  list.selected = index;
  draft_->setText(secondary ? "KVWsecServiceComboBox" : "KVWServiceComboBox", list.text());
  changed();
}

void TKVWForm1::EditClick(std::string_view field) {
  // Only the example text goes: a click to mend one letter of a real host
  // name must not throw the name away.
  const auto& design = std::get<std::string>(draft_->property(field).design);
  if (draft_->text(field) == design && !design.empty()) {
    draft_->setText(field, "");
    changed();
  }
}

void TKVWForm1::KVWClick(std::string_view field) {
  if (field == "MacroEdit1") {
    // A click starts a new recording.
    host_.ForgetRecordedKey();
    draft_->setText(field, "");
    changed();
    return;
  }
  EditClick(field);
}

void TKVWForm1::KVWEdhostExit(std::string_view field) {
  const std::string& host = draft_->text(field);
  if (host == kPlaceholderPopHost || host.size() <= 5) return;
  if (draft_->text("KVWsmtphost") != kPlaceholderSmtpHost) return;
  // The first label is taken to be five characters ("pop3.").
  draft_->setText("KVWsmtphost", "smtp." + host.substr(5));
  changed();
}

void TKVWForm1::KVWMainEmail1Click() {
  if (draft_->text("KVWMainEmail1") == kPlaceholderMainEmail) {
    draft_->setText("KVWMainEmail1", "");
    changed();
  }
}

void TKVWForm1::KVWMainEmail1Exit() {
  if (draft_->text("KVWMainEmail1") == kPlaceholderMainEmail) {
    host_.InfoBox(kIncorrectAddress);
    return;
  }
  takeAddress();
}

void TKVWForm1::KVWMainEmail1KeyUpEnter() {
  // Enter takes the address like leaving the field does; the example
  // address is never allowed mail.
  KVWMainEmail1Exit();
}

void TKVWForm1::takeAddress() {
  const std::string address = draft_->text("KVWMainEmail1");
  if (address.empty()) return;
  const auto& entries = lbAllowEM_.entries();
  const bool known = std::any_of(entries.begin(), entries.end(), [&](std::string_view entry) {
    return base::compareFoldingAscii(entry, address) == 0;
  });
  if (!known) lbAllowEM_.Add(address);
  allowBoxVisible_ = true;
  if (lbAllowEM_.Count() > 0) lbAllowEM_.setItemIndex(0);
  addressBold_ = false;
  changed();
}

void TKVWForm1::KVWccntypeGroupClick(int type) {
  draft_->setValue("KVWccntypeGroup", type == 0 ? 0 : 1);
  if (type != 0) host_.DialUpChosen();
  changed();
}

void TKVWForm1::goTo(int page, std::string focus) {
  page_ = page;
  focus_ = std::move(focus);
}

bool TKVWForm1::refuseUnsoundFields() {
  struct Refusal {
    int page;
    const char* field;
    std::string text;
  };
  std::vector<Refusal> refusals;
  const auto& d = *draft_;
  const std::string address = d.text("KVWMainEmail1");
  if (address.find_first_not_of(' ') == std::string::npos) {
    refusals.push_back({kPageAddress, "KVWMainEmail1", "Please enter your main email address"});
  }
  for (const char* field : {"KVWEdhost", "KVWsmtphost", "KVWsecEdhost", "KVWsecsmtphost"}) {
    if (d.text(field).find_first_of(" \t") != std::string::npos) {
      refusals.push_back(
          {kPageServer, field, "A host name must not contain blanks:\r\"" + d.text(field) + "\""});
    }
  }
  if (portOf(d.text("PopPort")) < 0) {
    refusals.push_back({kPageConnect, "PopPort", "The POP3 port must be a number from 1 to 65535"});
  }
  if (portOf(d.text("SmtpPort")) < 0) {
    refusals.push_back(
        {kPageConnect, "SmtpPort", "The SMTP port must be a number from 1 to 65535"});
  }
  const std::string& caFile = d.text("CaFile");
  if (!caFile.empty()) {
    std::error_code ec;
    std::string problem;
    if (!std::filesystem::is_regular_file(caFile, ec)) {
      problem = "The CA file does not exist:\r" + caFile;
    } else {
      const std::string why = host_.CertificateFileProblem(caFile);
      if (!why.empty()) problem = "The CA file cannot be used:\r" + caFile + "\r" + why;
    }
    if (!problem.empty()) refusals.push_back({kPageConnect, "CaFile", problem});
  }
  if (refusals.empty()) return false;
  goTo(refusals.front().page, refusals.front().field);
  changed();
  host_.StopBox(refusals.front().text);
  return true;
}

bool TKVWForm1::FinishBtnClick() {
  const std::string provider = providerName(draft_->text("KVWEdhost"));
  file_.writeInteger(kWizardFormName, "KVWccntypeGroup", draft_->value("KVWccntypeGroup"));
  if (!primary_.text().empty()) {
    file_.writeString(kWizardFormName, "KVWServiceComboBox", primary_.text());
  }
  goTo(kPageAddress, {});
  changed();
  if (draft_->text("KVWMainEmail1") == kPlaceholderMainEmail) {
    focus_ = "KVWMainEmail1";
    changed();
    host_.StopBox(kIncorrectAddressAtFinish);
    return false;
  }
  if (refuseUnsoundFields()) return false;
  const std::string stored = file_.readString(kWizardFormName, "KVWServiceComboBox", "");
  const std::string listText = primary_.text();
  if (stored != listText && lower(listText).find(lower(provider)) == std::string::npos) {
    if (!host_.AskYesNo(kServiceDiffers)) {
      goTo(kPageConnect, "KVWServiceComboBox");
      changed();
      return false;
    }
  }
  commit();
  if (draft_->text("MacroEdit1").empty()) {
    file_.writeString("Settings", "KeySetA", "");
    file_.writeString("Settings", "KeySetB", "");
    host_.HotKeyCleared();
  }
  changed();
  return true;
}

void TKVWForm1::commit() {
  const int oldInterval = fields_.value("Interval1");
  for (const auto& property : draft_->properties()) {
    fields_.setCurrent(property.name, property.current);
  }
  // Without a phone book (no dial-up here, or the listing failed) the stored
  // names stay for the day the entries are back.
  if (!primary_.entries.empty()) fields_.setText("KVWServiceComboBox", primary_.text());
  if (!secondary_.entries.empty()) fields_.setText("KVWsecServiceComboBox", secondary_.text());
  host_.ConnectionTypeApplied(fields_.value("KVWccntypeGroup"));
  if (fields_.value("Interval1") != oldInterval) host_.IntervalChanged(fields_.value("Interval1"));
}

}  // namespace kelvrin::settings
