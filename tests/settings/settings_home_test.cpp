#include "settings/settings_home.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <map>

#include "settings/settings_error.h"

#include "temp_dir.h"

namespace kelvrin::settings {
namespace {

struct HomeCase {
  const char* label;
  std::optional<std::string> option;
  std::map<std::string, std::string> environment;
  std::string expected;
};

class ResolveSettingsHome : public ::testing::TestWithParam<HomeCase> {};

TEST_P(ResolveSettingsHome, TakesTheFirstSourceThatIsSet) {
  const HomeCase& c = GetParam();
  const auto lookup = [&](const std::string& name) -> std::optional<std::string> {
    const auto it = c.environment.find(name);
    if (it == c.environment.end()) return std::nullopt;
    return it->second;
  };
  EXPECT_EQ(resolveSettingsHome(c.option, lookup).string(), c.expected);
}

const std::map<std::string, std::string> kAll = {
    {"KELVRIN_HOME", "/srv/kelvrin"}, {"XDG_CONFIG_HOME", "/xdg"}, {"HOME", "/home/sam"}};

INSTANTIATE_TEST_SUITE_P(
    Order, ResolveSettingsHome,
    ::testing::Values(
        HomeCase{"OptionFirst", "/opt/demo", kAll, "/opt/demo"},
        HomeCase{"ThenKelvrinHome", std::nullopt, kAll, "/srv/kelvrin"},
        HomeCase{"EmptyOptionIgnored", "", kAll, "/srv/kelvrin"},
        HomeCase{"ThenXdgConfigHome",
                 std::nullopt,
                 {{"KELVRIN_HOME", ""}, {"XDG_CONFIG_HOME", "/xdg"}, {"HOME", "/home/sam"}},
                 "/xdg/kelvrin"},
        HomeCase{"RelativeXdgIgnored",
                 std::nullopt,
                 {{"XDG_CONFIG_HOME", "relative"}, {"HOME", "/home/sam"}},
                 "/home/sam/.config/kelvrin"},
        HomeCase{"ThenHome", std::nullopt, {{"HOME", "/home/sam/"}}, "/home/sam/.config/kelvrin"},
        HomeCase{"Normalised", "/opt//demo/./x/..", {}, "/opt/demo"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ResolveSettingsHomeRelative, ARelativeHomeBecomesAbsolute) {
  const auto home = resolveSettingsHome(std::string("demo-home"),
                                        [](const std::string&) { return std::nullopt; });
  EXPECT_TRUE(home.is_absolute());
  EXPECT_EQ(home, std::filesystem::current_path() / "demo-home");
}

TEST(ProgramDir, IsTheHomeWithOneTrailingSlash) {
  EXPECT_EQ(programDirFor("/home/sam/.config/kelvrin"), "/home/sam/.config/kelvrin/");
  EXPECT_EQ(programDirFor("/home/sam/.config/kelvrin/"), "/home/sam/.config/kelvrin/");
  EXPECT_EQ(settingsFileName("/home/sam/.config/kelvrin/"),
            "/home/sam/.config/kelvrin/kelvrin.ini");
}

TEST(EnsureSettingsHome, CreatesTheFolderAndItsParentsWithMode0700) {
  testing::TempDir dir;
  const auto home = dir.path() / "config" / "kelvrin";
  ensureSettingsHome(home);
  ensureSettingsHome(home);  // a second call finds it in place
  struct stat st {};
  ASSERT_EQ(::stat(home.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(EnsureSettingsHome, AFileInTheWayIsAnError) {
  testing::TempDir dir;
  std::ofstream(dir.path() / "kelvrin") << "not a folder";
  EXPECT_THROW(ensureSettingsHome(dir.path() / "kelvrin"), SettingsError);
}

}  // namespace
}  // namespace kelvrin::settings
