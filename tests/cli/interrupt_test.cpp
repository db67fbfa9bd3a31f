// Every way out of kelvrin-cli that can be caught leaves no temporary file:
// a child process holds a spooled reply and an attachment file, installs
// the handlers and is ended; its temporary directory must be empty and it
// must have died of the signal that ended it.

#include "cli/interrupt.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "mail/temp_file.h"
#include "protocols/spool_file.h"
#include "support/temp_dir.h"

namespace kelvrin::test {
namespace {

namespace fs = std::filesystem;

std::size_t filesIn(const std::string& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir))
    ++n;
  return n;
}

// Exit codes of a child that failed before it was ended.
constexpr int kNoFiles = 3;
constexpr int kSurvived = 4;

struct WayOut {
  const char* name;
  std::function<void()> end;
  int signal;  // the child dies of this one
};

class InterruptCleanupTest : public ::testing::TestWithParam<WayOut> {};

TEST_P(InterruptCleanupTest, RemovesEveryTemporaryFile) {
  TempDir tmp("kelvrin-signal-");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    setenv("TMPDIR", tmp.Path().c_str(), 1);
    protocols::SpoolFile spool("msg-1-bob@host", 4);
    spool.Write("longer than the memory limit");
    std::optional<mail::TempFile> attachment = mail::TempFile::Create("msg-1", "att");
    if (!attachment || spool.Path().empty() || filesIn(tmp.Path()) != 2 ||
        mail::LiveTempFileCount() != 2) {
      _exit(kNoFiles);
    }
    cli::InterruptPump::reset();
    cli::InterruptPump::install();
    GetParam().end();
    _exit(kSurvived);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit code " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), GetParam().signal);
  EXPECT_EQ(filesIn(tmp.Path()), 0u);
}

void writeToAClosedPipe() {
  int ends[2];
  if (pipe(ends) != 0) return;
  close(ends[0]);
  (void)!write(ends[1], "x", 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InterruptCleanupTest,
    ::testing::Values(WayOut{"SecondCtrlC",
                             [] {
                               std::raise(SIGINT);  // the first one only cancels
                               std::raise(SIGINT);
                             },
                             SIGINT},
                      WayOut{"Terminate", [] { std::raise(SIGTERM); }, SIGTERM},
                      WayOut{"HangUp", [] { std::raise(SIGHUP); }, SIGHUP},
                      WayOut{"Quit", [] { std::raise(SIGQUIT); }, SIGQUIT},
                      WayOut{"BrokenPipe", writeToAClosedPipe, SIGPIPE},
                      WayOut{"StdTerminate", [] { std::terminate(); }, SIGABRT}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LiveTempFiles, AFileLeavesTheRegistryWithItsOwner) {
  TempDir tmp("kelvrin-live-");
  ScopedTmpDir scoped(tmp.Path());
  const int before = mail::LiveTempFileCount();
  {
    protocols::SpoolFile spool("msg-2-u@h", 2);
    spool.Write("spooled");
    auto file = mail::TempFile::Create("msg-2", "att");
    ASSERT_TRUE(file);
    const mail::TempFile moved(std::move(*file));
    EXPECT_EQ(mail::LiveTempFileCount(), before + 2);
    spool.Remove();
    EXPECT_EQ(mail::LiveTempFileCount(), before + 1);
  }
  EXPECT_EQ(mail::LiveTempFileCount(), before);
  EXPECT_EQ(filesIn(tmp.Path()), 0u);
}

}  // namespace
}  // namespace kelvrin::test
