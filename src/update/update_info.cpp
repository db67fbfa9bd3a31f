#include "update/update_info.h"

#include <cstdint>
#include <vector>

namespace kelvrin::update {

namespace {

constexpr std::size_t kMaxVersionPartDigits = 9;
constexpr std::size_t kMaxHomePageLength = 2000;

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
    s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
    s.remove_suffix(1);
  return s;
}

std::vector<std::uint32_t> versionParts(std::string_view text) {
  std::vector<std::uint32_t> parts;
  std::uint32_t value = 0;
  for (char c : text) {
    if (c == '.') {
      parts.push_back(value);
      value = 0;
    } else {
      value = value * 10 + static_cast<std::uint32_t>(c - '0');
    }
  }
  parts.push_back(value);
  return parts;
}

bool startsWith(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && s.substr(0, prefix.size()) == prefix;
}

void checkHomePage(std::string_view page) {
  const bool https = startsWith(page, "https://");
  if (!https && !startsWith(page, "http://")) {
    throw UpdateInfoError("the home page is not an http or https address");
  }
  if (page.size() == (https ? 8u : 7u)) throw UpdateInfoError("the home page names no host");
  if (page.size() > kMaxHomePageLength) throw UpdateInfoError("the home page is too long");
  for (char c : page) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7f) {
      throw UpdateInfoError("the home page holds a blank or a control character");
    }
  }
}

}  // namespace

bool isVersionText(std::string_view text) {
  std::size_t digits = 0;
  for (char c : text) {
    if (c == '.') {
      if (digits == 0) return false;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > kMaxVersionPartDigits) return false;
    } else {
      return false;
    }
  }
  return digits > 0;
}

int compareVersions(std::string_view a, std::string_view b) {
  const auto pa = versionParts(a);
  const auto pb = versionParts(b);
  for (std::size_t i = 0; i < pa.size() || i < pb.size(); ++i) {
    const std::uint32_t x = i < pa.size() ? pa[i] : 0;
    const std::uint32_t y = i < pb.size() ? pb[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

UpdateInfo parseUpdateInfo(std::string_view text) {
  if (text.find('\0') != std::string_view::npos) {
    throw UpdateInfoError("the upgrade information is not text");
  }
  UpdateInfo info;
  bool haveVersion = false;
  bool haveHomePage = false;
  int lineNumber = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A byte-order mark in front of the first line is an editor's, not ours.
    if (lineNumber == 1 && startsWith(line, "\xEF\xBB\xBF")) line.remove_prefix(3);
    line = trim(line);
    if (line.empty() || line.front() == '#') continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      throw UpdateInfoError("line " + std::to_string(lineNumber) + " is not key=value");
    }
    const std::string_view key = trim(line.substr(0, eq));
    const std::string_view value = trim(line.substr(eq + 1));
    if (key == "version") {
      if (haveVersion) throw UpdateInfoError("the version is given twice");
      if (!isVersionText(value)) {
        throw UpdateInfoError("the version \"" + std::string(value.substr(0, 40)) +
                              "\" is not numbers joined by dots");
      }
      info.Version = value;
      haveVersion = true;
    } else if (key == "homepage") {
      if (haveHomePage) throw UpdateInfoError("the home page is given twice");
      checkHomePage(value);
      info.HomePage = value;
      haveHomePage = true;
    } else if (key.empty()) {
      throw UpdateInfoError("line " + std::to_string(lineNumber) + " has no key");
    }
  }
  if (!haveVersion) throw UpdateInfoError("the upgrade information gives no version");
  if (!haveHomePage) throw UpdateInfoError("the upgrade information gives no home page");
  return info;
}

}  // namespace kelvrin::update
