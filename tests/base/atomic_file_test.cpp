#include "base/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "support/temp_dir.h"

namespace kelvrin::base {
namespace {

namespace fs = std::filesystem;

mode_t modeOf(const fs::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

std::size_t entriesIn(const fs::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir))
    ++n;
  return n;
}

struct ModeCase {
  const char* name;
  std::optional<mode_t> oldMode;  // no old file when empty
  FileMode mode;
  mode_t expected;
};

class ReplaceFileModeTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ReplaceFileModeTest, WritesTheBytesWithTheModeAndLeavesNoSibling) {
  test::TempDir dir;
  const fs::path path = dir.File("list.txt");
  if (GetParam().oldMode) {
    test::WriteTextFile(path, "old text that is longer than the new\r\n");
    ASSERT_EQ(::chmod(path.c_str(), *GetParam().oldMode), 0);
  }
  replaceFileAtomically(path, std::string("new\0bytes\r\n", 11), GetParam().mode);
  EXPECT_EQ(test::ReadTextFile(path), std::string("new\0bytes\r\n", 11));
  EXPECT_EQ(modeOf(path), GetParam().expected);
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReplaceFileModeTest,
    ::testing::Values(ModeCase{"NewFileExactly", std::nullopt, FileMode::exactly(0600), 0600},
                      ModeCase{"NewFileExistingOr", std::nullopt, FileMode::existingOr(0600), 0600},
                      ModeCase{"OldFileExactly", 0644, FileMode::exactly(0600), 0600},
                      ModeCase{"OldFileExistingOr", 0640, FileMode::existingOr(0600), 0640}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReplaceFileAtomically, AMissingFolderIsAnErrorNamingTheFile) {
  test::TempDir dir;
  const fs::path path = fs::path(dir.Path()) / "missing" / "kelvrin.ini";
  try {
    replaceFileAtomically(path, "x", FileMode::exactly(0600));
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.path(), path);
    EXPECT_EQ(e.error(), ENOENT);
    EXPECT_EQ(e.reason(), "No such file or directory");
    EXPECT_EQ(std::string(e.what()),
              "Cannot write " + path.string() + ": No such file or directory");
  }
}

TEST(ReplaceFileAtomically, AFailedRenameKeepsTheOldEntryAndRemovesTheSibling) {
  test::TempDir dir;
  // A folder in the file's place cannot be renamed over.
  const fs::path path = dir.File("KelvBanEM.txt");
  fs::create_directory(path);
  test::WriteTextFile(path / "inside", "kept");
  EXPECT_THROW(replaceFileAtomically(path, "new", FileMode::existingOr(0600)), FileError);
  EXPECT_EQ(test::ReadTextFile(path / "inside"), "kept");
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

// Lowers the file size limit for one test, so that writes fail part-way
// with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    previousHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, previousHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit saved_{};
  sighandler_t previousHandler_;
};

TEST(ReplaceFileAtomically, AWriteFailingPartWayKeepsTheOldFileAndLeavesNoSibling) {
  test::TempDir dir;
  const fs::path path = dir.File("kelvrin.ini");
  test::WriteTextFile(path, "[S]\nk=1\n");
  try {
    const FileSizeLimit limit(4096);
    replaceFileAtomically(path, std::string(10000, 'x'), FileMode::exactly(0600));
    FAIL() << "no error";
  } catch (const FileError& e) {
    EXPECT_EQ(e.error(), EFBIG);
    EXPECT_EQ(e.path(), path);
  }
  EXPECT_EQ(test::ReadTextFile(path), "[S]\nk=1\n");
  EXPECT_EQ(entriesIn(dir.Path()), 1u);
}

TEST(WriteFully, WritesEverythingOrReportsTheFailure) {
  test::TempDir dir;
  const fs::path path = dir.File("out");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string big(3 << 20, 'k');
  EXPECT_TRUE(writeFully(fd, big));
  ::close(fd);
  EXPECT_EQ(fs::file_size(path), big.size());
  errno = 0;
  EXPECT_FALSE(writeFully(-1, "nowhere"));
  EXPECT_EQ(errno, EBADF);
}

}  // namespace
}  // namespace kelvrin::base
