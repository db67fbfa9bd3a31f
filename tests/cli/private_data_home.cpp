// Every run of kelvrin-cli in these tests keeps its copies of deleted mail
// and its header cache in a folder of its own, never in the homes of the
// user running them.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "support/temp_dir.h"

namespace kelvrin::test {
namespace {

class PrivateDataHome final : public ::testing::Environment {
 public:
  void SetUp() override {
    dir_ = std::make_unique<TempDir>("kelvrin-data-");
    ::setenv("XDG_DATA_HOME", dir_->Path().c_str(), 1);
    // The header cache as well.
    ::setenv("XDG_CACHE_HOME", (dir_->Path() + "/cache").c_str(), 1);
  }
  void TearDown() override { dir_.reset(); }

 private:
  std::unique_ptr<TempDir> dir_;
};

[[maybe_unused]] ::testing::Environment* const kPrivateDataHome =
    ::testing::AddGlobalTestEnvironment(new PrivateDataHome);

}  // namespace
}  // namespace kelvrin::test
