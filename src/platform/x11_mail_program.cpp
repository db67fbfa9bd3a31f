#include "platform/x11_mail_program.h"

#include "app/command_model.h"
#include "ui/message_box.h"

namespace kelvrin::platform {

namespace {

class KvHost : public settings::SendReceiveHost, public settings::TestKeyHost {
 public:
  explicit KvHost(app::TKVmain& kv) : kv_(kv) {}

  std::size_t listedCount() override { return kv_.VTree1.RootNodeCount(); }
  void minimizeApplication() override {
    kv_.State.MainWindowVisible = false;
    kv_.windowPort().MinimizeApplication();
    kv_.Commands.setCaption("ShowHide1", "Show");
  }
  void deleteMarked() override { kv_.btDeleteClick(app::kTagSendReceive); }
  void clearLastListedCount() override { kv_.State.LastListedCount = 0; }
  std::size_t serverMessageCount() override { return kv_.Pop3Client1.MessageCount; }
  void quitSession() override { kv_.Pop3Client1.Quit(); }
  void resetStatus() override { kv_.ResetStatus(); }
  settings::SettingsSection settings() override { return kv_.Settings; }
  void tell(const std::string& text) override {
    kv_.Prompter.MsgBox(text, "Kelvrin", false, ui::kMbOk | ui::kMbIconInformation);
  }
  int askDidItWork(const std::string& text) override {
    return kv_.Prompter.MsgBox(text, "Kelvrin", true, ui::kMbYesNo);
  }
  void setSendRcvReady(bool ready) override {
    kv_.Commands.setEnabled("SendRcv", ready);
    kv_.State.SendRcvReady = ready ? 1 : 0;
    // The option only makes sense with a hot-key to play.
    if (!ready && kv_.KVmain->checked("AutoSR")) kv_.KVmain->setChecked("AutoSR", false);
  }

 private:
  app::TKVmain& kv_;
};

}  // namespace

X11MailProgram::X11MailProgram(std::unique_ptr<settings::KeySender> sender)
    : sender_(std::move(sender)) {}

settings::KeySender& X11MailProgram::sender() {
  if (!sender_) sender_ = std::make_unique<X11KeySender>();
  return *sender_;
}

void X11MailProgram::SendReceive1Click(app::TKVmain& kv) {
  if (!sender_) sender_ = std::make_unique<X11KeySender>([&kv] { kv.Pump.ProcessEvents(); });
  if (!sendReceive_) sendReceive_ = std::make_unique<settings::SendReceive>(*sender_);
  KvHost host(kv);
  sendReceive_->SendRxExecute(host);
}

bool TestKey1Click(app::TKVmain& kv, const std::string& macroText, const std::string& recorded,
                   const std::string& emailProgText) {
  X11KeySender sender([&kv] { kv.Pump.ProcessEvents(); });
  KvHost host(kv);
  return settings::TestKey1Click(sender, host, macroText, recorded, emailProgText).clearMacroEdit;
}

}  // namespace kelvrin::platform
