#include "filter/edit_list_box.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <malloc.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "filter/rule_lists.h"

namespace kelvrin::filter {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A settings home of its own for every test.
class TempHome {
 public:
  TempHome() {
    std::string pattern = (fs::temp_directory_path() / "kelvrin-lists-XXXXXX").string();
    path_ = ::mkdtemp(pattern.data());
  }
  ~TempHome() {
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(path_ / name, std::ios::binary);
    out << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(path_ / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 private:
  fs::path path_;
};

std::unique_ptr<TEditListBox> plainList(const fs::path& folder, const std::string& file,
                                        bool sorted) {
  auto list = std::make_unique<TEditListBox>();
  list->setSorted(sorted);
  list->setAutoFileName(file);
  list->setListFileFolder(folder);
  return list;
}

TEditListBox listOf(std::initializer_list<const char*> entries) {
  TEditListBox list;
  for (const char* e : entries)
    list.Add(e);
  list.setModified(false);
  return list;
}

// ---- Loading and saving -------------------------------------------------------

TEST(TEditListBoxFile, SortsLoadedLinesAndSavesThemInListOrder) {
  TempHome home;
  home.write("KelvBanSubject.txt", "b\r\na\r\n\r\n");
  auto list = makeLbBanSubject(home.path());
  list->loadList();
  EXPECT_THAT(list->entries(), ElementsAre("", "a", "b"));
  EXPECT_EQ(list->ItemIndex(), 0);
  list->SaveList();
  EXPECT_EQ(home.read("KelvBanSubject.txt"), "\r\na\r\nb\r\n");
}

struct LineCase {
  const char* name;
  std::string file;
  std::vector<std::string> entries;
};

class TEditListBoxLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(TEditListBoxLines, SplitsAtEveryKindOfLineBreak) {
  TempHome home;
  home.write("list.txt", GetParam().file);
  auto list = plainList(home.path(), "list.txt", /*sorted=*/false);
  list->Add("default");
  list->loadList();
  EXPECT_EQ(list->entries(), GetParam().entries);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TEditListBoxLines,
    ::testing::Values(LineCase{"CrLf", "a\r\nb\r\n", {"a", "b"}},
                      LineCase{"Lf", "a\nb\n", {"a", "b"}}, LineCase{"Cr", "a\rb\r", {"a", "b"}},
                      LineCase{"Mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
                      LineCase{"NoBreakAtAll", "only", {"only"}},
                      LineCase{"EmptyLinesKept", "a\r\n\r\n\nb", {"a", "", "", "b"}},
                      LineCase{"LfThenCrAreTwoBreaks", "a\n\r", {"a", ""}},
                      LineCase{"OneBreakIsOneEmptyEntry", "\r\n", {""}},
                      LineCase{"EmptyFileEmptiesTheList", "", {}},
                      LineCase{"BinaryBytesAndNul",
                               std::string("a\0b\xff\r\n\x01", 7),
                               {std::string("a\0b\xff", 4), "\x01"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TEditListBoxFile, KeepsTheDefaultEntryUntilAFileExists) {
  TempHome home;
  auto first = makeFavourites1(home.path());
  first->loadList();
  EXPECT_THAT(first->entries(), ElementsAre(std::string(kSupportAddress)));
  EXPECT_EQ(first->ItemIndex(), 0);

  home.write("Zovuriziduvuda.vir", "friend@example.org\r\n");
  auto second = makeFavourites1(home.path());
  second->loadList();
  EXPECT_THAT(second->entries(), ElementsAre("friend@example.org"));
}

TEST(TEditListBoxFile, RoundTripsBinaryBytesAndLongEntries) {
  TempHome home;
  const std::string binary("x\0y\x80\xfe", 5);
  const std::string longEntry(10 * 1024, 'q');
  auto list = makeLbBanEM(home.path());
  list->Add(binary);
  list->Add(longEntry);
  list->SaveList();
  auto again = makeLbBanEM(home.path());
  again->loadList();
  EXPECT_THAT(again->entries(), ElementsAre(longEntry, binary));
}

TEST(TEditListBoxFile, LoadsAHundredThousandEntriesSorted) {
  TempHome home;
  std::string file;
  for (int k = 100000; k > 0; --k)
    file += "user" + std::to_string(k * 7919 % 100003) + "@x.org\n";
  home.write("KelvAllowEM.txt", file);
  auto list = makeLbAllowEM(home.path());
  list->loadList();
  ASSERT_EQ(list->Count(), 100000);
  EXPECT_TRUE(
      std::is_sorted(list->entries().begin(), list->entries().end(),
                     [](const auto& a, const auto& b) { return compareEntries(a, b) < 0; }));
}

// The file is read in pieces of 64 KiB: a line break, a CR LF or a line
// may straddle two of them.
class TEditListBoxPieces : public ::testing::TestWithParam<std::size_t> {};

TEST_P(TEditListBoxPieces, LinesAcrossPieceBoundariesStayWhole) {
  TempHome home;
  const std::string first(GetParam(), 'a');
  home.write("list.txt", first + "\r\nb\rc\n" + std::string(200000, 'd') + "\r\n\r\ne");
  auto list = plainList(home.path(), "list.txt", /*sorted=*/false);
  list->loadList();
  EXPECT_EQ(list->entries(),
            (std::vector<std::string>{first, "b", "c", std::string(200000, 'd'), "", "e"}));
}

INSTANTIATE_TEST_SUITE_P(AroundTheFirstBoundary, TEditListBoxPieces,
                         ::testing::Values(65533, 65534, 65535, 65536, 65537, 131071));

TEST(TEditListBoxFile, SortingALoadedFileKeepsEqualEntriesInFileOrder) {
  TempHome home;
  home.write("list.txt", "B\r\nb\r\na\r\nA\r\nc\r\nB\r\n");
  auto list = plainList(home.path(), "list.txt", /*sorted=*/true);
  list->loadList();
  EXPECT_THAT(list->entries(), ElementsAre("a", "A", "B", "b", "B", "c"));
}

// A large list file is loaded into one block of text and an index: in a
// process of its own, the peak memory that loading adds stays within twice
// the file's size, for long lines and for the short addresses that make up
// a real banned list (where one heap block per entry cost 2.6 times).
// A figure of /proc/self/status in kB, -1 when it is not there.
long statusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::stol(line.substr(key.size()));
  }
  return -1;
}

struct LargeFile {
  const char* name;
  std::size_t lines;
  std::size_t lineLength;  // with its CR LF
};

class TEditListBoxLargeFile : public ::testing::TestWithParam<LargeFile> {};

TEST_P(TEditListBoxLargeFile, LoadingTakesAtMostTwiceItsSize) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer pads every allocation: memory is measured in the plain build";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  GTEST_SKIP() << "AddressSanitizer pads every allocation: memory is measured in the plain build";
#endif
#endif
  const LargeFile& c = GetParam();
  TempHome home;
  std::string file;
  file.reserve(c.lines * c.lineLength);
  for (std::size_t k = 0; k < c.lines; ++k) {
    std::string line = "banned" + std::to_string(k * 7919 % 200003) + "@";
    line.resize(c.lineLength - 2, 'x');
    file += line + "\r\n";
  }
  home.write("KelvBanEM.txt", file);
  const std::size_t fileKb = file.size() / 1024;
  std::string().swap(file);

  int toParent[2];
  ASSERT_EQ(::pipe(toParent), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::malloc_trim(0);
    // A forked child inherits its parent's peak, which building the file
    // set: start the peak again from what the child holds now.
    const bool reset =
        static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5" << std::flush);
    const long before = reset ? statusKb("VmHWM:") : -3;
    auto list = makeLbBanEM(home.path());
    list->loadList();
    const long added = before < 0                                   ? before
                       : list->Count() != static_cast<int>(c.lines) ? -1
                                                                    : statusKb("VmHWM:") - before;
    (void)!::write(toParent[1], &added, sizeof added);
    ::_exit(0);
  }
  ::close(toParent[1]);
  long addedKb = -2;
  ASSERT_EQ(::read(toParent[0], &addedKb, sizeof addedKb), static_cast<ssize_t>(sizeof addedKb));
  ::close(toParent[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (addedKb == -3) GTEST_SKIP() << "the peak memory of a process cannot be reset here";
  ASSERT_GE(addedKb, 0) << "the child did not load every line";
  RecordProperty("fileKb", std::to_string(fileKb));
  RecordProperty("addedKb", std::to_string(addedKb));
  EXPECT_LE(static_cast<std::size_t>(addedKb), 2 * fileKb)
      << "loading " << fileKb << " kB added " << addedKb << " kB";
}

INSTANTIATE_TEST_SUITE_P(Lines, TEditListBoxLargeFile,
                         ::testing::Values(LargeFile{"Of100Bytes", 200000, 100},
                                           LargeFile{"Of32Bytes", 600000, 32}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TEditListBoxFile, UnreadableFileRaisesAnErrorNamingItAndKeepsTheDefaults) {
  TempHome home;
  fs::create_directory(home.path() / "Zovuriziduvuda.vir");  // cannot be read as a file
  auto list = makeFavourites1(home.path());
  try {
    list->loadList();
    FAIL() << "no error";
  } catch (const ListFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot read the list file " +
                                         (home.path() / "Zovuriziduvuda.vir").string() +
                                         ": Is a directory");
  }
  EXPECT_THAT(list->entries(), ElementsAre(std::string(kSupportAddress)));
  EXPECT_TRUE(list->loadFailed());
  EXPECT_NO_THROW(list->SaveList());  // unchanged: the file is left alone
  EXPECT_TRUE(fs::is_directory(home.path() / "Zovuriziduvuda.vir"));

  list->Add("changed@example.org");
  EXPECT_THROW(list->SaveList(), ListFileError);  // changed: it tries, and says so
}

TEST(TEditListBoxFile, NeverOverwritesAFileItCouldNotReadUnlessChanged) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  TempHome home;
  home.write("KelvBanEM.txt", "precious@example.org\r\n");
  fs::permissions(home.path() / "KelvBanEM.txt", fs::perms::none);
  auto list = makeLbBanEM(home.path());
  EXPECT_THROW(
      {
        try {
          list->loadList();
        } catch (const ListFileError& e) {
          EXPECT_THAT(e.what(), HasSubstr("KelvBanEM.txt: Permission denied"));
          throw;
        }
      },
      ListFileError);
  list->SaveList();
  fs::permissions(home.path() / "KelvBanEM.txt", fs::perms::owner_read, fs::perm_options::add);
  EXPECT_EQ(home.read("KelvBanEM.txt"), "precious@example.org\r\n");
}

TEST(TEditListBoxFile, SaveReplacesTheFileWithoutLeavingTemporaries) {
  TempHome home;
  home.write("KVweblist.txt", "old\r\n");
  fs::permissions(home.path() / "KVweblist.txt", fs::perms(0640));
  auto list = makeWebListBox1(home.path());
  list->loadList();
  list->Add("www.example.org");
  list->SaveList();
  EXPECT_EQ(home.read("KVweblist.txt"), "old\r\nwww.example.org\r\n");
  EXPECT_EQ(fs::status(home.path() / "KVweblist.txt").permissions(), fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 1);
  EXPECT_FALSE(list->modified());
}

TEST(TEditListBoxFile, SaveIntoAMissingFolderRaisesAnErrorNamingTheFile) {
  TempHome home;
  auto list = makeLbBanEM(home.path() / "missing");
  list->Add("a@b.c");
  try {
    list->SaveList();
    FAIL() << "no error";
  } catch (const ListFileError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot write the list file " +
                                         (home.path() / "missing" / "KelvBanEM.txt").string() +
                                         ": No such file or directory");
  }
}

TEST(TEditListBoxFile, AListWithoutFileNameNeitherLoadsNorSaves) {
  TempHome home;
  TEditListBox list;
  list.setListFileFolder(home.path());
  list.Add("x");
  list.loadList();
  list.SaveList();
  EXPECT_THAT(list.entries(), ElementsAre("x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(home.path()), fs::directory_iterator()), 0);
}

// ---- The lists of the system ------------------------------------------------------

TEST(RuleLists, HaveTheirFilesDefaultsAndSelectionModes) {
  const fs::path home = "/nonexistent-home";
  struct Expected {
    std::unique_ptr<TEditListBox> list;
    const char* file;
    std::vector<std::string> entries;
    bool multiSelect;
  };
  Expected lists[] = {
      {makeLbBanEM(home), "KelvBanEM.txt", {}, false},
      {makeLbBanSubject(home), "KelvBanSubject.txt", {}, false},
      {makeLbAllowEM(home), "KelvAllowEM.txt", {}, false},
      {makeFavourites1(home), "Zovuriziduvuda.vir", {"support@kelvrin.example"}, false},
      {makeWebListBox1(home), "KVweblist.txt", {"www.kelvrin.example"}, true}};
  for (const auto& e : lists) {
    EXPECT_EQ(e.list->AutoFileName(), e.file);
    EXPECT_EQ(e.list->listFilePath(), home / e.file);
    EXPECT_EQ(e.list->entries(), e.entries) << e.file;
    EXPECT_EQ(e.list->MultiSelect(), e.multiSelect) << e.file;
    EXPECT_TRUE(e.list->Sorted());
    EXPECT_EQ(e.list->DragColor(), kDragColorYellow);
    EXPECT_EQ(e.list->Hint(), kEditListBoxHint);
    EXPECT_FALSE(e.list->modified());
  }
}

TEST(RuleLists, CopiedAddressesMayRepeatButAFavouriteIsListedOnce) {
  auto banned = makeLbBanEM("/nonexistent-home");
  copyAddressToList(*banned, "\"Spam, Inc\" <offers@spam.example>");
  copyAddressToList(*banned, "\"Spam, Inc\" <offers@spam.example>");
  EXPECT_THAT(banned->entries(), ElementsAre("offers@spam.example", "offers@spam.example"));

  auto favourites = makeFavourites1("/nonexistent-home");
  addToFavourites(*favourites, "Ann <ann@example.org>");
  addToFavourites(*favourites, "ANN@example.org");
  EXPECT_THAT(favourites->entries(), ElementsAre("ANN@example.org", "support@kelvrin.example"));

  auto subjects = makeLbBanSubject("/nonexistent-home");
  copySubjectToList(*subjects, "RE: Cheap Offer");
  EXPECT_EQ(copySubjectToList(*subjects, ""), -1);
  EXPECT_THAT(subjects->entries(), ElementsAre("cheap offer"));
}

// ---- Entries, order and search ----------------------------------------------------

TEST(TEditListBoxEntries, SortedInsertIgnoresCaseAndPutsNewEqualsLast) {
  TEditListBox list;
  list.setSorted(true);
  for (const char* e : {"b", "A", "c", "B", "", "a"})
    list.Add(e);
  EXPECT_THAT(list.entries(), ElementsAre("", "A", "a", "b", "B", "c"));
  EXPECT_LT(compareEntries("ab", "abc"), 0);
  EXPECT_LT(compareEntries("Z", "\x80"), 0);  // bytes above 127 after the letters
}

TEST(TEditListBoxEntries, ChangesMarkTheListModifiedAndRaiseItsRevision) {
  TEditListBox list = listOf({"a", "b"});
  const auto revision = list.revision();
  EXPECT_FALSE(list.modified());
  list.setItem(0, "a");  // the same text is no change
  EXPECT_FALSE(list.modified());
  list.setItem(0, "z");
  EXPECT_TRUE(list.modified());
  EXPECT_GT(list.revision(), revision);
}

TEST(TEditListBoxSearch, FindsAnAddressInsideAnEntryInAnotherCase) {
  TEditListBox list = listOf({"Ann <ann@example.org>", "bob@example.org"});
  EXPECT_EQ(list.Search("ANN@EXAMPLE.ORG", /*Partial=*/true, /*CaseSensitive=*/false), 0);
  EXPECT_EQ(list.ItemIndex(), 0);
  EXPECT_EQ(list.Search("ANN@EXAMPLE.ORG", true, /*CaseSensitive=*/true), -1);
  EXPECT_EQ(list.ItemIndex(), -1);  // a miss clears the selection
  EXPECT_EQ(list.Search("bob@example.org", /*Partial=*/false, true), 1);
  EXPECT_EQ(list.Search("bob@example", /*Partial=*/false, false), -1);
  EXPECT_EQ(list.Search("BOB@example.org", false, false), 1);
}

TEST(TEditListBoxSearch, EmptyTextHitsOnlyAnEmptyEntry) {
  TEditListBox list = listOf({"a", "b"});
  EXPECT_EQ(list.Search("", true, false), -1);
  list.Add("");
  EXPECT_EQ(list.Search("", true, false), 2);
}

// ---- Keys and the editor ------------------------------------------------------------

TEST(TEditListBoxKeys, InsertWithoutSelectionInAFilledListDoesNothing) {
  TEditListBox list = listOf({"a", "b"});
  list.setItemIndex(-1);
  list.KeyUp(ListKey::Insert);
  EXPECT_THAT(list.entries(), ElementsAre("a", "b"));
  EXPECT_FALSE(list.editor().Visible);
}

TEST(TEditListBoxKeys, InsertPutsNewAtTheSelectionAndOpensTheEditor) {
  TEditListBox list = listOf({"a", "b"});
  list.setSorted(true);
  list.setItemIndex(1);
  list.KeyUp(ListKey::Insert);
  EXPECT_THAT(list.entries(), ElementsAre("a", "new", "b"));
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_TRUE(list.editor().Visible);
  EXPECT_TRUE(list.editor().Focused);
  EXPECT_EQ(list.editor().Text, "new");
  EXPECT_EQ(list.editor().SelLength, 3u);
}

TEST(TEditListBoxKeys, InsertInAnEmptyListAddsNew) {
  TEditListBox list;
  list.KeyUp(ListKey::Insert);
  EXPECT_THAT(list.entries(), ElementsAre("new"));
  EXPECT_EQ(list.ItemIndex(), 0);
  EXPECT_TRUE(list.editor().Visible);
}

TEST(TEditListBoxKeys, KeypadPlusAddsNewAtItsSortedPlaceWithoutEditor) {
  TEditListBox list = listOf({"a", "z"});
  list.setSorted(true);
  list.KeyUp(ListKey::NumpadPlus);
  EXPECT_THAT(list.entries(), ElementsAre("a", "new", "z"));
  EXPECT_EQ(list.ItemIndex(), 1);
  EXPECT_FALSE(list.editor().Visible);
}

struct DeleteCase {
  const char* name;
  std::vector<std::string> before;
  int selected;
  std::vector<std::string> after;
  int selectedAfter;
};

class TEditListBoxDelete : public ::testing::TestWithParam<DeleteCase> {};

TEST_P(TEditListBoxDelete, SelectsTheEntryThatTookThePlace) {
  const auto& c = GetParam();
  TEditListBox list;
  for (const auto& e : c.before)
    list.Add(e);
  list.setItemIndex(c.selected);
  list.KeyUp(ListKey::Delete);
  EXPECT_EQ(list.entries(), c.after);
  EXPECT_EQ(list.ItemIndex(), c.selectedAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TEditListBoxDelete,
    ::testing::Values(DeleteCase{"Middle", {"a", "b", "c"}, 1, {"a", "c"}, 1},
                      DeleteCase{"LastOfThree", {"a", "b", "c"}, 2, {"a", "b"}, 1},
                      DeleteCase{"OnlyEntry", {"a"}, 0, {}, -1},
                      DeleteCase{"NothingSelected", {"a", "b"}, -1, {"a", "b"}, -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TEditListBoxKeys, TypedCharactersAreSwallowedAndSpaceEdits) {
  TEditListBox list = listOf({"a"});
  list.setItemIndex(0);
  EXPECT_FALSE(list.KeyPress('x'));
  EXPECT_FALSE(list.editor().Visible);
  EXPECT_TRUE(list.KeyPress(' '));
  EXPECT_TRUE(list.editor().Visible);
}

TEST(TEditListBoxKeys, F2WithoutSelectionOpensNoEditor) {
  TEditListBox list = listOf({"a"});
  list.setItemIndex(-1);
  list.KeyUp(ListKey::F2);
  EXPECT_FALSE(list.editor().Visible);
  list.setItemIndex(0);
  list.KeyUp(ListKey::F2);
  EXPECT_TRUE(list.editor().Visible);
}

TEST(TEditListBoxEditor, EnterStoresTheTextInPlaceEvenOutOfOrder) {
  TEditListBox list = listOf({"a", "b", "c"});
  list.setSorted(true);
  list.setItemIndex(0);
  list.EditSelected();
  list.setEditorText("zz");
  list.EditorKeyDown(EditorKey::Enter);
  EXPECT_THAT(list.entries(), ElementsAre("zz", "b", "c"));
  EXPECT_FALSE(list.editor().Visible);
  EXPECT_TRUE(list.listFocused());
  EXPECT_TRUE(list.modified());
}

TEST(TEditListBoxEditor, EscapeLeavesTheEntry) {
  TEditListBox list = listOf({"a"});
  list.setItemIndex(0);
  list.EditSelected();
  list.setEditorText("changed");
  list.EditorKeyDown(EditorKey::Escape);
  EXPECT_THAT(list.entries(), ElementsAre("a"));
  EXPECT_FALSE(list.editor().Visible);
  EXPECT_TRUE(list.listFocused());
  EXPECT_FALSE(list.modified());
}

// ---- The mouse ---------------------------------------------------------------------

TEST(TEditListBoxMouse, CtrlDragMovesTheEntryToWhereItIsDropped) {
  TEditListBox list = listOf({"a", "b", "c"});
  list.setSorted(true);
  list.measureText = [](std::string_view text) {
    return TextExtent{static_cast<int>(text.size()) * 10, 12};
  };
  list.setItemIndex(0);
  list.MouseDown({.Ctrl = true}, 5, 6);
  EXPECT_TRUE(list.Dragging());
  EXPECT_TRUE(list.ButtonDown());
  EXPECT_EQ(list.DragFromIndex(), 0);
  EXPECT_TRUE(list.dragImage().Visible);
  EXPECT_EQ(list.dragImage().Text, "a");
  EXPECT_EQ(list.dragImage().Width, 14);
  EXPECT_EQ(list.dragImage().Height, 16);
  list.MouseMove(40, 50);
  EXPECT_EQ(list.dragImage().Left, 40);
  EXPECT_EQ(list.dragImage().Top, 50);

  list.Click({.Ctrl = true}, 2);
  EXPECT_THAT(list.entries(), ElementsAre("b", "c", "a"));
  EXPECT_EQ(list.ItemIndex(), 2);
  EXPECT_EQ(list.SelCount(), 1);
  EXPECT_FALSE(list.Dragging());
  EXPECT_FALSE(list.ButtonDown());
  EXPECT_FALSE(list.dragImage().Visible);
}

TEST(TEditListBoxMouse, APlainClickSelectsWithoutMovingAndClosesTheEditor) {
  TEditListBox list = listOf({"a", "b", "c"});
  list.setItemIndex(0);
  list.EditSelected();
  list.MouseDown({}, 0, 0);
  EXPECT_FALSE(list.Dragging());
  EXPECT_FALSE(list.dragImage().Visible);
  int clicks = 0;
  list.OnClick = [&] { ++clicks; };
  list.Click({}, 2);
  EXPECT_THAT(list.entries(), ElementsAre("a", "b", "c"));
  EXPECT_EQ(list.ItemIndex(), 2);
  EXPECT_FALSE(list.editor().Visible);
  EXPECT_EQ(clicks, 1);
}

TEST(TEditListBoxMouse, CtrlPressWithoutSelectionMovesNothing) {
  TEditListBox list = listOf({"a", "b"});
  list.setItemIndex(-1);
  list.MouseDown({.Ctrl = true}, 0, 0);
  EXPECT_TRUE(list.Dragging());
  EXPECT_FALSE(list.dragImage().Visible);
  list.Click({.Ctrl = true}, 1);
  EXPECT_THAT(list.entries(), ElementsAre("a", "b"));
}

TEST(TEditListBoxMouse, MultipleSelectionOnlyWhileShiftOrCtrlIsHeld) {
  auto list = makeWebListBox1("/nonexistent-home");
  list->Add("a.example");
  list->Add("b.example");
  list->Click({}, 0);
  EXPECT_FALSE(list->MultiSelect());
  list->Click({.Shift = true}, 2);
  EXPECT_TRUE(list->MultiSelect());
  EXPECT_EQ(list->SelCount(), 3);
  list->Click({}, 1);
  EXPECT_FALSE(list->MultiSelect());
  EXPECT_EQ(list->SelCount(), 1);
}

TEST(TEditListBoxMouse, DoubleClickEditsTheSelectionOrResetsTheDrag) {
  TEditListBox list = listOf({"a"});
  list.setItemIndex(-1);
  list.MouseDown({.Ctrl = true}, 0, 0);
  list.DblClick();
  EXPECT_FALSE(list.Dragging());
  EXPECT_FALSE(list.ButtonDown());
  EXPECT_FALSE(list.editor().Visible);
  list.setItemIndex(0);
  list.DblClick();
  EXPECT_TRUE(list.editor().Visible);
  EXPECT_EQ(list.editor().EntryIndex, 0);
}

}  // namespace
}  // namespace kelvrin::filter
