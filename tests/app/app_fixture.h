#pragma once

// A TKVmain wired to test doubles: a scripted POP3 server behind the socket
// port, a fake clock, a pump that can act at its n-th call, a scripted
// prompter, and a settings home in a temporary folder. The account is
// filled in, the connection is Cable/ADSL (online) and the allowed list
// holds the user's own address, so a message to me@example.com is valid and
// one to anybody else is spam.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/mailbox_pop3.h"
#include "app/scripted_pop3.h"
#include "support/fake_prompter.h"
#include "support/temp_dir.h"

namespace kelvrin::test {

class CountingPump final : public protocols::EventPump {
 public:
  void ProcessEvents() override {
    ++calls;
    if (onCall) onCall(calls);
  }
  int calls = 0;
  std::function<void(int)> onCall;
};

class AppFixture : public ::testing::Test {
 protected:
  AppFixture() : script(clock), mailbox(clock) {}
  // The mailbox server instead of the scripted dialogue.
  explicit AppFixture(bool useMailbox) : script(clock), mailbox(clock), useMailbox_(useMailbox) {}

  void SetUp() override { makeApp(); }

  void makeApp() {
    kv = std::make_unique<app::TKVmain>(app::Ports{[this] {
                                                     if (socketFactory) return socketFactory();
                                                     return useMailbox_ ? mailbox.MakeSocket()
                                                                        : script.MakeSocket();
                                                   },
                                                   pump, clock, prompter},
                                        home.Path());
    kv->FormCreate();
    kv->FormShow();
    auto& wizard = *kv->KVWForm1;
    wizard.setText("KVWMainEmail1", "me@example.com");
    wizard.setText("KVWEdhost", "pop.mail.example.com");
    wizard.setText("KVWedUser", "bob");
    wizard.setText("KVWedPassword", "secret");
    wizard.setText("PopPort", " 110");
    wizard.setValue("KVWccntypeGroup", 0);
    kv->KVmain->setChecked("AutoUpdate1", false);
    kv->State.OnlineState = 1;
    kv->lbAllowEM->Add("me@example.com");
  }

  // The Check command as the scheduler runs it.
  void check() {
    kv->btOpenClick();
    kv->Check().RunRequestedCheck();
  }

  std::vector<int> levelsInViewOrder() const {
    std::vector<int> levels;
    for (const auto& row : kv->VTree1.rows())
      levels.push_back(row.Node.SpamLevel);
    return levels;
  }
  std::vector<int> markedIndexes() const {
    std::vector<int> marked;
    for (const auto& row : kv->VTree1.rows()) {
      if (row.Checked) marked.push_back(row.Node.MsgIndex);
    }
    return marked;
  }
  const std::string& status() const { return kv->dfsStatus.Status(); }

  TempDir home;
  FakeClock clock;
  CountingPump pump;
  FakePrompter prompter;
  ScriptedPop3 script;
  MailboxPop3 mailbox;
  bool useMailbox_ = false;
  // When set, the sockets come from here instead of the servers above.
  protocols::SocketFactory socketFactory;
  std::unique_ptr<app::TKVmain> kv;
};

}  // namespace kelvrin::test
