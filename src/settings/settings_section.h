#pragma once

// Section `Settings` of the settings file: the keys that only explicit code
// writes (the hot-key sequences, the mail program's title, the sort column,
// the communications switch and the update counter).

#include <string>
#include <string_view>
#include <utility>

#include "settings/ini_file.h"

namespace kelvrin::settings {

inline constexpr std::string_view kSettingsSection = "Settings";

class SettingsSection {
 public:
  explicit SettingsSection(IniFile file) : file_(std::move(file)) {}

  // Strings: empty when missing. A line break cannot be stored in the file
  // and is written as a blank; surrounding blanks are not kept.
  std::string KeySetA() const;
  void setKeySetA(std::string_view keys);
  std::string KeySetB() const;
  void setKeySetB(std::string_view keys);
  std::string EmailProg() const;
  void setEmailProg(std::string_view title);

  int Column() const;  // default 0
  void setColumn(int column);
  bool Comms() const;  // default false
  void setComms(bool enabled);
  int UpdateCount() const;  // default 0
  void setUpdateCount(int count);

 private:
  IniFile file_;
};

}  // namespace kelvrin::settings
