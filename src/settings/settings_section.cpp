#include "settings/settings_section.h"

namespace kelvrin::settings {

std::string SettingsSection::KeySetA() const {
  return file_.readString(kSettingsSection, "KeySetA", "");
}
void SettingsSection::setKeySetA(std::string_view keys) {
  file_.writeString(kSettingsSection, "KeySetA", keys);
}
std::string SettingsSection::KeySetB() const {
  return file_.readString(kSettingsSection, "KeySetB", "");
}
void SettingsSection::setKeySetB(std::string_view keys) {
  file_.writeString(kSettingsSection, "KeySetB", keys);
}
std::string SettingsSection::EmailProg() const {
  return file_.readString(kSettingsSection, "EmailProg", "");
}
void SettingsSection::setEmailProg(std::string_view title) {
  file_.writeString(kSettingsSection, "EmailProg", title);
}
int SettingsSection::Column() const {
  return file_.readInteger(kSettingsSection, "Column", 0);
}
void SettingsSection::setColumn(int column) {
  file_.writeInteger(kSettingsSection, "Column", column);
}
bool SettingsSection::Comms() const {
  return file_.readBool(kSettingsSection, "Comms", false);
}
void SettingsSection::setComms(bool enabled) {
  file_.writeBool(kSettingsSection, "Comms", enabled);
}
int SettingsSection::UpdateCount() const {
  return file_.readInteger(kSettingsSection, "UpdateCount", 0);
}
void SettingsSection::setUpdateCount(int count) {
  file_.writeInteger(kSettingsSection, "UpdateCount", count);
}

}  // namespace kelvrin::settings
