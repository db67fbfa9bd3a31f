#include "settings/ini_val.h"

#include <exception>
#include <variant>
#include <vector>

#include "settings/ini_document.h"
#include "settings/ini_file.h"

namespace kelvrin::settings {

namespace {

std::string_view trimmed(std::string_view s) {
  const auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!s.empty() && blank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && blank(s.back()))
    s.remove_suffix(1);
  return s;
}

}  // namespace

std::string effectiveIniFileName(std::string_view iniFileName) {
  std::string name(trimmed(iniFileName));
  if (name.find('.') == std::string::npos) name += ".INI";
  return name;
}

TIniVal::TIniVal(Form& owner, std::string name) : owner_(owner), name_(std::move(name)) {}

void TIniVal::LoadAll() {
  const IniDocument doc = IniFile(effectiveFileName()).load();
  const std::string& section = owner_.name();
  // Copy the names first: observers may react to a change by touching the form.
  std::vector<std::string> names;
  for (const FormProperty& p : owner_.properties()) {
    if (p.stored) names.push_back(p.name);
  }
  for (const std::string& name : names) {
    const FormProperty& p = owner_.property(name);
    switch (p.kind) {
      case PropertyKind::Text:
      case PropertyKind::StringValue:
        owner_.setCurrent(name, doc.readString(section, name, std::get<std::string>(p.current)));
        break;
      case PropertyKind::IntValue:
        owner_.setCurrent(name, doc.readInteger(section, name, std::get<int>(p.current)));
        break;
      case PropertyKind::Checked:
        owner_.setCurrent(name, doc.readBool(section, name, std::get<bool>(p.current)));
        break;
    }
  }
}

void TIniVal::SaveAll() {
  std::vector<IniEntry> entries;
  const std::string& section = owner_.name();
  for (const FormProperty& p : owner_.properties()) {
    if (!p.stored) continue;
    std::string value;
    switch (p.kind) {
      case PropertyKind::Text:
      case PropertyKind::StringValue:
        value = std::get<std::string>(p.current);
        break;
      case PropertyKind::IntValue:
        value = std::to_string(std::get<int>(p.current));
        break;
      case PropertyKind::Checked:
        value = iniBool(std::get<bool>(p.current));
        break;
    }
    entries.push_back(IniEntry{section, p.name, std::move(value)});
  }
  IniFile(effectiveFileName()).writeAll(entries);
}

void TIniVal::Loaded(std::string_view programDir) {
  if (IniFileName.empty()) IniFileName = std::string(programDir) + name_;
  if (Automatic) hooked_ = true;
}

void TIniVal::ownerCreated() {
  if (SavedOnCreate) SavedOnCreate();
  if (hooked_ && Automatic) LoadAll();
}

void TIniVal::ownerDestroyed() {
  // The owner's own handler runs even when the save fails; the failure is
  // passed on afterwards so that it can still be reported.
  std::exception_ptr saveError;
  if (hooked_ && Automatic) {
    try {
      SaveAll();
    } catch (...) {
      saveError = std::current_exception();
    }
  }
  if (SavedOnDestroy) SavedOnDestroy();
  if (saveError) std::rethrow_exception(saveError);
}

}  // namespace kelvrin::settings
