// Checks against a server that pipelines, with and without the header
// cache: the rows are those of the per-message dialogue, a second check of
// the same mailbox fetches no header again, a damaged or stale cache costs
// a fetch and never a wrong row, and the fault sweep holds in the middle of
// a batch and with headers taken from the cache.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include "app/app_fixture.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "app/header_cache.h"
#include "app/message_view_handlers.h"
#include "app/window_handlers.h"
#include "support/temp_dir.h"

namespace kelvrin::test {
namespace {

namespace fs = std::filesystem;

class PipelinedCheck : public AppFixture {
 protected:
  PipelinedCheck() : AppFixture(/*useMailbox=*/true) {}

  // A new program run over the same mailbox contents and cache folder.
  void reset(bool pipelining, bool withCache, int count = 7) {
    kv.reset();
    std::vector<MailboxMessage> box = started_ ? mailbox.mailbox : MixedMailbox(count);
    started_ = true;
    mailbox = MailboxPop3(clock);
    mailbox.mailbox = std::move(box);
    mailbox.pipelining = pipelining;
    pump.calls = 0;
    pump.onCall = nullptr;
    makeApp();
    kv->Pop3Client1.AskCapabilities = true;
    if (withCache) kv->Check().setHeaderCacheFolder(cacheDir());
  }
  // A fresh mailbox and no cache.
  void restart(int count = 7) {
    started_ = false;
    fs::remove_all(cacheDir());
    reset(true, true, count);
  }

  fs::path cacheDir() const { return fs::path(cache.Path()) / "kelvrin"; }
  fs::path cacheFile() const {
    return app::HeaderCache(cacheDir(), "pop.mail.example.com", "110", "bob").Path();
  }

  int commandsNamed(const std::string& verb) const {
    return static_cast<int>(
        std::count_if(mailbox.Log().begin(), mailbox.Log().end(),
                      [&](const std::string& line) { return line.rfind(verb, 0) == 0; }));
  }

  // id -> subject, level of every row.
  std::map<std::string, std::pair<std::string, int>> rows() const {
    std::map<std::string, std::pair<std::string, int>> result;
    for (const auto& row : kv->VTree1.rows()) {
      result[row.Node.UIDL] = {kv->View().messageOf(row)->Subject, row.Node.SpamLevel};
    }
    return result;
  }

  // No row shows another message's header, and only spam went.
  void expectSound(const std::string& context) {
    for (const auto& row : kv->VTree1.rows()) {
      const auto* message = kv->View().messageOf(row);
      if (!row.Node.UIDL.empty() && message != nullptr && !message->Subject.empty()) {
        EXPECT_EQ(message->Subject, "message " + row.Node.UIDL) << context;
      }
    }
    for (const auto& m : MixedMailbox(7)) {
      if (!m.spam) {
        EXPECT_TRUE(mailbox.Ids().count(m.id)) << context << ": " << m.id << " gone";
      }
    }
    for (const auto& d : mailbox.Deles()) {
      if (!d.id.empty()) {
        EXPECT_EQ(d.id[0], 's') << context << ": DELE " << d.position;
      }
    }
    EXPECT_FALSE(kv->State.CheckInProgress) << context;
    EXPECT_EQ(kv->VTree1.UpdateCount(), 0) << context;
  }

