#pragma once

// The core for the window tests: a TKVmain over the mailbox server double
// (no network, a fake clock), with the account filled in, online, and the
// allowed list holding the user's own address, so that a message to
// me@example.com is valid and one to anybody else is spam.

#include <memory>

#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/mailbox_pop3.h"
#include "app/scripted_pop3.h"
#include "support/fake_prompter.h"
#include "support/temp_dir.h"

namespace kelvrin::test {

// Counts how often the core lets events run.
struct CountingPump final : protocols::EventPump {
  void ProcessEvents() override { ++calls; }
  int calls = 0;
};

struct CoreFixture {
  explicit CoreFixture(int messages = 9) : mailbox(clock) {
    mailbox.mailbox = MixedMailbox(messages);
    kv = std::make_unique<app::TKVmain>(
        app::Ports{[this] { return mailbox.MakeSocket(); }, pump, clock, prompter}, home.Path());
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
    kv->State.OnlineState = app::kOnline;
    kv->lbAllowEM->Add("me@example.com");
  }

  // The Check command as the scheduler runs it.
  void check() {
    kv->btOpenClick();
    kv->Check().RunRequestedCheck();
  }

  TempDir home;
  FakeClock clock;
  CountingPump pump;
  FakePrompter prompter;
  MailboxPop3 mailbox;
  std::unique_ptr<app::TKVmain> kv;
};

}  // namespace kelvrin::test
