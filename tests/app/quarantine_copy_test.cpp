// The deletion with the quarantine on: every deleted message is kept byte
// for byte before its DELE, a message whose copy fails stays on the server
// while the rest go on, a dropped retrieval leaves neither a DELE nor a half
// file, and the fault sweep of the deletion holds on the quarantine path.

#include "app/quarantine_copy.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <map>
#include <ostream>
#include <set>

#include "app/app_fixture.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "support/temp_dir.h"

namespace kelvrin::test {
namespace {

namespace fs = std::filesystem;

class FakeWallClock final : public quarantine::Clock {
 public:
  std::int64_t Now() override { return now; }
  std::int64_t now = 1750000000;
};

// The message as the server holds it: what RETR carries, unstuffed.
std::string bytesOf(const MailboxMessage& m) {
  std::string text;
  for (const auto& h : m.headers)
    text += h + "\r\n";
  text += "\r\n";
  for (const auto& b : m.body)
    text += b + "\r\n";
  return text;
}

// Lines that a retrieval must give back untouched: dots the server stuffs,
// a lone dot that is not the end, 8-bit bytes, a bare CR and a long line.
std::vector<std::string> awkwardBody(const std::string& id) {
  return {"Hello " + id,
          ".",
          "..",
          ".. two dots",
          "",
          "\t. tab and dot",
          "8-bit \xe4\xf6\xfc\xdf \xff",
          "a bare CR\r inside",
          std::string(3000, 'x'),
          "."};
}

std::vector<std::string> filesIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(folder, ec))
    names.push_back(item.path().filename().string());
  return names;
}

class QuarantineDeletion : public AppFixture {
 protected:
  QuarantineDeletion() : AppFixture(/*useMailbox=*/true) {}

  void SetUp() override {
    AppFixture::SetUp();
    install();
  }

  void install(bool askForLarge = false) {
    store = std::make_unique<quarantine::QuarantineStore>(folder(), wallClock);
    store->Open();
    auto part = std::make_unique<app::QuarantineCopy>(*store, askForLarge);
    copy = part.get();
    kv->setDeletionCopy(std::move(part));
  }

  // A fresh app on the given mailbox (the fault sweep runs many).
  void reset(std::vector<MailboxMessage> box, bool withUidl, bool askForLarge = false) {
    kv.reset();
    mailbox = MailboxPop3(clock);
    mailbox.mailbox = std::move(box);
    mailbox.withUidl = withUidl;
    pump.calls = 0;
    pump.onCall = nullptr;
    makeApp();
    fs::remove_all(folder());
    install(askForLarge);
  }

  void checkAndDelete() {
    check();
    kv->btDeleteClick(app::kTagSpamDelete);
    // A later check quits any session still held, making its DELEs final.
    check();
  }

  fs::path folder() const { return fs::path(data.Path()) / "kelvrin" / "quarantine"; }

  // What another program finds in the quarantine now.
  std::vector<quarantine::QuarantineEntry> onDisk() {
    quarantine::QuarantineStore other(folder(), wallClock);
    other.Open();
    return other.Entries();
  }

  // Every copy holds exactly one message of original, by its subject, and
  // the index and the files agree; returns the ids of the kept messages.
  std::set<std::string> expectExactCopies(const std::vector<MailboxMessage>& original,
                                          const std::string& context) {
    std::map<std::string, const MailboxMessage*> bySubject;
    for (const auto& m : original)
      bySubject["message " + m.id] = &m;
    std::set<std::string> kept;
    const auto entries = onDisk();
    quarantine::QuarantineStore reader(folder(), wallClock);
    for (const auto& e : entries) {
      const auto it = bySubject.find(e.Subject);
      if (it == bySubject.end()) {
        ADD_FAILURE() << context << ": a copy of something else: " << e.Subject;
        continue;
      }
      const MailboxMessage& m = *it->second;
      EXPECT_TRUE(m.spam) << context << ": valid " << m.id << " was copied";
      EXPECT_TRUE(kept.insert(m.id).second) << context << ": two copies of " << m.id;
      EXPECT_EQ(reader.ReadMessage(e), bytesOf(m)) << context << ": copy of " << m.id;
      EXPECT_EQ(e.Size, static_cast<std::int64_t>(bytesOf(m).size())) << context;
      if (!e.UIDL.empty()) {
        EXPECT_EQ(e.UIDL, m.id) << context;
      }
    }
    EXPECT_TRUE(filesIn(folder() / "tmp").empty()) << context << ": a half copy was left";
    EXPECT_EQ(filesIn(folder() / "new").size(), entries.size())
        << context << ": files and index disagree";
    return kept;
  }

