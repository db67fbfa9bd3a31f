// Where a retrieval collects its reply: memory up to the limit, a private
// temporary file beyond it.

#include "protocols/spool_file.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace kelvrin::protocols {
namespace {

namespace fs = std::filesystem;

using Result = SpoolFile::WriteResult;

std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir))
    names.push_back(entry.path().filename().string());
  return names;
}

class SpoolFileTest : public ::testing::Test {
 protected:
  test::TempDir tmp;
  test::ScopedTmpDir scoped{tmp.Path()};
};

TEST_F(SpoolFileTest, UpToTheLimitTheReplyStaysInMemory) {
  SpoolFile spool("msg-1-bob@host", 16);
  EXPECT_EQ(spool.Write("0123456789"), Result::Written);
  EXPECT_EQ(spool.Write("abcdef"), Result::Written);  // exactly 16
  EXPECT_EQ(spool.Size(), 16u);
  EXPECT_EQ(spool.Path(), "");
  EXPECT_TRUE(filesIn(tmp.Path()).empty());
  EXPECT_EQ(spool.ReadAll(), "0123456789abcdef");
}

TEST_F(SpoolFileTest, TheWritePastTheLimitMovesEverythingToOnePrivateFile) {
  {
    SpoolFile spool("msg-2-bob@host", 16);
    ASSERT_EQ(spool.Write("0123456789"), Result::Written);
    ASSERT_EQ(spool.Write("abcdefg"), Result::Written);  // 17
    ASSERT_EQ(spool.Write("tail"), Result::Written);
    const std::vector<std::string> files = filesIn(tmp.Path());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(files[0], std::regex(R"(msg-2-bob@host-[0-9A-F]{8}\.\$\$\$)")))
        << files[0];
    EXPECT_EQ(spool.Path(), tmp.Path() + "/" + files[0]);
    struct stat info {};
    ASSERT_EQ(::stat(spool.Path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(fs::file_size(spool.Path()), 21u);
    EXPECT_EQ(spool.Size(), 21u);
    EXPECT_EQ(spool.ReadAll(), "0123456789abcdefgtail");
  }
  EXPECT_TRUE(filesIn(tmp.Path()).empty());
}

TEST_F(SpoolFileTest, RemoveDeletesTheFileAtOnce) {
  SpoolFile spool("msg-3-u@h", 4);
  ASSERT_EQ(spool.Write("too long"), Result::Written);
  ASSERT_EQ(filesIn(tmp.Path()).size(), 1u);
  spool.Remove();
  EXPECT_TRUE(filesIn(tmp.Path()).empty());
  EXPECT_EQ(spool.Path(), "");
}

TEST(SpoolFile, WithoutATemporaryDirectoryOnlyALargeReplyFails) {
  test::ScopedTmpDir scoped("/nonexistent/kelvrin");
  SpoolFile spool("msg-1-u@h", 8);
  EXPECT_EQ(spool.Write("12345678"), Result::Written);
  EXPECT_EQ(spool.Write("9"), Result::CannotCreate);
}

TEST_F(SpoolFileTest, AFileThatCannotTakeTheBytesIsAWriteFailureAndIsRemoved) {
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const sighandler_t handler = ::signal(SIGXFSZ, SIG_IGN);
  rlimit small = saved;
  small.rlim_cur = 100;  // the file system is full after 100 bytes
  ::setrlimit(RLIMIT_FSIZE, &small);
  Result result;
  {
    SpoolFile spool("msg-4-u@h", 64);
    result = spool.Write(std::string(200, 'x'));
  }
  ::setrlimit(RLIMIT_FSIZE, &saved);
  ::signal(SIGXFSZ, handler);
  EXPECT_EQ(result, Result::CannotWrite);
  EXPECT_TRUE(filesIn(tmp.Path()).empty());
}

}  // namespace
}  // namespace kelvrin::protocols
