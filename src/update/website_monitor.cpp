#include "update/website_monitor.h"

#include <vector>

#include "base/ascii_text.h"
#include "filter/rule_lists.h"

namespace kelvrin::update {

namespace {

constexpr std::string_view kActive = "wsactive1";
constexpr std::string_view kKeepLogfile = "wslog1";

std::string_view trimBlanks(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

bool isPlaceholder(std::string_view entry) {
  return base::equalFoldingAscii(entry, filter::kPlaceholderHost);
}

}  // namespace

std::string hostOfEntry(std::string_view entry) {
  std::string_view s = trimBlanks(entry);
  if (const auto scheme = s.find("://"); scheme != std::string_view::npos) {
    s.remove_prefix(scheme + 3);
  }
  s = s.substr(0, s.find_first_of("/?#"));
  if (const auto at = s.rfind('@'); at != std::string_view::npos) s.remove_prefix(at + 1);
  if (!s.empty() && s.front() == '[') {
    const auto close = s.find(']');
    return std::string(close == std::string_view::npos ? s.substr(1) : s.substr(1, close - 1));
  }
  // One colon is a port; more are an IPv6 address written without brackets.
  if (const auto colon = s.find(':');
      colon != std::string_view::npos && s.find(':', colon + 1) == std::string_view::npos) {
    s = s.substr(0, colon);
  }
  return std::string(s);
}

WebsiteMonitor::WebsiteMonitor(filter::TEditListBox& list, settings::Form& options,
                               ui::Prompter& prompter, HostProbe& probe)
    : list_(list), options_(options), prompter_(prompter), probe_(probe) {}

bool WebsiteMonitor::Active() const {
  return options_.checked(kActive);
}

bool WebsiteMonitor::KeepLogfile() const {
  return options_.checked(kKeepLogfile);
}

void WebsiteMonitor::setActive(bool on) {
  if (!activeEnabled_ || Active() == on) return;
  options_.setChecked(kActive, on);
  changed_.notify();
}

void WebsiteMonitor::setKeepLogfile(bool on) {
  if (!logEnabled_ || KeepLogfile() == on) return;
  options_.setChecked(kKeepLogfile, on);
  changed_.notify();
}

void WebsiteMonitor::WebListBox1Exit() {
  bool ownSite = false;
  for (std::string_view entry : list_.entries()) {
    if (!isPlaceholder(entry) && !hostOfEntry(entry).empty()) ownSite = true;
  }
  if (ownSite) {
    // A site typed next to the placeholder is the user's; the placeholder
    // goes, not the site.
    for (int i = list_.Count() - 1; i >= 0; --i) {
      if (isPlaceholder(list_.Items(i))) list_.Delete(i);
    }
    activeEnabled_ = true;
    logEnabled_ = true;
  } else {
    if (list_.Count() != 1 || list_.Items(0) != filter::kPlaceholderHost) {
      list_.Clear();
      list_.Add(std::string(filter::kPlaceholderHost));
    }
    options_.setChecked(kActive, false);
    activeEnabled_ = false;
    logEnabled_ = false;
  }
  changed_.notify();
}

void WebsiteMonitor::Run() {
  if (running_ || !Active()) return;
  running_ = true;
  struct Done {
    bool& flag;
    ~Done() { flag = false; }
  } done{running_};
  // The boxes let events run: the list may change under the loop.
  const std::vector<std::string> entries(list_.entries().begin(), list_.entries().end());
  for (const std::string& entry : entries) {
    const std::string host = hostOfEntry(entry);
    if (host.empty()) continue;
    if (!probe_.Probe(host)) prompter_.InfoBox(entry + " Not Found");
  }
}

}  // namespace kelvrin::update
