#include "settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "settings/settings_error.h"

#include "temp_dir.h"

namespace kelvrin::settings {
namespace {

using testing::TempDir;

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void writeAllText(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

mode_t modeOf(const std::filesystem::path& path) {
  struct stat st {};
  EXPECT_EQ(::stat(path.c_str(), &st), 0);
  return st.st_mode & 07777;
}

std::size_t entriesIn(const std::filesystem::path& dir) {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir))
    ++n;
  return n;
}

class IniFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::filesystem::path path_ = dir_.path() / "kelvrin.ini";
};

TEST_F(IniFileTest, ReadingAMissingFileGivesTheDefaultsAndCreatesNothing) {
  const IniFile file(path_);
  EXPECT_FALSE(file.exists());
  EXPECT_EQ(file.readString("S", "k", "dflt"), "dflt");
  EXPECT_EQ(file.readInteger("S", "k", 7), 7);
  EXPECT_TRUE(file.readBool("S", "k", true));
  EXPECT_FALSE(file.exists());
}

TEST_F(IniFileTest, AWriteCreatesTheFileAndItsFoldersPrivately) {
  const std::filesystem::path nested = dir_.path() / "home" / "kelvrin" / "kelvrin.ini";
  IniFile file(nested);
  file.writeString("KVWForm1", "KVWedPassword", "secret");

  EXPECT_EQ(readAll(nested), "[KVWForm1]\nKVWedPassword=secret\n");
  EXPECT_EQ(modeOf(nested), 0600u);
  EXPECT_EQ(modeOf(dir_.path() / "home"), 0700u);
  EXPECT_EQ(modeOf(dir_.path() / "home" / "kelvrin"), 0700u);
}

TEST_F(IniFileTest, AWriteReplacesTheFileAndKeepsEveryOtherLine) {
  writeAllText(path_, "# user notes\r\n[KVmain]\r\nSndEnable1=1\r\n[Mine]\r\nx = y\r\n");
  ::chmod(path_.c_str(), 0644);
  struct stat before {};
  ::stat(path_.c_str(), &before);

  IniFile file(path_);
  file.writeBool("KVmain", "SndEnable1", false);

  struct stat after {};
  ::stat(path_.c_str(), &after);
  EXPECT_NE(before.st_ino, after.st_ino) << "the file must be replaced, not rewritten in place";
  EXPECT_EQ(readAll(path_), "# user notes\r\n[KVmain]\r\nSndEnable1=0\r\n[Mine]\r\nx = y\r\n");
  EXPECT_EQ(modeOf(path_), 0600u);
  EXPECT_EQ(entriesIn(dir_.path()), 1u) << "no temporary file may be left behind";
}

TEST_F(IniFileTest, WriteAllAppliesEveryEntryInOneRewrite) {
  IniFile file(path_);
  file.writeAll({{"KVmain", "SndEnable1", "1"},
                 {"KVWForm1", "PopPort", " 110"},
                 {"KVmain", "Hints1", "0"},
                 {"KVmain", "SndEnable1", "0"}});
  EXPECT_EQ(readAll(path_), "[KVmain]\nSndEnable1=0\nHints1=0\n\n[KVWForm1]\nPopPort= 110\n");
}

TEST_F(IniFileTest, ABadNameInWriteAllLeavesTheFileUntouched) {
  writeAllText(path_, "[S]\nk=1\n");
  IniFile file(path_);
  EXPECT_THROW(file.writeAll({{"S", "k", "2"}, {"S", "a=b", "3"}}), SettingsError);
  EXPECT_EQ(readAll(path_), "[S]\nk=1\n");
}

TEST_F(IniFileTest, EachReadSeesTheCurrentFile) {
  IniFile file(path_);
  file.writeInteger("Settings", "Column", 2);
  EXPECT_EQ(file.readInteger("Settings", "Column", 0), 2);
  writeAllText(path_, "[Settings]\nColumn=4\n");
  EXPECT_EQ(file.readInteger("Settings", "Column", 0), 4);
}

TEST_F(IniFileTest, SectionsAndKeysCanBeListedAndRemoved) {
  IniFile file(path_);
  file.writeAll({{"ComboBox1", "a@example.com", ""}, {"ComboBox1", "b@example.com", ""}});
  EXPECT_EQ(file.readSection("ComboBox1"),
            (std::vector<std::string>{"a@example.com", "b@example.com"}));
  EXPECT_TRUE(file.valueExists("ComboBox1", "a@example.com"));
  file.deleteKey("ComboBox1", "a@example.com");
  EXPECT_FALSE(file.valueExists("ComboBox1", "a@example.com"));
  file.eraseSection("combobox1");
  EXPECT_FALSE(file.sectionExists("ComboBox1"));
}

TEST_F(IniFileTest, AnUnreadableFileIsAnErrorNotAnEmptyFile) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  writeAllText(path_, "[S]\nk=1\n");
  ::chmod(path_.c_str(), 0000);
  IniFile file(path_);
  EXPECT_THROW(file.readString("S", "k", ""), SettingsError);
  // A write must not replace what it could not read.
  EXPECT_THROW(file.writeString("S", "other", "2"), SettingsError);
  ::chmod(path_.c_str(), 0600);
  EXPECT_EQ(readAll(path_), "[S]\nk=1\n");
}

TEST_F(IniFileTest, AFailedReplaceNamesTheFileAndKeepsTheOldOne) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into every folder";
  writeAllText(path_, "[S]\nk=1\n");
  ::chmod(dir_.path().c_str(), 0500);
  IniFile file(path_);
  try {
    file.writeString("S", "k", "2");
    ADD_FAILURE() << "the write should fail";
  } catch (const SettingsError& e) {
    EXPECT_NE(std::string(e.what()).find(path_.string()), std::string::npos) << e.what();
  }
  ::chmod(dir_.path().c_str(), 0700);
  EXPECT_EQ(readAll(path_), "[S]\nk=1\n");
}

TEST_F(IniFileTest, AFileWhereTheFolderShouldBeIsAnErrorThatNamesIt) {
  writeAllText(dir_.path() / "home", "a file, not a folder");
  IniFile file(dir_.path() / "home" / "kelvrin.ini");
  try {
    file.writeString("S", "k", "1");
    ADD_FAILURE() << "the write should fail";
  } catch (const SettingsError& e) {
    EXPECT_NE(std::string(e.what()).find("home"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace kelvrin::settings
