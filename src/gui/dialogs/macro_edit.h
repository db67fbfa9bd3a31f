#pragma once

// The hot-key recorder of the wizard: each key press in the field is stored
// as one key code (see settings/sendkeys.h). The hot-key is entered as the
// modifier alone, then the key alone ("[Ctrl] then [M]"): while a modifier is
// held every press records the modifier, not the key.
//
// The text is only a display, shown as stars: a press made while a modifier
// is held adds an "x", a key that types a character adds that character,
// and a key that types nothing (F5, an arrow) adds an "x" too, so that such
// a hot-key can still be tested. A click on the field forgets the recording
// and empties the field.

#include <QLineEdit>
#include <string>

#include "settings/sendkeys.h"

namespace kelvrin::gui {

class MacroEdit : public QLineEdit {
  Q_OBJECT

 public:
  explicit MacroEdit(QWidget* parent = nullptr);

  // The recorded codes (at most 10).
  std::string codes() const { return recording_.codes(); }
  // Replaces the recording; the text is left as it is.
  void setCodes(const std::string& codes) { recording_.setCodes(codes); }
  // Forgets the recording and empties the field.
  void clearRecording();

  // The virtual-key code of a Qt key (0 when it has none). `text` is what
  // the key types, used for punctuation, whose key differs by layout.
  static unsigned virtualKeyOf(int qtKey, const QString& text);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  settings::KeyRecording recording_;
};

}  // namespace kelvrin::gui