  // The messages of original no longer on the server.
  std::set<std::string> goneFromServer(const std::vector<MailboxMessage>& original) const {
    std::set<std::string> gone;
    const auto left = mailbox.Ids();
    for (const auto& m : original) {
      if (!left.count(m.id)) gone.insert(m.id);
    }
    return gone;
  }

  TempDir data{"kelvrin-data-"};
  FakeWallClock wallClock;
  std::unique_ptr<quarantine::QuarantineStore> store;
  app::QuarantineCopy* copy = nullptr;
};

// ---------------------------------------------------------------------------
// Every deleted message, exactly

struct ExactCase {
  const char* name;
  bool withUidl;
  int replyPieces;  // each reply arrives in this many pieces
};
void PrintTo(const ExactCase& c, std::ostream* os) {
  *os << c.name;
}

class ExactCopies : public QuarantineDeletion, public ::testing::WithParamInterface<ExactCase> {};

TEST_P(ExactCopies, EveryDeletedMessageIsKeptByteForByteBeforeItsDele) {
  std::vector<MailboxMessage> box = MixedMailbox(9);
  for (auto& m : box) {
    if (m.spam) m.body = awkwardBody(m.id);
  }
  reset(box, GetParam().withUidl);
  mailbox.replyPieces = GetParam().replyPieces;
  mailbox.slowReplies = GetParam().replyPieces > 1;
  std::vector<std::string> deletionCommands;
  bool deleting = false;
  mailbox.onCommand = [&](const std::string& line) {
    if (deleting) deletionCommands.push_back(line);
  };
  check();
  deleting = true;
  kv->btDeleteClick(app::kTagSpamDelete);
  deleting = false;
  check();

  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4", "v5", "v7", "v8"}));
  EXPECT_EQ(expectExactCopies(box, GetParam().name), (std::set<std::string>{"s3", "s6", "s9"}));
  ASSERT_EQ(copy->Kept().size(), 3u);
  EXPECT_TRUE(copy->NotDeleted().empty());

  // The copy comes from the very position the DELE then names.
  std::vector<std::string> fetchThenDelete;
  for (std::size_t i = 0; i < deletionCommands.size(); ++i) {
    if (deletionCommands[i].rfind("DELE ", 0) != 0) continue;
    ASSERT_GE(i, 1u);
    EXPECT_EQ(deletionCommands[i - 1], "RETR " + deletionCommands[i].substr(5));
    fetchThenDelete.push_back(deletionCommands[i]);
  }
  EXPECT_EQ(fetchThenDelete.size(), 3u);

  for (const auto& e : onDisk()) {
    EXPECT_EQ(e.Host, "pop.mail.example.com");
    EXPECT_EQ(e.Port, 110);
    EXPECT_EQ(e.User, "bob");
    EXPECT_GT(e.Level, 7);
    EXPECT_EQ(e.DeletedAt, wallClock.now);
    EXPECT_NE(e.From.find("@spam.example"), std::string::npos) << e.From;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, ExactCopies,
                         ::testing::Values(ExactCase{"WithIds", true, 1},
                                           ExactCase{"WithoutIds", false, 1},
                                           ExactCase{"RepliesInPieces", true, 7},
                                           ExactCase{"RepliesInManySmallPieces", false, 61}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(QuarantineDeletion, QuarantineOffFetchesNothingAndKeepsNothing) {
  reset(MixedMailbox(6), true);
  kv->KVmain->setChecked("KeepDeleted1", false);
  std::vector<std::string> retrs;
  mailbox.onCommand = [&](const std::string& line) {
    if (line.rfind("RETR", 0) == 0) retrs.push_back(line);
  };
  checkAndDelete();
  EXPECT_EQ(mailbox.Ids(), (std::set<std::string>{"v1", "v2", "v4", "v5"}));
  EXPECT_TRUE(retrs.empty());
  EXPECT_TRUE(onDisk().empty());
}

// ---------------------------------------------------------------------------
// The store fails for the k-th message

enum class StoreFault { CannotCreate, DiskFull, CannotMove, FolderGone };

struct StoreFaultCase {
  const char* name;
  StoreFault fault;
  int k;  // the k-th spam message in server order
  const char* reason;
};
void PrintTo(const StoreFaultCase& c, std::ostream* os) {
  *os << c.name;
}

// Runs hooks around each copy of the real quarantine copy.
class AroundCopy final : public app::DeletionCopy {
 public:
  AroundCopy(std::unique_ptr<app::QuarantineCopy> inner, std::function<void(int, bool)> hook)
      : inner_(std::move(inner)), hook_(std::move(hook)) {}
  bool CopyBeforeDelete(app::TKVmain& kv, std::uint16_t position,
                        const filter::MessageNode& node) override {
    ++calls_;
    hook_(calls_, true);
    const bool result = inner_->CopyBeforeDelete(kv, position, node);
    hook_(calls_, false);
    return result;
  }
  app::QuarantineCopy& inner() { return *inner_; }

 private:
  std::unique_ptr<app::QuarantineCopy> inner_;
  std::function<void(int, bool)> hook_;
  int calls_ = 0;
};

class StoreFailsForOne : public QuarantineDeletion,
                         public ::testing::WithParamInterface<StoreFaultCase> {
 protected:
  void TearDown() override {
    if (limited_) {
      ::setrlimit(RLIMIT_FSIZE, &saved_);
      std::signal(SIGXFSZ, SIG_DFL);
    }
    QuarantineDeletion::TearDown();
  }
  // Writes past this size fail as on a full disk (EFBIG, even for root).
  void limitFileSize(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    limited_ = true;
  }
  // A folder of the quarantine replaced by a file: nothing can go there and
  // nothing be read from it, whoever runs the test.
  void breakFolder(const char* sub) {
    fs::rename(folder() / sub, folder() / (std::string(sub) + ".away"));
    WriteTextFile((folder() / sub).string(), "");
  }
  void mendFolder(const char* sub) {
    fs::remove(folder() / sub);
    fs::rename(folder() / (std::string(sub) + ".away"), folder() / sub);
  }

  rlimit saved_{};
  bool limited_ = false;
};

TEST_P(StoreFailsForOne, ThatMessageStaysOnTheServerAndTheRestGoOn) {
  const StoreFaultCase& c = GetParam();
  std::vector<MailboxMessage> box = MixedMailbox(12);  // spam: s3 s6 s9 s12
  const std::string victim = "s" + std::to_string(3 * c.k);
  for (auto& m : box) {
    // Only the victim is too large for the file size limit.
    if (m.id == victim && c.fault == StoreFault::DiskFull) {
      m.body.push_back(std::string(200000, 'z'));
    }
  }
  reset(box, true);
  auto inner = std::make_unique<app::QuarantineCopy>(*store, false);
  copy = inner.get();
  fs::path blocker;
  kv->setDeletionCopy(std::make_unique<AroundCopy>(std::move(inner), [&](int n, bool before) {
    if (n != c.k) return;
    if (c.fault == StoreFault::CannotCreate) (before ? breakFolder("tmp") : mendFolder("tmp"));
    if (c.fault == StoreFault::FolderGone) (before ? breakFolder("new") : mendFolder("new"));
    if (!before && !blocker.empty()) fs::remove(blocker);
  }));
  if (c.fault == StoreFault::DiskFull) limitFileSize(100000);
  int retrs = 0;
  mailbox.onCommand = [&](const std::string& line) {
    if (line.rfind("RETR", 0) != 0 || ++retrs != c.k || c.fault != StoreFault::CannotMove) return;
    // The copy being written is in tmp/ now; a folder in its place in new/
    // makes the move fail.
    const auto temp = filesIn(folder() / "tmp");
    ASSERT_EQ(temp.size(), 1u);
    blocker = folder() / "new" / temp[0];
    fs::create_directory(blocker);
  };
  check();
  retrs = 0;
  kv->btDeleteClick(app::kTagSpamDelete);
  mailbox.onCommand = nullptr;
  check();

  std::set<std::string> spam = {"s3", "s6", "s9", "s12"};
  spam.erase(victim);
  EXPECT_EQ(goneFromServer(box), spam);
  for (const auto& d : mailbox.Deles())
    EXPECT_NE(d.id, victim) << "DELE " << d.position << " without a copy";
  EXPECT_EQ(expectExactCopies(box, c.name), spam);
  for (const auto& e : onDisk()) {
    // Kept with its entry, not merely adopted again as a stray file.
    EXPECT_FALSE(e.UIDL.empty()) << c.name << ": " << e.Subject << " lost its entry";
    EXPECT_GT(e.Level, 7) << c.name;
  }
  ASSERT_EQ(copy->NotDeleted().size(), 1u);
  const std::string& why = copy->NotDeleted()[0];
  EXPECT_EQ(why.rfind("Message #" + std::to_string(3 * c.k) + " not deleted: ", 0), 0u) << why;
  EXPECT_NE(why.find(c.reason), std::string::npos) << why;
  EXPECT_FALSE(kv->Delete().LastCompleted()) << "a message was left: not a complete deletion";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StoreFailsForOne,
    ::testing::Values(
        StoreFaultCase{"CannotCreateFirst", StoreFault::CannotCreate, 1, "Cannot create"},
        StoreFaultCase{"CannotCreateThird", StoreFault::CannotCreate, 3, "Cannot create"},
        StoreFaultCase{"DiskFullSecond", StoreFault::DiskFull, 2, "File too large"},
        StoreFaultCase{"DiskFullLast", StoreFault::DiskFull, 4, "File too large"},
        StoreFaultCase{"CannotMoveFirst", StoreFault::CannotMove, 1, "Cannot move"},
        StoreFaultCase{"CannotMoveLast", StoreFault::CannotMove, 4, "Cannot move"},
        StoreFaultCase{"FolderGoneSecond", StoreFault::FolderGone, 2, "Cannot move"},
        StoreFaultCase{"FolderGoneLast", StoreFault::FolderGone, 4, "Cannot move"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The retrieval fails: exact dialogues

class QuarantineDialogue : public AppFixture {
 protected:
  void SetUp() override {
    AppFixture::SetUp();
    store = std::make_unique<quarantine::QuarantineStore>(
        fs::path(data.Path()) / "kelvrin" / "quarantine", wallClock);
    auto part = std::make_unique<app::QuarantineCopy>(*store, false);
    copy = part.get();
    kv->setDeletionCopy(std::move(part));
  }
  fs::path folder() const { return fs::path(data.Path()) / "kelvrin" / "quarantine"; }
  bool nothingStored() const {
    return filesIn(folder() / "tmp").empty() && filesIn(folder() / "new").empty() &&
           store->Entries().empty();
  }

  TempDir data{"kelvrin-data-"};
  FakeWallClock wallClock;
  std::unique_ptr<quarantine::QuarantineStore> store;
  app::QuarantineCopy* copy = nullptr;
};

std::vector<std::string> deles(const std::vector<std::string>& commands) {
  std::vector<std::string> result;
  for (const auto& c : commands) {
    if (c.rfind("DELE", 0) == 0) result.push_back(c);
  }
  return result;
}

struct DropCase {
  const char* name;
  std::vector<std::string> sentBeforeTheDrop;  // after the RETR's "+OK"
};
void PrintTo(const DropCase& c, std::ostream* os) {
  *os << c.name;
}

class DropInRetr : public QuarantineDialogue, public ::testing::WithParamInterface<DropCase> {};

TEST_P(DropInRetr, NoDeleAndNoHalfFile) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  script.AddSession(CheckSession({s1, s2}, true));
  std::vector<std::string> deletion = Join({LoginSteps(),
                                            StatSteps({s1, s2}, true),
                                            UidlListSteps({s1, s2}),
                                            {"C: LIST 1", "S: +OK 1 501", "C: RETR 1", "S: +OK"}});
  for (const auto& line : GetParam().sentBeforeTheDrop)
    deletion.push_back("S: " + line);
  deletion.push_back("X:");
  script.AddSession(deletion);
  check();
  kv->btDeleteClick(app::kTagSpamDelete);

  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(deles(script.Log()).empty());
  EXPECT_TRUE(nothingStored());
  EXPECT_TRUE(copy->Kept().empty());
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 2u) << "the rows stay: nothing was deleted";
  EXPECT_FALSE(kv->State.CheckInProgress);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DropInRetr,
    ::testing::Values(DropCase{"RightAfterTheStatus", {}},
                      DropCase{"InTheHeaders",
                               {"From: Offers <deal1@spam.example>", "To: someone@elsewhere"}},
                      // Everything but the terminating line: still not a whole message.
                      DropCase{"BeforeTheTerminator",
                               {"From: Offers <deal1@spam.example>", "Subject: x", "", "body",
                                "."
                                ".stuffed"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QuarantineDialogue, RefusedRetrKeepsThatMessageAndTheNextIsDeleted) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  script.AddSession(CheckSession({s1, s2}, true));
  script.AddSession(
      Join({LoginSteps(),
            StatSteps({s1, s2}, true),
            UidlListSteps({s1, s2}),
            {"C: LIST 1", "S: +OK 1 501", "C: RETR 1", "S: -ERR message locked", "C: LIST 2",
             "S: +OK 2 30", "C: RETR 2", "S: +OK", "S: Subject: two", "S: ", "S: ..body", "S: .",
             "C: DELE 2", "S: +OK", "C: QUIT", "S: +OK"}}));
  script.AddSession(CheckSession({s1}, true));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);

  EXPECT_TRUE(script.Finished());
  ASSERT_EQ(copy->NotDeleted().size(), 1u);
  EXPECT_EQ(copy->NotDeleted()[0],
            "Message #1 not deleted: the server did not send it (message locked)");
  ASSERT_EQ(store->Entries().size(), 1u);
  EXPECT_EQ(store->ReadMessage(store->Entries()[0]), "Subject: two\r\n\r\n.body\r\n");
  EXPECT_EQ(store->Entries()[0].UIDL, "s2");
  EXPECT_EQ(kv->Delete().Deleted(), (std::vector<std::int32_t>{1}));
}

TEST_F(QuarantineDialogue, MessageGoneFromTheServerIsNeitherFetchedNorDeleted) {
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  const auto v3 = ValidMessage(3, "v3");
  script.AddSession(CheckSession({s1, s2, v3}, true));
  // Another program took s1 away: its id is not in the list, and the
  // position after the last message is refused.
  script.AddSession(Join({LoginSteps(),
                          StatSteps({s2, v3}, true),
                          UidlListSteps({s2, v3}),
                          {"C: LIST 3", "S: -ERR no such message", "C: QUIT", "S: +OK"}}));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);
  EXPECT_TRUE(script.Finished());
  EXPECT_TRUE(deles(script.Log()).empty());
  EXPECT_TRUE(nothingStored());
  EXPECT_EQ(kv->VTree1.RootNodeCount(), 3u) << "the rows stay";
  EXPECT_TRUE(kv->Delete().Deleted().empty());
  EXPECT_FALSE(kv->State.CheckInProgress);
}

TEST_F(QuarantineDialogue, MessageThatGrewPastTheCapIsReadToItsEndAndKeptOnTheServer) {
  // The check listed a small message; by the deletion the server gives
  // more than the quarantine may hold. The rest of the reply is still read,
  // so the session goes on with the next message.
  kv->KVmain->setValue("KeepDeletedMB", 1);
  const auto s1 = SpamMessage(1, "s1");
  const auto s2 = SpamMessage(2, "s2");
  script.AddSession(CheckSession({s1, s2}, true));
  std::vector<std::string> deletion =
      Join({LoginSteps(),
            StatSteps({s1, s2}, true),
            UidlListSteps({s1, s2}),
            {"C: LIST 1", "S: +OK 1 1100000", "C: RETR 1", "S: +OK", "S: Subject: big", "S: "}});
  for (int i = 0; i < 1100; ++i)
    deletion.push_back("S: " + std::string(998, 'b'));
  for (const char* step :
       {"S: .", "C: LIST 2", "S: +OK 2 22", "C: RETR 2", "S: +OK", "S: Subject: small",
        "S: ", "S: .", "C: DELE 2", "S: +OK", "C: QUIT", "S: +OK"}) {
    deletion.push_back(step);
  }
  script.AddSession(deletion);
  script.AddSession(CheckSession({s1}, true));
  check();
  kv->btDeleteClick(app::kTagSpamDelete);

  EXPECT_TRUE(script.Finished());
  ASSERT_EQ(copy->NotDeleted().size(), 1u);
  EXPECT_EQ(copy->NotDeleted()[0],
            "Message #1 not deleted: too large to keep a copy (more than 1.0 MB)");
  ASSERT_EQ(store->Entries().size(), 1u);
  EXPECT_EQ(store->ReadMessage(store->Entries()[0]), "Subject: small\r\n\r\n");
  EXPECT_TRUE(filesIn(folder() / "tmp").empty()) << "the abandoned copy was left";
  EXPECT_EQ(kv->Delete().Deleted(), (std::vector<std::int32_t>{1}));
}

// ---------------------------------------------------------------------------
// Larger than the quarantine may hold

struct LargeCase {
  const char* name;
  bool askForLarge;
  int answer;  // the user's answer when asked
  bool deleted;
};
void PrintTo(const LargeCase& c, std::ostream* os) {
  *os << c.name;
}

class TooLarge : public QuarantineDeletion, public ::testing::WithParamInterface<LargeCase> {};

TEST_P(TooLarge, DeletedWithoutCopyOnlyWhenTheUserSaysSo) {
  const LargeCase& c = GetParam();
  std::vector<MailboxMessage> box = MixedMailbox(6);  // spam: s3 s6
  box[2].body.assign(1200, std::string(999, 'L'));    // s3: about 1.2 MB
  reset(box, true, c.askForLarge);
  kv->KVmain->setValue("KeepDeletedMB", 1);
  if (c.askForLarge) prompter.Answer(c.answer);
  checkAndDelete();

  EXPECT_EQ(mailbox.Ids().count("s3") == 0, c.deleted);
  EXPECT_EQ(mailbox.Ids().count("s6"), 0u) << "the small one goes with its copy";
  EXPECT_EQ(expectExactCopies(box, c.name), (std::set<std::string>{"s6"}));
  EXPECT_EQ(copy->DeletedWithoutCopy(), c.deleted ? 1 : 0);
  if (c.askForLarge) {
    bool asked = false;
    for (const auto& call : prompter.Calls()) {
      asked =
          asked || call.Text.find("larger than the space for deleted mail") != std::string::npos;
    }
    EXPECT_TRUE(asked);
  }
  if (!c.deleted) {
    ASSERT_EQ(copy->NotDeleted().size(), 1u);
    EXPECT_NE(copy->NotDeleted()[0].find("too large to keep a copy"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, TooLarge,
                         ::testing::Values(LargeCase{"NoOneToAsk", false, 0, false},
                                           LargeCase{"UserSaysYes", true, ui::kIdYes, true},
                                           LargeCase{"UserSaysNo", true, ui::kIdNo, false}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Old copies go after each deletion

TEST_F(QuarantineDeletion, DeletionPrunesByTheOptionsRetentionAndCap) {
  struct Case {
    int days, megabytes, ageDays;
    std::size_t oldBytes;
    bool oldStays;
  };
  const Case cases[] = {
      {14, 200, 20, 100, false},   // past the retention
      {30, 200, 20, 100, true},    // a longer retention keeps it
      {30, 1, 2, 1048500, false},  // young, but the new copy does not fit beside it
      {30, 2, 2, 1048500, true},   // a larger cap has room for both
  };
  for (const Case& c : cases) {
    const std::string context = std::to_string(c.days) + " days, " + std::to_string(c.megabytes) +
                                " MB, " + std::to_string(c.oldBytes) + " bytes " +
                                std::to_string(c.ageDays) + " days old";
    reset(MixedMailbox(3), true);  // spam: s3
    kv->KVmain->setValue("KeepDeletedDays", c.days);
    kv->KVmain->setValue("KeepDeletedMB", c.megabytes);
    wallClock.now = 1750000000;
    {
      auto writer = store->Begin();
      writer->Append("Subject: old\r\n\r\n" + std::string(c.oldBytes, 'o'));
      quarantine::QuarantineEntry old;
      old.Subject = "old";
      writer->Commit(old);
    }
    wallClock.now += std::int64_t{c.ageDays} * 86400;
    checkAndDelete();
    std::vector<std::string> subjects;
    for (const auto& e : onDisk())
      subjects.push_back(e.Subject);
    EXPECT_EQ(subjects, c.oldStays ? (std::vector<std::string>{"old", "message s3"})
                                   : (std::vector<std::string>{"message s3"}))
        << context;
    EXPECT_EQ(mailbox.Ids().count("s3"), 0u) << context;
  }
}

// ---------------------------------------------------------------------------
// The fault sweep on the quarantine path

class QuarantineFaultSweep : public QuarantineDeletion {
 protected:
  // Whatever failed: nothing left the server without its exact copy, no
  // valid message was touched, and no half copy is left.
  void expectNothingLost(const std::vector<MailboxMessage>& box, const std::string& context) {
    const std::set<std::string> kept = expectExactCopies(box, context);
    for (const std::string& id : goneFromServer(box)) {
      EXPECT_EQ(id[0], 's') << context << ": valid " << id << " deleted";
      EXPECT_TRUE(kept.count(id)) << context << ": " << id << " deleted without a copy";
    }
    for (const auto& d : mailbox.Deles()) {
      if (!d.id.empty()) {
        EXPECT_EQ(d.id[0], 's') << context << ": DELE named " << d.id;
      }
    }
    EXPECT_FALSE(kv->State.CheckInProgress) << context;
  }
};

TEST_F(QuarantineFaultSweep, DropOrRefusalAtEveryCommand) {
  const std::vector<MailboxMessage> box = MixedMailbox(7);
  for (bool withUidl : {true, false}) {
    reset(box, withUidl);
    checkAndDelete();
    const int total = mailbox.Commands();
    ASSERT_GT(total, 20);
    expectNothingLost(box, "no fault");
    for (bool drop : {true, false}) {
      for (int k = 1; k <= total + 1; ++k) {
        reset(box, withUidl);
        (drop ? mailbox.dropAfter : mailbox.errOn) = k;
        checkAndDelete();
        expectNothingLost(box, std::string(withUidl ? "ids" : "no ids") +
                                   (drop ? ", drop at " : ", -ERR at ") + std::to_string(k));
      }
    }
  }
}

TEST_F(QuarantineFaultSweep, CancelAtEveryPumpDeletesNothingAndLeavesNoHalfCopy) {
  const std::vector<MailboxMessage> box = MixedMailbox(7);
  for (bool withUidl : {true, false}) {
    // Slow replies: the client lets events run in the middle of each one,
    // RETRs included.
    reset(box, withUidl);
    mailbox.slowReplies = true;
    check();
    int pumps = 0;
    pump.onCall = [&](int) { pumps += kv->Delete().Running() ? 1 : 0; };
    kv->btDeleteClick(app::kTagSpamDelete);
    ASSERT_GT(pumps, 6);

    for (int k = 1; k <= pumps; ++k) {
      const std::string context =
          std::string(withUidl ? "ids" : "no ids") + ", cancel at pump " + std::to_string(k);
      reset(box, withUidl);
      mailbox.slowReplies = true;
      check();
      int seen = 0;
      pump.onCall = [&](int) {
        if (kv->Delete().Running() && ++seen == k) kv->BtCancelClick();
      };
      kv->btDeleteClick(app::kTagSpamDelete);
      pump.onCall = nullptr;
      check();
      EXPECT_TRUE(goneFromServer(box).empty()) << context << ": a cancelled deletion deleted";
      expectExactCopies(box, context);
      EXPECT_FALSE(kv->State.CheckInProgress) << context;
    }
  }
}

}  // namespace
}  // namespace kelvrin::test
