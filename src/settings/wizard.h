#pragma once

// The settings wizard without its window: the seven pages and the buttons
// that lead through them, every field's handler and the checks of Finish.
//
// The wizard edits a draft of the KVWForm1 fields. Finish copies the draft
// into the form the rest of the program reads (GeneralSettings then saves
// it); Cancel drops it, so a cancelled opening changes nothing anywhere and
// a half-typed host name never reaches a timed check.

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter/edit_list_box.h"
#include "settings/form.h"
#include "settings/ini_file.h"

namespace kelvrin::settings {

inline constexpr const char* kWizardCaption = "Kelvrin Settings Wizard";

struct WizardPage {
  const char* sheet;    // the tab's component name
  const char* tab;      // tab caption
  const char* heading;  // heading panel; empty for none
};

enum WizardPageIndex : int {
  kPageAddress = 0,
  kPageEmailClient = 1,
  kPageServer = 2,
  kPageLogin = 3,
  kPageConnect = 4,
  kPageAdvanced = 5,
  kPageFinish = 6,
};

inline constexpr std::array<WizardPage, 7> kWizardPages{{
    {"TabSheet1", "Your Address", "Internet E-Mail Address"},
    {"TabSheet2", "Email Client", "Default E-Mail Program"},
    {"TabSheet3", "Server", "Server Name"},
    {"TabSheet4", "Login", "Mail Login detail"},
    {"TabSheet5", "Connect", "Connect Settings"},
    {"TabSheet6", "Advanced", ""},
    {"TabSheet7", "Finish", "Thanks - initial setup completed"},
}};

inline constexpr const char* kIdleLabelDialUp =
    "Secs PC idle then invasive notify and hangup (0=none)";
inline constexpr const char* kIdleLabelCable = "Secs PC idle then invasive notify user";

inline constexpr const char* kIncorrectAddress = "Incorrect main email address";
inline constexpr const char* kIncorrectAddressAtFinish =
    "Incorrect main email address\rOptions, item 1 please enter";
inline constexpr const char* kServiceDiffers =
    "'Service' seems different to 'POP3'\rIf it's correct, click [Yes]";

// The field hints (tool tips); empty for a field without one.
std::string_view wizardHint(std::string_view field);

// What the wizard asks of the program around it. The defaults do nothing
// and answer No.
class WizardHost {
 public:
  virtual ~WizardHost() = default;
  // The information box (OK, silent).
  virtual void InfoBox(const std::string& /*text*/) {}
  // A stop box with OK and the caption "Kelvrin".
  virtual void StopBox(const std::string& /*text*/) {}
  // A Yes/No box with the caption "Kelvrin" and no icon; true for Yes.
  virtual bool AskYesNo(const std::string& /*text*/) { return false; }
  // The hot-key being recorded is forgotten (a click into a cleared field).
  virtual void ForgetRecordedKey() {}
  // The name of the user's mail program, for an emptied program field.
  virtual std::string GetEmailProg() { return {}; }
  // A new check interval took effect (the timed-check captions and the
  // tray picture follow it).
  virtual void IntervalChanged(int /*minutes*/) {}
  // The connection type took effect: 0 counts as online at once and needs
  // no detector; 1 enables the detector and asks it.
  virtual void ConnectionTypeApplied(int /*type*/) {}
  // The user picked "Dial-Up-Network": says so when it cannot work here.
  virtual void DialUpChosen() {}
  // Finish with an empty hot-key field: Send/Receive is not ready.
  virtual void HotKeyCleared() {}
  // The reason a file cannot serve as trusted certificates; empty when it
  // is a readable PEM certificate file.
  virtual std::string CertificateFileProblem(const std::string& /*path*/) { return {}; }
};

// A dial-up list: entries of the phone book, the chosen one (-1 none).
struct ServiceList {
  std::vector<std::string> entries;
  int selected = -1;
  bool enabled = true;
  // The list's text: the chosen entry, empty without one.
  std::string text() const;
};

class TKVWForm1 {
 public:
  // fields: the form the program reads; file: the settings file; firstRun:
  // asked at every opening (the program's StartPhase is 10).
  TKVWForm1(Form& fields, filter::TEditListBox& lbAllowEM, IniFile& file, WizardHost& host,
            std::function<bool()> firstRun);

  // Creation (once) and each opening.
  void FormCreate();
  void FormShow();
  // The page the next opening starts on, by its sheet name ("TabSheet5").
  void SelectPage(std::string_view sheet);

  // The draft of the fields and the state the window shows.
  const Form& draft() const { return *draft_; }
  int page() const { return page_; }
  bool backEnabled() const { return backEnabled_; }
  bool nextEnabled() const { return nextEnabled_; }
  bool finishEnabled() const { return finishEnabled_; }
  bool dialUpBoxVisible() const { return draft_->value("KVWccntypeGroup") == 1; }
  std::string idleLabel() const;
  bool allowBoxVisible() const { return allowBoxVisible_; }
  // The address field is shown bold until an address was taken.
  bool addressBold() const { return addressBold_; }
  // The field that is to get the focus (set by a refused Finish), once.
  std::string takeFocus();
  const ServiceList& primaryServices() const { return primary_; }
  const ServiceList& secondaryServices() const { return secondary_; }

  // Navigation. selectTab: a click on a tab (the buttons stay as they are).
  void NextBtnClick();
  void BackBtnClick();
  void selectTab(int index);
  // True when the wizard closes with OK.
  bool FinishBtnClick();
  void CancelBtnClick();

  // Edits. Every change of the draft goes through these.
  void setText(std::string_view field, std::string value);
  void setChecked(std::string_view field, bool value);
  // Number fields: kept within their range (never below 0).
  void setNumber(std::string_view field, int value);
  // An arrow button: one step up (+1) or down (-1).
  void stepNumber(std::string_view field, int direction);
  void setSecurity(std::string_view field, int value);

  // The dial-up lists, filled by the program (empty and disabled without
  // dial-up); the stored names are chosen where they exist.
  void setServiceEntries(const std::vector<std::string>& entries, bool listingWorked);
  void chooseService(bool secondary, int index);

  // The field handlers.
  void EditClick(std::string_view field);  // the two POP3 host fields
  void KVWClick(std::string_view field);   // SMTP hosts, user names, MacroEdit1
  void KVWEdhostExit(std::string_view field);
  void KVWMainEmail1Click();
  void KVWMainEmail1Exit();
  void KVWMainEmail1KeyUpEnter();
  void KVWccntypeGroupClick(int type);

  // Every change of what the window shows.
  void setOnChanged(std::function<void()> onChanged) { onChanged_ = std::move(onChanged); }

  // The number range of a field: {min, max, step}; max < 0: no upper bound.
  struct NumberRange {
    int min;
    int max;
    int step;
  };
  static NumberRange numberRange(std::string_view field);

 private:
  void changed();
  void takeAddress();
  void goTo(int page, std::string focus);
  // Our own checks of the fields; empty when all are sound.
  bool refuseUnsoundFields();
  void commit();

  Form& fields_;
  filter::TEditListBox& lbAllowEM_;
  IniFile& file_;
  WizardHost& host_;
  std::function<bool()> firstRun_;
  std::unique_ptr<Form> draft_;
  std::function<void()> onChanged_;

  int page_ = kPageAddress;
  bool backEnabled_ = false;
  bool nextEnabled_ = true;
  bool finishEnabled_ = false;
  bool allowBoxVisible_ = false;
  bool addressBold_ = true;
  std::string focus_;
  ServiceList primary_;
  ServiceList secondary_;
};

}  // namespace kelvrin::settings
