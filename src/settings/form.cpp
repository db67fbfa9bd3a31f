#include "settings/form.h"

#include <utility>

#include "settings/ini_document.h"
#include "settings/settings_error.h"

namespace kelvrin::settings {

namespace {

const char* kindName(PropertyKind kind) {
  switch (kind) {
    case PropertyKind::Checked:
      return "Checked";
    case PropertyKind::Text:
      return "Text";
    case PropertyKind::IntValue:
      return "integer Value";
    case PropertyKind::StringValue:
      return "string Value";
  }
  return "?";
}

bool valueMatchesKind(const PropertyValue& value, PropertyKind kind) {
  switch (kind) {
    case PropertyKind::Checked:
      return std::holds_alternative<bool>(value);
    case PropertyKind::IntValue:
      return std::holds_alternative<int>(value);
    case PropertyKind::Text:
    case PropertyKind::StringValue:
      return std::holds_alternative<std::string>(value);
  }
  return false;
}

}  // namespace

Form::Form(std::string name) : name_(std::move(name)) {}

std::size_t Form::indexOf(std::string_view name) const {
  for (std::size_t i = 0; i < properties_.size(); ++i) {
    if (iniNameEquals(properties_[i].name, name)) return i;
  }
  return properties_.size();
}

void Form::add(FormProperty property) {
  if (has(property.name)) {
    throw SettingsError("Form " + name_ + " already has a property " + property.name);
  }
  property.current = property.design;
  properties_.push_back(std::move(property));
}

void Form::addChecked(std::string name, bool design, std::string caption) {
  add(FormProperty{std::move(name), PropertyKind::Checked, design, {}, std::move(caption), true});
}

void Form::addText(std::string name, std::string design) {
  add(FormProperty{std::move(name), PropertyKind::Text, std::move(design), {}, {}, true});
}

void Form::addValue(std::string name, int design) {
  add(FormProperty{std::move(name), PropertyKind::IntValue, design, {}, {}, true});
}

void Form::addStringValue(std::string name, std::string design) {
  add(FormProperty{std::move(name), PropertyKind::StringValue, std::move(design), {}, {}, true});
}

void Form::setStored(std::string_view name, bool stored) {
  const std::size_t i = indexOf(name);
  if (i == properties_.size()) {
    throw SettingsError("Form " + name_ + " has no property " + std::string(name));
  }
  properties_[i].stored = stored;
}

bool Form::has(std::string_view name) const {
  return indexOf(name) != properties_.size();
}

const FormProperty& Form::property(std::string_view name) const {
  const std::size_t i = indexOf(name);
  if (i == properties_.size()) {
    throw SettingsError("Form " + name_ + " has no property " + std::string(name));
  }
  return properties_[i];
}

const FormProperty& Form::require(std::string_view name, PropertyKind kind) const {
  const FormProperty& p = property(name);
  if (p.kind != kind) {
    throw SettingsError("Property " + p.name + " of form " + name_ + " is not a " + kindName(kind) +
                        " property");
  }
  return p;
}

FormProperty& Form::require(std::string_view name, PropertyKind kind) {
  return const_cast<FormProperty&>(std::as_const(*this).require(name, kind));
}

void Form::changed(const FormProperty& property) {
  for (const Observer& observer : observers_)
    observer(property);
}

bool Form::checked(std::string_view name) const {
  return std::get<bool>(require(name, PropertyKind::Checked).current);
}

void Form::setChecked(std::string_view name, bool value) {
  FormProperty& p = require(name, PropertyKind::Checked);
  if (std::get<bool>(p.current) == value) return;
  p.current = value;
  changed(p);
}

bool Form::toggle(std::string_view name) {
  const bool now = !checked(name);
  setChecked(name, now);
  return now;
}

const std::string& Form::text(std::string_view name) const {
  return std::get<std::string>(require(name, PropertyKind::Text).current);
}

void Form::setText(std::string_view name, std::string value) {
  FormProperty& p = require(name, PropertyKind::Text);
  if (std::get<std::string>(p.current) == value) return;
  p.current = std::move(value);
  changed(p);
}

int Form::value(std::string_view name) const {
  return std::get<int>(require(name, PropertyKind::IntValue).current);
}

void Form::setValue(std::string_view name, int value) {
  FormProperty& p = require(name, PropertyKind::IntValue);
  if (std::get<int>(p.current) == value) return;
  p.current = value;
  changed(p);
}

const std::string& Form::stringValue(std::string_view name) const {
  return std::get<std::string>(require(name, PropertyKind::StringValue).current);
}

void Form::setStringValue(std::string_view name, std::string value) {
  FormProperty& p = require(name, PropertyKind::StringValue);
  if (std::get<std::string>(p.current) == value) return;
  p.current = std::move(value);
  changed(p);
}

const std::string& Form::caption(std::string_view name) const {
  return property(name).caption;
}

void Form::setCaption(std::string_view name, std::string caption) {
  FormProperty& p = const_cast<FormProperty&>(property(name));
  if (p.caption == caption) return;
  p.caption = std::move(caption);
  changed(p);
}

void Form::setCurrent(std::string_view name, PropertyValue value) {
  FormProperty& p = const_cast<FormProperty&>(property(name));
  if (!valueMatchesKind(value, p.kind)) {
    throw SettingsError("Property " + p.name + " of form " + name_ + " is a " + kindName(p.kind) +
                        " property");
  }
  if (p.current == value) return;
  p.current = std::move(value);
  changed(p);
}

void Form::resetToDesign() {
  for (FormProperty& p : properties_) {
    if (p.current == p.design) continue;
    p.current = p.design;
    changed(p);
  }
}

void Form::addObserver(Observer observer) {
  observers_.push_back(std::move(observer));
}

}  // namespace kelvrin::settings
