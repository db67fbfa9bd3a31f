#pragma once

// The settings wizard's window: a tab per page and the navigation bar. It
// shows the wizard's draft and forwards every edit and click to the
// wizard's logic; it decides nothing.

#include <QDialog>
#include <QHash>
#include <functional>
#include <string>
#include <vector>

#include "filter/edit_list_box.h"
#include "settings/wizard.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTabWidget;
class QGroupBox;

namespace kelvrin::gui {

class EditListBoxWidget;

class MacroEdit;

class WizardDialog : public QDialog {
  Q_OBJECT
 public:
  struct Lists {
    filter::TEditListBox& lbAllowEM;
    filter::TEditListBox& lbBanSubject;
    filter::TEditListBox& lbBanEM;
  };
  WizardDialog(settings::TKVWForm1& wizard, Lists lists, QWidget* parent = nullptr);
  ~WizardDialog() override;

  // The dial-up phone-book entries, asked at every opening (none: the two
  // lists are empty and disabled).
  void setServiceEntries(std::function<std::vector<std::string>()> entries) {
    serviceEntries_ = std::move(entries);
  }
  // The "Test" button of the hot-key: gets the texts of MacroEdit1 and
  // EmailProg1 and the recorded codes; true empties the recorder.
  using TestKey = std::function<bool(const std::string& macroText, const std::string& recorded,
                                     const std::string& emailProgText)>;
  void setTestKey(TestKey testKey) { testKey_ = std::move(testKey); }
  // "Test settings": logs in with the values on screen and returns what the
  // user is told; stop ends a test that runs.
  void setTestSettings(std::function<std::string(const settings::Form&)> run,
                       std::function<void()> stop) {
    testSettings_ = std::move(run);
    stopTest_ = std::move(stop);
  }
  void setHintsShown(bool shown);

  // The wizard's opening: its FormShow, then the modal loop; 1 Finish, 2
  // Cancel (also Esc and closing the window).
  int showModal();

  void reject() override;

 private:
  QWidget* makePage(int index);
  // edit: the field's own widget, else a plain line edit.
  QLineEdit* addLine(QWidget* page, const char* field, const QString& label,
                     QLineEdit* edit = nullptr);
  QSpinBox* addNumber(QWidget* page, const char* field, const QString& label);
  QCheckBox* addCheck(QWidget* page, const char* field, const QString& label);
  QComboBox* addSecurity(QWidget* page, const char* field, const QString& label);
  bool eventFilter(QObject* watched, QEvent* event) override;
  void render();
  void finish();
  void runTest();
  QWidget* field(const std::string& name) const;

  settings::TKVWForm1& wizard_;
  Lists lists_;
  std::function<std::vector<std::string>()> serviceEntries_;
  TestKey testKey_;
  MacroEdit* macroEdit_ = nullptr;
  std::function<std::string(const settings::Form&)> testSettings_;
  std::function<void()> stopTest_;
  bool rendering_ = false;
  bool hintsShown_ = true;
  bool testRunning_ = false;

  QTabWidget* tabs_ = nullptr;
  QPushButton* back_ = nullptr;
  QPushButton* next_ = nullptr;
  QPushButton* finish_ = nullptr;
  QPushButton* cancel_ = nullptr;
  QPushButton* testSettingsButton_ = nullptr;
  QPushButton* stopTestButton_ = nullptr;
  QLabel* testResult_ = nullptr;
  QLabel* idleLabel_ = nullptr;
  QGroupBox* dialUpBox_ = nullptr;
  QGroupBox* allowBox_ = nullptr;
  QRadioButton* cable_ = nullptr;
  QRadioButton* dialUp_ = nullptr;
  QComboBox* services_[2] = {nullptr, nullptr};
  EditListBoxWidget* listWidgets_[3] = {nullptr, nullptr, nullptr};
  QHash<QString, QLineEdit*> lines_;
  QHash<QString, QSpinBox*> numbers_;
  QHash<QString, QCheckBox*> checks_;
  QHash<QString, QComboBox*> securities_;
};

}  // namespace kelvrin::gui
