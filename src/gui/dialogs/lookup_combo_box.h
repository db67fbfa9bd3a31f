#pragma once

// TLookUpComboBox: an address box with type-ahead completion from its list
// and a history of the addresses confirmed with Enter, kept in a section of
// the settings file. Ctrl+click on a listed address forgets it, Ctrl+double-
// click in the box forgets them all, Ctrl+Space brings back the text typed
// last (in any box sharing the same memory), Alt+Down opens and closes the
// list.

#include <QComboBox>
#include <memory>
#include <string>

#include "outgoing/lookup_completion.h"
#include "outgoing/quick_mail.h"

namespace kelvrin::gui {

class TLookUpComboBox : public QComboBox {
  Q_OBJECT

 public:
  explicit TLookUpComboBox(QWidget* parent = nullptr);
  ~TLookUpComboBox() override;

  // Type-ahead completion from the items (on by default).
  bool Complete() const { return complete_; }
  void setComplete(bool on) { complete_ = on; }
  // On leaving the box, force the text to an item (off by default).
  bool AlwaysComplete() const { return alwaysComplete_; }
  void setAlwaysComplete(bool on) { alwaysComplete_ = on; }
  // Esc restores the text the box had when it was entered. A form that
  // closes on Esc turns this off and sees the key itself.
  void setEscapeRestores(bool on) { escapeRestores_ = on; }

  // The stored addresses behind the list (none: a plain completing box).
  // ownAddress is the text the box falls back to when its history is cleared;
  // lastTyped is the memory of Ctrl+Space, shared by the boxes of one form.
  void setHistory(std::unique_ptr<outgoing::AddressHistory> history, std::string ownAddress,
                  std::shared_ptr<std::string> lastTyped);
  outgoing::AddressHistory* history() const { return history_.get(); }

  // The list replaced by the stored addresses (entering the box, dropping
  // its list down).
  void reloadItems();
  // SaveComboTxt.
  void SaveComboTxt();

  void showPopup() override;

 signals:
  // The box lost the focus (AddsWarn1 looks at the text then).
  void left();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  bool editKeyPress(QKeyEvent* event);
  void textEdited(const QString& text);
  void restoreLastTyped();
  void clearHistory();
  void forceToItem();

  bool complete_ = true;
  bool alwaysComplete_ = false;
  bool escapeRestores_ = true;
  outgoing::LookupKey lastKey_ = outgoing::LookupKey::Other;
  QString enteredText_;
  QString typedText_;
  int lastCompleted_ = -1;
  std::unique_ptr<outgoing::AddressHistory> history_;
  std::string ownAddress_;
  std::shared_ptr<std::string> lastTyped_;
};

}  // namespace kelvrin::gui
