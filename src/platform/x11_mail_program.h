#pragma once

// The main window's Send/Receive and the wizard's Test, played through the
// X11 key sender.

#include <string>

#include "app/kvmain.h"
#include "app/later_parts.h"
#include "platform/x11_key_sender.h"
#include "settings/sendkeys.h"

namespace kelvrin::platform {

class X11MailProgram : public app::MailProgram {
 public:
  // sender: empty gives the X11 sender, letting kv's events run between keys.
  explicit X11MailProgram(std::unique_ptr<settings::KeySender> sender = {});
  void SendReceive1Click(app::TKVmain& kv) override;
  settings::KeySender& sender();

 private:
  std::unique_ptr<settings::KeySender> sender_;
  std::unique_ptr<settings::SendReceive> sendReceive_;
};

// The wizard's Test button. macroText and emailProgText are the texts of
// MacroEdit1 and EmailProg1, recorded the recorder's codes. The stored hot-key
// and the main window's commands follow the outcome; true means the wizard
// empties MacroEdit1 (and its recording).
bool TestKey1Click(app::TKVmain& kv, const std::string& macroText, const std::string& recorded,
                   const std::string& emailProgText);

}  // namespace kelvrin::platform
