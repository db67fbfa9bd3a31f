// The quarantine store: retention and cap on a fake clock, private modes,
// the index lock between two stores, the mending after a crash, the index
// format and the export.

#include "quarantine/quarantine_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

#include "quarantine/restore.h"

namespace kelvrin::quarantine {
namespace {

namespace fs = std::filesystem;
using test::ReadTextFile;
using test::TempDir;
using test::WriteTextFile;

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kStart = 1750000000;

class FakeWallClock final : public Clock {
 public:
  std::int64_t Now() override { return now; }
  std::int64_t now = kStart;
};

unsigned modeOf(const fs::path& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return 0;
  return st.st_mode & 07777;
}

std::vector<std::string> filesIn(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& item : fs::directory_iterator(folder, ec))
    names.push_back(item.path().filename().string());
  return names;
}

std::string message(int n, std::size_t bodyBytes = 100) {
  return "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
         "@example.org>\r\nSubject: number " + std::to_string(n) + "\r\n\r\n" +
         std::string(bodyBytes, static_cast<char>('a' + n % 26)) + "\r\n";
}

QuarantineEntry keep(QuarantineStore& store, const std::string& bytes, const std::string& uidl) {
  auto writer = store.Begin();
  // Written in two pieces, as a retrieval hands them over.
  writer->Append(std::string_view(bytes).substr(0, bytes.size() / 2));
  writer->Append(std::string_view(bytes).substr(bytes.size() / 2));
  QuarantineEntry e;
  e.Host = "pop.example.com";
  e.Port = 110;
  e.User = "bob";
  e.UIDL = uidl;
  e.From = "s@example.org";
  e.Subject = "subject of " + uidl;
  e.Level = 9;
  return writer->Commit(e);
}

std::vector<std::string> uidlsOf(const std::vector<QuarantineEntry>& entries) {
  std::vector<std::string> ids;
  for (const auto& e : entries)
    ids.push_back(e.UIDL);
  return ids;
}

class QuarantineStoreTest : public ::testing::Test {
 protected:
  fs::path folder() const { return fs::path(dir.Path()) / "data" / "kelvrin" / "quarantine"; }
  TempDir dir;
  FakeWallClock clock;
};

// ---------------------------------------------------------------------------
// Retention and cap

struct PruneCase {
  const char* name;
  std::vector<int> ageDays;  // of each copy when pruned, oldest first
  std::size_t bodyBytes;     // of each copy
  int retentionDays;
  int capCopies;  // the cap in whole copies; 0: no cap to speak of, -1: one byte
  std::vector<std::string> kept;
};
void PrintTo(const PruneCase& c, std::ostream* os) {
  *os << c.name;
}

class PruneTest : public QuarantineStoreTest, public ::testing::WithParamInterface<PruneCase> {};

TEST_P(PruneTest, OldestGoFirst) {
  const PruneCase& c = GetParam();
  QuarantineStore store(folder(), clock);
  store.Open();
  const int newest = c.ageDays.empty() ? 0 : c.ageDays.back();
  std::int64_t copySize = 0;
  for (std::size_t i = 0; i < c.ageDays.size(); ++i) {
    clock.now = kStart + std::int64_t{newest - c.ageDays[i]} * kDay;
    copySize = keep(store, message(0, c.bodyBytes), "u" + std::to_string(i)).Size;
  }
  clock.now = kStart + std::int64_t{newest} * kDay;
  QuarantineSettings settings;
  settings.RetentionDays = c.retentionDays;
  settings.SizeCap = c.capCopies > 0    ? copySize * c.capCopies
                     : c.capCopies == 0 ? std::int64_t{1} << 40
                                        : 1;
  const int removed = store.Prune(settings);

  EXPECT_EQ(uidlsOf(store.Entries()), c.kept);
  EXPECT_EQ(removed, static_cast<int>(c.ageDays.size() - c.kept.size()));
  EXPECT_EQ(filesIn(folder() / "new").size(), c.kept.size()) << "the files went with them";
  // A second store (the other program) sees the same.
  QuarantineStore other(folder(), clock);
  other.Open();
  EXPECT_EQ(uidlsOf(other.Entries()), c.kept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PruneTest,
    ::testing::Values(
        PruneCase{"NothingOld", {3, 2, 1, 0}, 100, 14, 0, {"u0", "u1", "u2", "u3"}},
        PruneCase{"PastRetention", {20, 15, 14, 13, 0}, 100, 14, 0, {"u2", "u3", "u4"}},
        PruneCase{"RetentionOfOneDay", {2, 1, 0}, 100, 1, 0, {"u1", "u2"}},
        PruneCase{"CapKeepsTheNewest", {5, 4, 3, 2, 1}, 1000, 14, 2, {"u3", "u4"}},
        PruneCase{"CapExactlyReached", {3, 2, 1}, 1000, 14, 3, {"u0", "u1", "u2"}},
        PruneCase{"RetentionThenCap", {30, 20, 3, 2, 1, 0}, 500, 14, 3, {"u3", "u4", "u5"}},
        PruneCase{"CapSmallerThanEveryCopy", {1, 0}, 1000, 14, -1, {}},
        PruneCase{"Empty", {}, 100, 14, 1, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(QuarantineStoreTest, CopiesOfTheSameSecondGoInTheOrderTheyWereKept) {
  // A deletion keeps many copies within one second; the cap must still take
  // the first of them first.
  QuarantineStore store(folder(), clock);
  store.Open();
  std::vector<std::string> order;
  std::int64_t size = 0;
  for (int i = 0; i < 8; ++i) {
    size = keep(store, message(1, 1000), "u" + std::to_string(i)).Size;
    order.push_back("u" + std::to_string(i));
  }
  QuarantineSettings settings;
  settings.SizeCap = size * 3;
  store.Prune(settings);
  EXPECT_EQ(uidlsOf(store.Entries()), (std::vector<std::string>{"u5", "u6", "u7"}));
  QuarantineStore other(folder(), clock);
  other.Open();
  EXPECT_EQ(uidlsOf(other.Entries()), (std::vector<std::string>{"u5", "u6", "u7"}));
}

// ---------------------------------------------------------------------------
// Files and folders

TEST_F(QuarantineStoreTest, FoldersArePrivateAndFilesReadableOnlyByTheUser) {
  fs::create_directories(folder() / "new");
  fs::permissions(folder(), fs::perms::all);  // an older folder, open to all
  fs::permissions(folder() / "new", fs::perms::all);
  const mode_t old = ::umask(0);
  QuarantineStore store(folder(), clock);
  store.Open();
  const QuarantineEntry e = keep(store, message(1), "u1");
  ::umask(old);
  for (const fs::path& f :
       {folder().parent_path(), folder(), folder() / "tmp", folder() / "new", folder() / "cur"}) {
    EXPECT_EQ(modeOf(f), 0700u) << f;
  }
  EXPECT_EQ(modeOf(store.MessagePath(e)), 0600u);
  EXPECT_EQ(modeOf(folder() / "index"), 0600u);
  EXPECT_EQ(modeOf(folder() / "index.lock"), 0600u);
}

TEST_F(QuarantineStoreTest, CopyHoldsExactlyTheBytesAppended) {
  std::string bytes = message(1);
  static constexpr char kAwkward[] = "8-bit \xe4\xf6\xfc, a NUL \0 and a bare CR\r here\n";
  bytes.append(kAwkward, sizeof kAwkward - 1);
  bytes += ".\r\n..\r\n";
  QuarantineStore store(folder(), clock);
  const QuarantineEntry e = keep(store, bytes, "u1");
  EXPECT_EQ(e.Size, static_cast<std::int64_t>(bytes.size()));
  EXPECT_EQ(store.ReadMessage(e), bytes);
  EXPECT_EQ(ReadTextFile(store.MessagePath(e).string()), bytes);
  EXPECT_TRUE(filesIn(folder() / "tmp").empty());
}

TEST_F(QuarantineStoreTest, WriterDroppedWithoutCommitLeavesNothing) {
  QuarantineStore store(folder(), clock);
  {
    auto writer = store.Begin();
    writer->Append("half a message");
    EXPECT_EQ(filesIn(folder() / "tmp").size(), 1u);
  }
  EXPECT_TRUE(filesIn(folder() / "tmp").empty());
  EXPECT_TRUE(filesIn(folder() / "new").empty());
  EXPECT_TRUE(store.Entries().empty());
}

TEST_F(QuarantineStoreTest, CommitThatCannotMoveTheCopyRaisesAndLeavesNothing) {
  QuarantineStore store(folder(), clock);
  store.Open();
  auto writer = store.Begin();
  writer->Append(message(1));
  // new/ is no folder any more (a damaged quarantine): even root cannot
  // move the copy there.
  fs::remove_all(folder() / "new");
  WriteTextFile((folder() / "new").string(), "");
  EXPECT_THROW(writer->Commit({}), QuarantineError);
  EXPECT_THROW(writer->Append("more"), QuarantineError) << "a failed writer takes nothing more";
  EXPECT_TRUE(filesIn(folder() / "tmp").empty());
  EXPECT_TRUE(store.Entries().empty());
}

// ---------------------------------------------------------------------------
// Two programs at once

TEST_F(QuarantineStoreTest, TwoStoresKeepingAtOnceLoseNoEntry) {
  constexpr int kPerStore = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([this, t] {
      FakeWallClock own;
      QuarantineStore store(folder(), own);
      for (int i = 0; i < kPerStore; ++i)
        keep(store, message(i), "t" + std::to_string(t) + "-" + std::to_string(i));
    });
  }
  for (auto& thread : threads)
    thread.join();
  QuarantineStore store(folder(), clock);
  store.Open();
  std::set<std::string> uidls;
  std::set<std::string> ids;
  for (const auto& e : store.Entries()) {
    uidls.insert(e.UIDL);
    ids.insert(e.Id);
    EXPECT_EQ(e.From, "s@example.org") << "an entry of its own, not one adopted after a crash";
  }
  EXPECT_EQ(uidls.size(), 3u * kPerStore);
  EXPECT_EQ(ids.size(), 3u * kPerStore);
  EXPECT_EQ(store.Entries().size(), 3u * kPerStore);
}

TEST_F(QuarantineStoreTest, CommitWaitsForTheLockHeldByAnotherProgram) {
  QuarantineStore store(folder(), clock);
  store.Open();
  auto writer = store.Begin();
  writer->Append(message(1));

  const int lock = ::open((folder() / "index.lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(lock, 0);
  ASSERT_EQ(::flock(lock, LOCK_EX), 0);
  std::atomic<bool> committed{false};
  std::thread committer([&] {
    writer->Commit({});
    committed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(committed) << "the index changed while another program held its lock";
  EXPECT_TRUE(filesIn(folder() / "new").empty());
  ::flock(lock, LOCK_UN);
  ::close(lock);
  committer.join();
  EXPECT_TRUE(committed);
  EXPECT_EQ(store.Entries().size(), 1u);
}

// ---------------------------------------------------------------------------
// Mending what a crash left

TEST_F(QuarantineStoreTest, OpenAdoptsCopiesWithoutEntryAndDropsEntriesWithoutCopy) {
  {
    QuarantineStore store(folder(), clock);
    keep(store, message(1), "gone");
    keep(store, message(2), "kept");
  }
  QuarantineStore first(folder(), clock);
  first.Open();
  ASSERT_EQ(first.Entries().size(), 2u);
  fs::remove(first.MessagePath(first.Entries()[0]));
  // A crash after the copy was moved into place, before its entry.
  const std::string orphan =
      "Subject: =?utf-8?q?folded?=\r\n second part\r\nFROM: Lost <lost@example.org>\r\n\r\n"
      "From: not a header\r\n";
  WriteTextFile((folder() / "new" / "1749999999.0123456789ab.kelvrin").string(), orphan);
  // A mail reader looked at the kept copy and moved it to cur/.
  const QuarantineEntry kept = first.Entries()[1];
  fs::rename(first.MessagePath(kept), folder() / "cur" / (kept.FileName + ":2,S"));

  QuarantineStore store(folder(), clock);
  store.Open();
  ASSERT_EQ(store.Entries().size(), 2u);
  std::map<std::string, QuarantineEntry> byId;
  for (const auto& e : store.Entries())
    byId[e.Id] = e;
  ASSERT_TRUE(byId.count(kept.Id));
  EXPECT_EQ(store.ReadMessage(byId[kept.Id]), message(2));
  ASSERT_TRUE(byId.count("0123456789ab")) << "the id in the file name is kept";
  const QuarantineEntry& adopted = byId["0123456789ab"];
  EXPECT_EQ(adopted.From, "Lost <lost@example.org>");
  EXPECT_EQ(adopted.Subject, "=?utf-8?q?folded?= second part");
  EXPECT_EQ(adopted.Level, -1);
  EXPECT_EQ(adopted.Size, static_cast<std::int64_t>(orphan.size()));
  EXPECT_EQ(store.ReadMessage(adopted), orphan);
  // The mended index is what the next program reads.
  EXPECT_EQ(ParseIndex(ReadTextFile((folder() / "index").string())).size(), 2u);
}

TEST_F(QuarantineStoreTest, OpenThatCannotListTheCopiesChangesNothing) {
  {
    QuarantineStore store(folder(), clock);
    keep(store, message(1), "a");
    keep(store, message(2), "b");
  }
  const std::string index = ReadTextFile((folder() / "index").string());
  fs::rename(folder() / "new", folder() / "new.away");
  WriteTextFile((folder() / "new").string(), "");
  QuarantineStore store(folder(), clock);
  EXPECT_THROW(store.Open(), QuarantineError);
  EXPECT_EQ(ReadTextFile((folder() / "index").string()), index)
      << "entries dropped for copies that could not be listed";
}

TEST_F(QuarantineStoreTest, EachStoreSeesWhatTheOtherKept) {
  QuarantineStore a(folder(), clock);
  QuarantineStore b(folder(), clock);
  keep(a, message(1), "a1");
  keep(b, message(2), "b1");
  keep(a, message(3), "a2");
  EXPECT_EQ(uidlsOf(a.Entries()), (std::vector<std::string>{"a1", "b1", "a2"}));
  QuarantineSettings settings;
  b.Prune(settings);
  EXPECT_EQ(uidlsOf(b.Entries()), (std::vector<std::string>{"a1", "b1", "a2"}));
  b.Remove(b.Entries()[0].Id);
  keep(a, message(4), "a3");
  EXPECT_EQ(uidlsOf(a.Entries()), (std::vector<std::string>{"b1", "a2", "a3"}));
}

TEST_F(QuarantineStoreTest, LineTornByACrashSpoilsNoLaterEntry) {
  QuarantineStore first(folder(), clock);
  keep(first, message(1), "before");
  // A crash in the middle of adding a line.
  {
    std::string index = ReadTextFile((folder() / "index").string());
    WriteTextFile((folder() / "index").string(), index + "0123456789ab\t1.0123456789ab.kel");
  }
  QuarantineStore store(folder(), clock);
  store.Open();
  keep(store, message(2), "after");
  QuarantineStore other(folder(), clock);
  other.Open();
  EXPECT_EQ(uidlsOf(other.Entries()), (std::vector<std::string>{"before", "after"}));
}

TEST_F(QuarantineStoreTest, OpenRemovesOnlyStaleHalfCopies) {
  QuarantineStore store(folder(), clock);
  store.Open();
  const fs::path stale = folder() / "tmp" / "1.aaaaaaaaaaaa.kelvrin";
  const fs::path fresh = folder() / "tmp" / "2.bbbbbbbbbbbb.kelvrin";
  WriteTextFile(stale.string(), "half");
  WriteTextFile(fresh.string(), "still being written");
  const timeval old[2] = {{::time(nullptr) - 3 * kDay, 0}, {::time(nullptr) - 3 * kDay, 0}};
  ASSERT_EQ(::utimes(stale.c_str(), old), 0);
  QuarantineStore other(folder(), clock);
  other.Open();
  EXPECT_FALSE(fs::exists(stale));
  EXPECT_TRUE(fs::exists(fresh)) << "a deletion running elsewhere is still writing it";
  EXPECT_TRUE(other.Entries().empty());
}

TEST_F(QuarantineStoreTest, RemoveTakesTheCopyAndItsEntry) {
  QuarantineStore store(folder(), clock);
  const QuarantineEntry a = keep(store, message(1), "a");
  const QuarantineEntry b = keep(store, message(2), "b");
  store.Remove(a.Id);
  EXPECT_FALSE(store.Find(a.Id));
  ASSERT_TRUE(store.Find(b.Id));
  EXPECT_FALSE(fs::exists(store.MessagePath(a)));
  EXPECT_EQ(store.TotalSize(), b.Size);
}

// ---------------------------------------------------------------------------
// The index as text

TEST(QuarantineIndex, FieldsSurviveTabsLineEndsAndBackslashes) {
  QuarantineEntry e;
  e.Id = "0123456789ab";
  e.FileName = "1.0123456789ab.kelvrin";
  e.DeletedAt = 1750000000;
  e.Host = "pop.example.com";
  e.Port = 995;
  e.User = "bob\\smith";
  e.UIDL = "id\twith tab";
  e.From = "\"A\\B\" <a@b>\r\n\tfolded";
  e.Subject = "ends in a backslash \\";
  e.Level = 10;
  e.Size = 12345;
  QuarantineEntry unknown = e;
  unknown.Id = "ba9876543210";
  unknown.Level = -1;
  unknown.Subject = "";
  const auto parsed = ParseIndex(FormatIndex({e, unknown}));
  ASSERT_EQ(parsed.size(), 2u);
  for (std::size_t i = 0; i < 2; ++i) {
    const QuarantineEntry& want = i == 0 ? e : unknown;
    EXPECT_EQ(parsed[i].Id, want.Id);
    EXPECT_EQ(parsed[i].FileName, want.FileName);
    EXPECT_EQ(parsed[i].DeletedAt, want.DeletedAt);
    EXPECT_EQ(parsed[i].Host, want.Host);
    EXPECT_EQ(parsed[i].Port, want.Port);
    EXPECT_EQ(parsed[i].User, want.User);
    EXPECT_EQ(parsed[i].UIDL, want.UIDL);
    EXPECT_EQ(parsed[i].From, want.From);
    EXPECT_EQ(parsed[i].Subject, want.Subject);
    EXPECT_EQ(parsed[i].Level, want.Level);
    EXPECT_EQ(parsed[i].Size, want.Size);
  }
}

TEST(QuarantineIndex, LinesThatAreNoEntrySkipped) {
  const std::string good = "0123456789ab\t1.x\t5\th\t110\tu\tid\t9\t10\tf\ts\n";
  const std::string text = std::string("kelvrin-quarantine 1\n") + good +
                           "0123456789ac\t1.y\t5\th\t110\tu\n"                         // torn
                           "0123456789ad\t../escape\t5\th\t110\tu\tid\t9\t10\tf\ts\n"  // a path
                           "0123456789ae\t1.z\tnot a time\th\t110\tu\tid\t9\t10\tf\ts\n";
  const auto parsed = ParseIndex(text);
  ASSERT_EQ(parsed.size(), 1u);
  EXPECT_EQ(parsed[0].Id, "0123456789ab");
}

// ---------------------------------------------------------------------------
// Where the quarantine lives

struct FolderCase {
  const char* name;
  std::map<std::string, std::string> env;
  const char* expected;  // nullptr: raises
};
void PrintTo(const FolderCase& c, std::ostream* os) {
  *os << c.name;
}

class DefaultFolderTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(DefaultFolderTest, FollowsTheDataHome) {
  const FolderCase& c = GetParam();
  const auto env = [&](const std::string& name) -> std::optional<std::string> {
    auto it = c.env.find(name);
    if (it == c.env.end()) return std::nullopt;
    return it->second;
  };
  if (!c.expected) {
    EXPECT_THROW(QuarantineStore::DefaultFolder(env), QuarantineError);
  } else {
    EXPECT_EQ(QuarantineStore::DefaultFolder(env), fs::path(c.expected));
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DefaultFolderTest,
                         ::testing::Values(FolderCase{"DataHome",
                                                      {{"XDG_DATA_HOME", "/d"}, {"HOME", "/h"}},
                                                      "/d/kelvrin/quarantine"},
                                           FolderCase{"RelativeDataHomeIgnored",
                                                      {{"XDG_DATA_HOME", "rel"}, {"HOME", "/h"}},
                                                      "/h/.local/share/kelvrin/quarantine"},
                                           FolderCase{"EmptyDataHomeIgnored",
                                                      {{"XDG_DATA_HOME", ""}, {"HOME", "/h"}},
                                                      "/h/.local/share/kelvrin/quarantine"},
                                           FolderCase{"NoHomeAtAll", {}, nullptr},
                                           FolderCase{"RelativeHome", {{"HOME", "h"}}, nullptr}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Export

TEST_F(QuarantineStoreTest, ExportWritesTheExactBytesPrivately) {
  QuarantineStore store(folder(), clock);
  const std::string bytes = message(3) + std::string("\0\xff\r\n.\r\n", 7);
  const QuarantineEntry e = keep(store, bytes, "u");
  const fs::path file = fs::path(dir.Path()) / "out.eml";
  ExportMessage(store, e, file);
  EXPECT_EQ(ReadTextFile(file.string()), bytes);
  EXPECT_EQ(modeOf(file), 0600u);
  EXPECT_EQ(filesIn(dir.Path()).size(), 2u) << "no temporary file left beside it";
}

TEST_F(QuarantineStoreTest, ExportNeverReplacesAFile) {
  QuarantineStore store(folder(), clock);
  const QuarantineEntry e = keep(store, message(1), "u");
  const fs::path file = fs::path(dir.Path()) / "taken.eml";
  WriteTextFile(file.string(), "the user's own file");
  try {
    ExportMessage(store, e, file);
    ADD_FAILURE() << "an existing file was replaced";
  } catch (const QuarantineError& error) {
    EXPECT_NE(std::string(error.what()).find("already exists"), std::string::npos) << error.what();
  }
  EXPECT_EQ(ReadTextFile(file.string()), "the user's own file");
  EXPECT_EQ(filesIn(dir.Path()).size(), 2u) << "no temporary file left beside it";
}

TEST_F(QuarantineStoreTest, ExportIntoAMissingFolderRaises) {
  QuarantineStore store(folder(), clock);
  const QuarantineEntry e = keep(store, message(1), "u");
  EXPECT_THROW(ExportMessage(store, e, fs::path(dir.Path()) / "no" / "such.eml"), QuarantineError);
}

TEST_F(QuarantineStoreTest, ExportOfACopyThatIsGoneRaises) {
  QuarantineStore store(folder(), clock);
  const QuarantineEntry e = keep(store, message(1), "u");
  fs::remove(store.MessagePath(e));
  const fs::path file = fs::path(dir.Path()) / "out.eml";
  EXPECT_THROW(ExportMessage(store, e, file), QuarantineError);
  EXPECT_FALSE(fs::exists(file));
}

}  // namespace
}  // namespace kelvrin::quarantine
