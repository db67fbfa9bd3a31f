// The spool file that carries the retrievals of a check.

#include "protocols/spool_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <regex>

#include "support/temp_dir.h"

namespace kelvrin::protocols {
namespace {

TEST(SpoolFile, EachBeginRenamesTheFileAndReadAllGivesOnlyTheNewContent) {
  test::TempDir tmp;
  test::ScopedTmpDir scoped(tmp.Path());
  SpoolFile spool;
  ASSERT_TRUE(spool.Begin("msg-1-bob@host"));
  const std::string first = spool.Path();
  ASSERT_TRUE(spool.Write("a long first message", 20));
  EXPECT_EQ(spool.ReadAll(), "a long first message");
  ASSERT_TRUE(spool.Begin("msg-2-bob@host"));
  EXPECT_FALSE(std::filesystem::exists(first));
  EXPECT_TRUE(std::regex_match(std::filesystem::path(spool.Path()).filename().string(),
                               std::regex(R"(msg-2-bob@host-[0-9A-F]{8}\.\$\$\$)")));
  ASSERT_TRUE(spool.Write("short", 5));
  EXPECT_EQ(spool.ReadAll(), "short");
  EXPECT_EQ(std::filesystem::file_size(spool.Path()), 5u);
  struct stat info {};
  ASSERT_EQ(stat(spool.Path().c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  spool.Remove();
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
}

TEST(SpoolFile, AFileThatWentAwayIsReplacedByANewOne) {
  test::TempDir tmp;
  test::ScopedTmpDir scoped(tmp.Path());
  {
    SpoolFile spool;
    ASSERT_TRUE(spool.Begin("msg-1-u@h"));
    std::filesystem::remove(spool.Path());  // a virus scanner took it
    ASSERT_TRUE(spool.Begin("msg-2-u@h"));
    ASSERT_TRUE(spool.Write("x", 1));
    EXPECT_EQ(spool.ReadAll(), "x");
    EXPECT_TRUE(std::filesystem::exists(spool.Path()));
  }
  EXPECT_TRUE(std::filesystem::is_empty(tmp.Path()));
}

TEST(SpoolFile, NoTemporaryDirectoryMeansNoSpoolFile) {
  test::ScopedTmpDir scoped("/nonexistent/kelvrin");
  SpoolFile spool;
  EXPECT_FALSE(spool.Begin("msg-1-u@h"));
  EXPECT_FALSE(spool.Write("x", 1));
}

}  // namespace
}  // namespace kelvrin::protocols
