#include "gui/dialogs/macro_edit.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace kelvrin::gui {

MacroEdit::MacroEdit(QWidget* parent) : QLineEdit(parent) {
  setObjectName(QStringLiteral("MacroEdit1"));
  setEchoMode(QLineEdit::Password);
  setToolTip(QStringLiteral("Email Key combo"));
  // Tab is a key the user may want to record, and the field is skipped by it.
  setFocusPolicy(Qt::ClickFocus);
}

void MacroEdit::clearRecording() {
  recording_.clear();
  clear();
  setCursorPosition(0);
}

unsigned MacroEdit::virtualKeyOf(int qtKey, const QString& text) {
  if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) ||
      qtKey == Qt::Key_Space) {
    return static_cast<unsigned>(qtKey);
  }
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F12)
    return 112u + static_cast<unsigned>(qtKey - Qt::Key_F1);
  switch (qtKey) {
    case Qt::Key_Backspace:
      return 8;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return 13;
    case Qt::Key_Shift:
      return settings::kVkShift;
    case Qt::Key_Control:
      return settings::kVkControl;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
      return settings::kVkMenu;
    case Qt::Key_Pause:
      return 19;
    case Qt::Key_CapsLock:
      return 20;
    case Qt::Key_Escape:
      return 27;
    case Qt::Key_PageUp:
      return 33;
    case Qt::Key_PageDown:
      return 34;
    case Qt::Key_End:
      return 35;
    case Qt::Key_Home:
      return 36;
    case Qt::Key_Left:
      return 37;
    case Qt::Key_Up:
      return 38;
    case Qt::Key_Right:
      return 39;
    case Qt::Key_Down:
      return 40;
    case Qt::Key_Insert:
      return 45;
    case Qt::Key_Delete:
      return 46;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
      return settings::kVkWindows;
    default:
      break;
  }
  // Punctuation is kept as the character it types, which is what the player
  // reads it as.
  if (text.size() == 1 && text[0].unicode() > 32 && text[0].unicode() < 127)
    return text[0].unicode();
  return 0;
}

void MacroEdit::keyPressEvent(QKeyEvent* event) {
  const int key = event->key();
  const Qt::KeyboardModifiers mods = event->modifiers();
  // The key itself counts as held: a modifier pressed alone records itself.
  const bool meta = mods.testFlag(Qt::MetaModifier) || key == Qt::Key_Meta ||
                    key == Qt::Key_Super_L || key == Qt::Key_Super_R;
  const bool ctrl = mods.testFlag(Qt::ControlModifier) || key == Qt::Key_Control;
  const bool shift = mods.testFlag(Qt::ShiftModifier) || key == Qt::Key_Shift;
  const bool alt = mods.testFlag(Qt::AltModifier) || key == Qt::Key_Alt || key == Qt::Key_AltGr;

  unsigned code = virtualKeyOf(key, event->text());
  QString marks;
  for (const auto& [held, vk] :
       {std::pair{meta, settings::kVkWindows}, std::pair{ctrl, settings::kVkControl},
        std::pair{shift, settings::kVkShift}, std::pair{alt, settings::kVkMenu}}) {
    if (held) {
      code = vk;
      marks += QLatin1Char('x');
    }
  }
  if (code != 0) recording_.append(settings::recordedCode(code));

  if (!marks.isEmpty()) {
    // The field receives the modifier, which types nothing but its mark.
    setText(text() + marks);
  } else if (code != 0 && event->text().isEmpty()) {
    // A key that types nothing still shows that it was taken.
    setText(text() + QLatin1Char('x'));
  } else {
    QLineEdit::keyPressEvent(event);
  }
  setCursorPosition(static_cast<int>(text().size()));
  event->accept();
}

void MacroEdit::mousePressEvent(QMouseEvent* event) {
  QLineEdit::mousePressEvent(event);
  clearRecording();
}

}  // namespace kelvrin::gui
