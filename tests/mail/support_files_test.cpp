#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "mail/mime_types.h"
#include "mail/temp_file.h"

namespace kelvrin::mail {
namespace {

TEST(MimeTypeTable, ReadsTheSystemFormat) {
  std::istringstream in(
      "# comment line\n"
      "application/pdf\t\t\tpdf\n"
      "image/jpeg  jpeg jpg jpe # trailing comment\n"
      "text/plain txt\n"
      "text/x-other txt\n"
      "application/x-nothing\n");
  const MimeTypeTable table = MimeTypeTable::Load(in);
  EXPECT_EQ(table.Size(), 5u);
  EXPECT_EQ(table.Lookup("report.PDF"), "application/pdf");
  EXPECT_EQ(table.Lookup("a.b.jpg"), "image/jpeg");
  EXPECT_EQ(table.Lookup("notes.txt"), "text/plain");
  EXPECT_EQ(table.Lookup("noextension"), "");
  EXPECT_EQ(table.Lookup("trailingdot."), "");
  EXPECT_EQ(table.Lookup("x.unknown"), "");
}

TEST(RegisteredContentType, FallsBackToOctetStream) {
  EXPECT_EQ(RegisteredContentType("file.zz-no-such-ext"), "application/octet-stream");
  EXPECT_EQ(RegisteredContentType(""), "application/octet-stream");
  if (std::filesystem::exists("/etc/mime.types")) {
    EXPECT_EQ(RegisteredContentType("x.pdf"), "application/pdf");
  }
}

class TempFileTest : public testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kelvrin-tempfile-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    ::setenv("TMPDIR", dir_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TMPDIR");
    std::filesystem::remove_all(dir_);
  }
  std::string dir_;
};

TEST_F(TempFileTest, PrivateFileRemovedWhenDone) {
  std::string path;
  {
    auto file = TempFile::Create("42", "-zov-uud");
    ASSERT_TRUE(file.has_value());
    path = file->Path();
    EXPECT_EQ(std::filesystem::path(path).parent_path(), dir_);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string big(200000, 'q');
    EXPECT_TRUE(file->Sink().WriteBytes("abc", 3));
    EXPECT_TRUE(file->Sink().WriteBytes(big.data(), big.size()));
    EXPECT_TRUE(file->FinishWriting());
    EXPECT_EQ(file->ReadBack(), "abc" + big);
    // Moving hands the file on without removing it.
    TempFile moved = std::move(*file);
    EXPECT_TRUE(std::filesystem::exists(path));
  }
  EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(TempFileTest, ReadBackRefusesAPlantedSymlink) {
  auto file = TempFile::Create("7", "-zov-b64d");
  ASSERT_TRUE(file.has_value());
  ASSERT_TRUE(file->FinishWriting());
  const std::string secret = dir_ + "/secret";
  std::ofstream(secret) << "secret";
  ASSERT_EQ(::unlink(file->Path().c_str()), 0);
  ASSERT_EQ(::symlink(secret.c_str(), file->Path().c_str()), 0);
  EXPECT_FALSE(file->ReadBack().has_value());
}

TEST_F(TempFileTest, MissingDirectoryGivesNoFile) {
  ::setenv("TMPDIR", (dir_ + "/gone").c_str(), 1);
  EXPECT_FALSE(TempFile::Create("1", "-zov-uud").has_value());
}

}  // namespace
}  // namespace kelvrin::mail
