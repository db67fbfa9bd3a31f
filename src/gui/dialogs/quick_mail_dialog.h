#pragma once

// TKVemForm1: the quick-mail form (From, To, Subject, Body). It shows and
// returns the fields; what it opens with and what happens to its text when
// it closes is the core's (outgoing::QuickMail).

#include <QDialog>
#include <memory>
#include <string>

#include "outgoing/quick_mail.h"
#include "settings/ini_file.h"

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kelvrin::gui {

class TLookUpComboBox;

class TKVemForm1 : public QDialog {
  Q_OBJECT

 public:
  // The address boxes keep their history in sections "ComboBox1" and
  // "ComboBox2" of settingsFile; ownAddress is the From box's first text
  // (KVWMainEmail1); hints says whether the controls carry their hints.
  // lastTyped is the Ctrl+Space memory, kept by the caller between openings.
  TKVemForm1(const settings::IniFile& settingsFile, const std::string& ownAddress, bool hints,
             std::shared_ptr<std::string> lastTyped, QWidget* owner = nullptr);
  ~TKVemForm1() override;

  void setFields(const outgoing::QuickMailFields& fields);
  outgoing::QuickMailFields fields() const;

  // A fast e-mail to the selected favourites: no To box.
  void hideRecipients();
  void showMultiAddressWarning(bool shown);

  TLookUpComboBox* ComboBox1() const { return from_; }
  TLookUpComboBox* ComboBox2() const { return to_; }
  QLabel* Label2() const { return toLabel_; }
  QLineEdit* Subject1() const { return subject_; }
  QPlainTextEdit* Memo1() const { return body_; }
  QPushButton* OKbtn1() const { return ok_; }
  QPushButton* Cancelbtn() const { return cancel_; }
  QLabel* AddsWarn1() const { return warning_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void addressBoxLeft(TLookUpComboBox* box);

  TLookUpComboBox* from_ = nullptr;
  TLookUpComboBox* to_ = nullptr;
  QLabel* toLabel_ = nullptr;
  QLineEdit* subject_ = nullptr;
  QPlainTextEdit* body_ = nullptr;
  QPushButton* ok_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QLabel* warning_ = nullptr;
};

}  // namespace kelvrin::gui
