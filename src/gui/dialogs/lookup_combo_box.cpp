#include "gui/dialogs/lookup_combo_box.h"

#include <QAbstractItemView>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <vector>

#include "gui/dialogs/qt_text.h"

namespace kelvrin::gui {

namespace {

outgoing::LookupKey lookupKeyOf(const QKeyEvent& event) {
  using K = outgoing::LookupKey;
  switch (event.key()) {
    case Qt::Key_Backspace:
      return K::Backspace;
    case Qt::Key_Delete:
      return K::Delete;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
      return K::Arrow;
    default:
      break;
  }
  const QString text = event.text();
  if (!text.isEmpty() && text.front().isPrint()) return K::Character;
  return K::Other;
}

}  // namespace

TLookUpComboBox::TLookUpComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(true);
  setInsertPolicy(QComboBox::NoInsert);
  setMaxVisibleItems(8);
  // The box's own completion is ours; the platform's would fight it.
  setCompleter(nullptr);
  lineEdit()->installEventFilter(this);
  view()->installEventFilter(this);
  view()->viewport()->installEventFilter(this);
  connect(lineEdit(), &QLineEdit::textEdited, this, &TLookUpComboBox::textEdited);
}

TLookUpComboBox::~TLookUpComboBox() = default;

void TLookUpComboBox::setHistory(std::unique_ptr<outgoing::AddressHistory> history,
                                 std::string ownAddress, std::shared_ptr<std::string> lastTyped) {
  history_ = std::move(history);
  ownAddress_ = std::move(ownAddress);
  lastTyped_ = std::move(lastTyped);
}

void TLookUpComboBox::reloadItems() {
  if (!history_) return;
  history_->Reload();
  const QString text = currentText();
  clear();
  for (const std::string& item : history_->Items())
    addItem(qtText(item));
  setEditText(text);
}

void TLookUpComboBox::SaveComboTxt() {
  const QString text = currentText();
  if (history_) {
    history_->Save(coreText(text));
    clear();
    for (const std::string& item : history_->Items())
      addItem(qtText(item));
  } else if (findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
    addItem(text);
  }
  setEditText(text);
}

void TLookUpComboBox::showPopup() {
  reloadItems();
  QComboBox::showPopup();
}

void TLookUpComboBox::focusInEvent(QFocusEvent* event) {
  QComboBox::focusInEvent(event);
  if (event->reason() == Qt::PopupFocusReason) return;
  enteredText_ = currentText();
  reloadItems();
}

void TLookUpComboBox::focusOutEvent(QFocusEvent* event) {
  QComboBox::focusOutEvent(event);
  if (event->reason() == Qt::PopupFocusReason) return;
  if (alwaysComplete_) forceToItem();
  emit left();
}

void TLookUpComboBox::forceToItem() {
  if (count() == 0) return;
  std::vector<std::string> items;
  for (int i = 0; i < count(); ++i)
    items.push_back(coreText(itemText(i)));
  const auto c = outgoing::CompleteText(items, coreText(currentText()), false);
  const int index =
      c ? c->Index : (lastCompleted_ >= 0 && lastCompleted_ < count() ? lastCompleted_ : 0);
  setCurrentIndex(index);
  setEditText(itemText(index));
}

void TLookUpComboBox::restoreLastTyped() {
  if (!lastTyped_) return;
  lineEdit()->setText(qtText(*lastTyped_));
  lineEdit()->setCursorPosition(static_cast<int>(lineEdit()->text().size()));
}

void TLookUpComboBox::clearHistory() {
  lineEdit()->selectAll();
  if (history_) history_->Clear();
  while (count() > 1)
    removeItem(count() - 1);
  setEditText(qtText(ownAddress_));
}

bool TLookUpComboBox::editKeyPress(QKeyEvent* event) {
  const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
  if (event->key() == Qt::Key_Down && event->modifiers().testFlag(Qt::AltModifier)) {
    showPopup();
    return true;
  }
  QLineEdit* edit = lineEdit();
  // Addresses are kept in lower case; the caret and selection stay put.
  const QString lower = edit->text().toLower();
  if (lower != edit->text()) {
    const int cursor = edit->cursorPosition();
    const int selStart = edit->selectionStart();
    const int selLength = static_cast<int>(edit->selectedText().size());
    edit->setText(lower);
    if (selStart >= 0 && selLength > 0) {
      edit->setSelection(selStart, selLength);
    } else {
      edit->setCursorPosition(cursor);
    }
  }
  if (event->key() == Qt::Key_Space && ctrl) {
    restoreLastTyped();
    if (lastTyped_) *lastTyped_ = coreText(edit->text());
    return true;
  }
  if (lastTyped_) *lastTyped_ = coreText(edit->text());
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    SaveComboTxt();
    return true;  // the form's buttons do not see it
  }
  if (event->key() == Qt::Key_Escape) {
    if (!escapeRestores_) return false;
    edit->setText(enteredText_);
    edit->selectAll();
    return true;
  }
  lastKey_ = lookupKeyOf(*event);
  return false;
}

void TLookUpComboBox::textEdited(const QString& text) {
  const std::string typed = coreText(text);
  if (!complete_ || !outgoing::CompletesAfter(lastKey_, typed)) return;
  typedText_ = text;
  std::vector<std::string> items;
  items.reserve(static_cast<std::size_t>(count()));
  for (int i = 0; i < count(); ++i)
    items.push_back(coreText(itemText(i)));
  const auto c = outgoing::CompleteText(items, typed, lastKey_ == outgoing::LookupKey::Character);
  if (!c) return;
  lastCompleted_ = c->Index;
  // The typed bytes are the item's first ones where they differ only in
  // ASCII case, so the typed characters are its first characters too.
  const int n = static_cast<int>(text.size());
  setCurrentIndex(c->Index);
  const QString item = itemText(c->Index);
  QLineEdit* edit = lineEdit();
  edit->setText(item);
  if (c->SelectLength > 0) {
    edit->setSelection(static_cast<int>(item.size()), n - static_cast<int>(item.size()));
  } else {
    edit->setCursorPosition(n);
  }
}

bool TLookUpComboBox::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lineEdit()) {
    if (event->type() == QEvent::KeyPress) return editKeyPress(static_cast<QKeyEvent*>(event));
    if (event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->modifiers().testFlag(Qt::ControlModifier)) {
      clearHistory();
      return true;
    }
  } else if (watched == view()->viewport()) {
    if (event->type() == QEvent::MouseButtonRelease) {
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (mouse->modifiers().testFlag(Qt::ControlModifier)) {
        // Forgotten in the file; the open list still shows it until the
        // next reload, and stays open.
        const QModelIndex at = view()->indexAt(mouse->position().toPoint());
        if (at.isValid() && history_) history_->Forget(coreText(itemText(at.row())));
        return true;
      }
    }
  } else if (watched == view() && event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Down && key->modifiers().testFlag(Qt::AltModifier)) {
      hidePopup();
      return true;
    }
  }
  return QComboBox::eventFilter(watched, event);
}

}  // namespace kelvrin::gui