  TempDir cache;
  bool started_ = false;
};

TEST_F(PipelinedCheck, SameRowsAsThePerMessageDialogueAndNoHeaderFetchedTwice) {
  reset(/*pipelining=*/false, /*withCache=*/true);
  check();
  const auto perMessage = rows();
  ASSERT_EQ(perMessage.size(), 7u);
  EXPECT_EQ(commandsNamed("UIDL "), 7);
  EXPECT_FALSE(fs::exists(cacheFile())) << "a per-message check keeps no cache";

  reset(/*pipelining=*/true, /*withCache=*/true);
  check();
  EXPECT_EQ(rows(), perMessage);
  EXPECT_TRUE(kv->Pop3Client1.LastCheckPipelined);
  EXPECT_EQ(commandsNamed("TOP "), 7);
  EXPECT_EQ(commandsNamed("UIDL "), 0);
  EXPECT_EQ(commandsNamed("LIST "), 0);

  reset(/*pipelining=*/true, /*withCache=*/true);
  check();
  EXPECT_EQ(rows(), perMessage);
  EXPECT_EQ(commandsNamed("TOP "), 0);
  EXPECT_EQ(kv->Pop3Client1.HeadersKnown, 7);
  EXPECT_EQ(kv->VTree1.rows().size(), 7u);
  EXPECT_EQ(kv->State.SpamCount + kv->State.SuspectCount + kv->State.ValidCount, 7);
}

TEST_F(PipelinedCheck, CacheIsPrivateAndHoldsOnlyMessagesStillOnTheServer) {
  reset(true, true);
  check();
  struct stat info {};
  ASSERT_EQ(::stat(cacheFile().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  ASSERT_EQ(::stat(cacheDir().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);

  kv->btDeleteClick(app::kTagSpamDelete);
  reset(true, true);
  check();
  EXPECT_EQ(rows().size(), 5u);
  EXPECT_EQ(commandsNamed("TOP "), 0);

  app::HeaderCache reader(cacheDir(), "pop.mail.example.com", "110", "bob");
  ASSERT_TRUE(reader.Open());
  mail::TStringList lines;
  const int size = static_cast<int>(kv->MessageList1.Items(0).Size);
  EXPECT_TRUE(reader.Find("v1", size, lines));
  EXPECT_EQ(lines.at(2), "Subject: message v1");
  EXPECT_FALSE(reader.Find("s3", size, lines)) << "a deleted message stayed in the cache";
  EXPECT_FALSE(reader.Find("v2", size + 1, lines)) << "an entry of another size";
  reader.Discard();
  for (const auto& entry : fs::directory_iterator(cacheDir())) {
    EXPECT_EQ(entry.path(), cacheFile()) << "a temporary file was left behind";
  }
}

// Whatever the file holds, a row shows its own message's header.
TEST_F(PipelinedCheck, DamagedOrStaleCacheIsFetchedAgain) {
  reset(true, true);
  check();
  const auto good = rows();
  std::string bytes;
  {
    std::ifstream in(cacheFile(), std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  const std::size_t v1 = bytes.find("Subject: message v1");
  const std::size_t v2 = bytes.find("Subject: message v2");
  ASSERT_NE(v1, std::string::npos);
  ASSERT_NE(v2, std::string::npos);
  struct Damage {
    const char* name;
    std::string content;
    int fetches;
  };
  std::string swapped = bytes;
  swapped[v1 + 18] = '2';  // v1's entry now reads "message v2"
  std::string truncated = bytes.substr(0, v2);
  const std::vector<Damage> damages = {
      {"a changed byte", swapped, 1},
      {"cut short", truncated, 6},
      {"not a cache", "garbage\n", 7},
      {"empty", "", 7},
  };
  for (const Damage& d : damages) {
    {
      std::ofstream out(cacheFile(), std::ios::binary | std::ios::trunc);
      out << d.content;
    }
    reset(true, true);
    check();
    EXPECT_EQ(rows(), good) << d.name;
    EXPECT_EQ(commandsNamed("TOP "), d.fetches) << d.name;
    expectSound(d.name);
  }
  // A message whose header changed under the same id has another size.
  mailbox.mailbox[0].headers[2] = "Subject: message v1 (edited)";
  reset(true, true);
  check();
  EXPECT_EQ(commandsNamed("TOP "), 1);
  EXPECT_EQ(rows().at("v1").first, "message v1 (edited)");
}

TEST_F(PipelinedCheck, NoCacheWithoutUniqueIdsOrWhenTurnedOff) {
  reset(true, false);
  check();
  EXPECT_FALSE(fs::exists(cacheFile()));
  reset(true, true);
  mailbox.withUidl = false;
  check();
  EXPECT_EQ(kv->VTree1.rows().size(), 7u);
  EXPECT_FALSE(fs::exists(cacheFile()));
}

// The desktop program's option: off, every header is fetched again, and the
// choice outlives the run.
TEST_F(PipelinedCheck, HeaderCacheOptionOffFetchesEveryHeader) {
  reset(true, true);
  check();
  ASSERT_TRUE(fs::exists(cacheFile()));
  ASSERT_TRUE(kv->KVmain->checked("HeaderCache1")) << "on by default";
  ASSERT_TRUE(kv->Window().OptionClick("HeaderCache1"));
  EXPECT_FALSE(kv->KVmain->checked("HeaderCache1"));
  kv->SaveOptions();

  reset(true, true);
  EXPECT_FALSE(kv->KVmain->checked("HeaderCache1")) << "read back from the settings file";
  check();
  EXPECT_EQ(commandsNamed("TOP "), 7);
  EXPECT_EQ(kv->Pop3Client1.HeadersKnown, 0);
  EXPECT_EQ(kv->VTree1.rows().size(), 7u);
}

// The fault sweep of the per-message dialogue, in the middle of batches
// and with headers from the cache: a dropped connection or a refusal at
// every command, and a Cancel at every pump.
TEST_F(PipelinedCheck, FaultsAnywhereInABatchedOrCachedCheck) {
  for (bool cached : {false, true}) {
    restart();
    if (cached) check();
    reset(true, true);
    check();
    ASSERT_EQ(commandsNamed("TOP "), cached ? 0 : 7);
    kv->btDeleteClick(app::kTagSpamDelete);
    check();
    const int total = mailbox.Commands();
    const int pumps = pump.calls;
    ASSERT_GT(total, 10);
    for (int k = 1; k <= total + 1; ++k) {
      for (bool drop : {true, false}) {
        restart();
        if (cached) check();
        reset(true, true);
        (drop ? mailbox.dropAfter : mailbox.errOn) = mailbox.Commands() + k;
        check();
        kv->btDeleteClick(app::kTagSpamDelete);
        check();
        expectSound(std::string(cached ? "cached" : "batched") +
                    (drop ? ", drop at " : ", -ERR at ") + std::to_string(k));
      }
    }
    for (int k = 1; k <= pumps + 1; ++k) {
      restart();
      if (cached) check();
      reset(true, true);
      pump.onCall = [this, k](int call) {
        if (call == k) kv->BtCancelClick();
      };
      check();
      const std::string context =
          std::string(cached ? "cached" : "batched") + ", cancel at pump " + std::to_string(k);
      expectSound(context);
      pump.onCall = nullptr;
      kv->btDeleteClick(app::kTagSpamDelete);
      check();
      expectSound(context + ", then deleted");
    }
  }
}

// Message numbers are 16-bit. A pipelined check of a larger mailbox works
// its first 65535 messages and says so; nothing is asked of a message
// numbered beyond them, and neither the deletion that follows nor the check
// after it names such a message, even when the listed ones have moved there.
TEST_F(PipelinedCheck, AMailboxBeyondTheMessageNumbersIsWorkedOnlyToTheLastNumber) {
  constexpr int kHeld = 65540;
  reset(/*pipelining=*/true, /*withCache=*/false, kHeld);
  std::vector<std::string> numbered;  // commands naming a number past 65535
  mailbox.onCommand = [&numbered](const std::string& line) {
    const std::size_t blank = line.find(' ');
    if (blank == std::string::npos || line.rfind("USER", 0) == 0 || line.rfind("PASS", 0) == 0) {
      return;
    }
    const std::string number = line.substr(blank + 1, line.find(' ', blank + 1) - blank - 1);
    if (number.size() > 5 || std::stol(number) > 65535) numbered.push_back(line);
  };
  check();
  ASSERT_TRUE(kv->Pop3Client1.LastCheckPipelined);
  EXPECT_EQ(kv->VTree1.rows().size(), 65535u);
  EXPECT_EQ(commandsNamed("TOP "), 65535);
  EXPECT_EQ(status(),
            "Status: Listed the first 65535 of 65540 messages (a check lists at most 65535)");
  EXPECT_EQ(kv->dfsStatus.Panel(2),
            "The mailbox holds 65540 messages; only the first 65535 are worked.");
  const auto& last = kv->VTree1.rows();
  EXPECT_TRUE(std::any_of(last.begin(), last.end(), [](const app::ViewRow& row) {
    return row.Node.UIDL == "s65535";
  })) << "the last message a number reaches is listed";

  // Only the last listed messages are marked, and five new ones arrive in
  // front of them: their positions are now past the last number.
  for (std::size_t i = 0; i < last.size(); ++i) {
    const std::string& id = last[i].Node.UIDL;
    kv->VTree1.setChecked(i, id == "s65535" || id == "s65532" || id == "s3");
  }
  for (int i = 0; i < 5; ++i) {
    MailboxMessage added = mailbox.mailbox.front();
    added.id = "new" + std::to_string(i);
    mailbox.mailbox.insert(mailbox.mailbox.begin(), added);
  }
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(numbered.empty()) << numbered.front();
  ASSERT_EQ(mailbox.Deles().size(), 1u) << "only the message still in reach is deleted";
  EXPECT_EQ(mailbox.Deles()[0].id, "s3");
  EXPECT_EQ(mailbox.Deles()[0].position, 8);
  EXPECT_FALSE(kv->State.CheckInProgress);
}

}  // namespace
}  // namespace kelvrin::test

namespace kelvrin::test {
namespace {

// A server that sends more than was asked, in the pipelined dialogue:
// after each kind of reply comes a line or a whole reply that looks like
// the next one. No row may show another message's header, and only spam
// may go.
TEST_F(PipelinedCheck, UnsolicitedRepliesInABatch) {
  const std::vector<std::string> kinds = {"", "STAT", "UIDL", "CAPA", "LIST", "TOP"};
  const std::vector<std::string> forgeries = {
      "+OK 1 v1", "-ERR forged", "+OK\r\nFrom: x@example.org\r\nSubject: message v1\r\n\r\n."};
  for (bool cached : {false, true}) {
    for (const std::string& kind : kinds) {
      for (const std::string& forged : forgeries) {
        restart();
        if (cached) check();
        reset(true, true);
        mailbox.unsolicitedAfter = [&](const std::string& command) -> std::string {
          return command.substr(0, command.find(' ')) == kind ? forged : std::string();
        };
        check();
        const std::string context = std::string(cached ? "cached" : "batched") + ", after " +
                                    (kind.empty() ? "the greeting" : kind) + ": " + forged;
        expectSound(context);
        mailbox.unsolicitedAfter = nullptr;
        kv->btDeleteClick(app::kTagSpamDelete);
        check();
        expectSound(context + ", then deleted");
      }
    }
  }
}

// A cache of many times the reader's window: every entry comes back as it
// was stored, in the order of a check and out of it, and an entry whose
// bytes the file no longer holds is none.
TEST(HeaderCacheFile, ALargeCacheReadsBackEveryEntry) {
  TempDir folder("kelvrin-cache-");
  const auto linesOf = [](int n) {
    mail::TStringList lines;
    for (int line = 0; line < 3 + n % 7; ++line)
      lines.push_back("X-Line-" + std::to_string(line) + ": " +
                      std::string(40 + n % 97, 'a' + n % 26));
    return lines;
  };
  constexpr int kEntries = 6000;  // about 2 MB
  {
    app::HeaderCache writer(folder.Path(), "host", "110", "bob");
    ASSERT_TRUE(writer.Open());
    for (int n = 0; n < kEntries; ++n)
      writer.Add("id" + std::to_string(n), 1000 + n, linesOf(n));
    std::string error;
    ASSERT_TRUE(writer.Commit(error)) << error;
  }
  std::vector<int> order(kEntries);
  for (int n = 0; n < kEntries; ++n)
    order[static_cast<std::size_t>(n)] = n;
  // Backwards through the second half: each lookup moves the window back.
  std::reverse(order.begin() + kEntries / 2, order.end());
  app::HeaderCache reader(folder.Path(), "host", "110", "bob");
  ASSERT_TRUE(reader.Open());
  mail::TStringList lines;
  for (const int n : order) {
    ASSERT_TRUE(reader.Find("id" + std::to_string(n), 1000 + n, lines)) << n;
    ASSERT_EQ(lines, linesOf(n)) << n;
  }
  EXPECT_EQ(reader.Found(), kEntries);
  reader.Discard();

  // Cut in the middle of an entry: those before it are found, it and the
  // rest are not.
  const fs::path file = reader.Path();
  const auto size = fs::file_size(file);
  fs::resize_file(file, size / 2);
  app::HeaderCache cut(folder.Path(), "host", "110", "bob");
  ASSERT_TRUE(cut.Open());
  int found = 0;
  for (int n = 0; n < kEntries; ++n)
    found += cut.Find("id" + std::to_string(n), 1000 + n, lines) ? 1 : 0;
  EXPECT_GT(found, kEntries / 3);
  EXPECT_LT(found, kEntries / 2 + 50);
  for (int n = found; n < kEntries; ++n)
    EXPECT_FALSE(cut.Find("id" + std::to_string(n), 1000 + n, lines)) << n;
  cut.Discard();
}

}  // namespace
}  // namespace kelvrin::test
