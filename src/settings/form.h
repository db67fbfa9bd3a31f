#pragma once

// A form: the named, ordered set of properties that stands for the
// components a window owns and the settings store keeps (the checked state
// of a menu item, the text of an edit field, the value of a spin edit). The
// rest of the system reads and sets the properties where a desktop program
// would read its controls; TIniVal loads and saves them; the GUI renders
// them and is told of every change through the observers.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kelvrin::settings {

enum class PropertyKind {
  Checked,      // a checked state, stored as "1"/"0"
  Text,         // the text of an edit or combo box
  IntValue,     // an integer value (spin edits)
  StringValue,  // a value of a string kind
};

using PropertyValue = std::variant<bool, int, std::string>;

struct FormProperty {
  std::string name;
  PropertyKind kind = PropertyKind::Checked;
  PropertyValue design;
  PropertyValue current;
  std::string caption;  // menu items; empty for fields
  // False for a property that only explicit code writes (TIniVal skips it).
  bool stored = true;
};

class Form {
 public:
  using Observer = std::function<void(const FormProperty&)>;

  explicit Form(std::string name);
  Form(const Form&) = delete;
  Form& operator=(const Form&) = delete;

  // The form name: the settings section of its properties.
  const std::string& name() const { return name_; }

  // Properties are kept in the order they are added (the creation order).
  // Names are unique without regard to letter case.
  void addChecked(std::string name, bool design, std::string caption = {});
  void addText(std::string name, std::string design);
  void addValue(std::string name, int design);
  void addStringValue(std::string name, std::string design);
  // Marks a property as written only by explicit code.
  void setStored(std::string_view name, bool stored);

  bool has(std::string_view name) const;
  const FormProperty& property(std::string_view name) const;
  const std::vector<FormProperty>& properties() const { return properties_; }

  // Typed access; raises SettingsError for an unknown name or another kind.
  bool checked(std::string_view name) const;
  void setChecked(std::string_view name, bool value);
  // Inverts the checked state (a click on a checkable menu item); returns it.
  bool toggle(std::string_view name);
  const std::string& text(std::string_view name) const;
  void setText(std::string_view name, std::string value);
  int value(std::string_view name) const;
  void setValue(std::string_view name, int value);
  const std::string& stringValue(std::string_view name) const;
  void setStringValue(std::string_view name, std::string value);
  const std::string& caption(std::string_view name) const;
  void setCaption(std::string_view name, std::string caption);

  // Sets the current value of any kind (the value must match the kind).
  void setCurrent(std::string_view name, PropertyValue value);
  // Every property back to its design value.
  void resetToDesign();

  void addObserver(Observer observer);

 private:
  std::size_t indexOf(std::string_view name) const;
  FormProperty& require(std::string_view name, PropertyKind kind);
  const FormProperty& require(std::string_view name, PropertyKind kind) const;
  void add(FormProperty property);
  void changed(const FormProperty& property);

  std::string name_;
  std::vector<FormProperty> properties_;
  std::vector<Observer> observers_;
};

}  // namespace kelvrin::settings
