// The entries of a list share one block of text: every edit must leave each
// entry's bytes whole, whatever was appended, left unused or packed before,
// and also when the new text is a view of the list's own entries.

#include "filter/list_entries.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "filter/edit_list_box.h"

namespace kelvrin::filter {
namespace {

namespace fs = std::filesystem;

std::string randomText(std::mt19937& rng) {
  // Mostly addresses, now and then empty or long enough to outgrow the block.
  const unsigned kind = rng() % 20;
  if (kind == 0) return {};
  const std::size_t length = kind == 1 ? 5000 + rng() % 5000 : 1 + rng() % 40;
  std::string text(length, ' ');
  for (char& c : text)
    c = static_cast<char>('A' + rng() % 58);
  return text;
}

TEST(ListEntries, EditsOfALoadedListKeepEveryEntryAsAPlainVectorWould) {
  std::string pattern = (fs::temp_directory_path() / "kelvrin-entries-XXXXXX").string();
  const fs::path home = ::mkdtemp(pattern.data());
  std::mt19937 rng(7);
  std::vector<std::string> expected;
  {
    std::ofstream out(home / "list.txt", std::ios::binary);
    for (int k = 0; k < 3000; ++k) {
      expected.push_back(randomText(rng));
      out << expected.back() << (k % 3 == 0 ? "\n" : "\r\n");
    }
  }
  TEditListBox list;
  list.setSorted(true);
  list.setAutoFileName("list.txt");
  list.setListFileFolder(home);
  list.loadList();
  const auto less = [](const std::string& a, const std::string& b) {
    return compareEntries(a, b) < 0;
  };
  std::stable_sort(expected.begin(), expected.end(), less);
  ASSERT_EQ(list.entries(), expected);

  for (int step = 0; step < 10000; ++step) {
    const int count = list.Count();
    const int at = count > 0 ? static_cast<int>(rng() % static_cast<unsigned>(count)) : 0;
    const int other = count > 0 ? static_cast<int>(rng() % static_cast<unsigned>(count)) : 0;
    // A third of the new texts are another entry of the list itself.
    const bool copyOwn = count > 0 && rng() % 3 == 0;
    const std::string fresh = randomText(rng);
    const std::string_view text = copyOwn ? list.Items(other) : std::string_view(fresh);
    const std::string copy(text);
    // Mostly deleting at first and mostly adding after empties the list and
    // fills it again, leaving many bytes unused on the way.
    const bool deleting = step < 6000 ? rng() % 4 != 0 : rng() % 4 == 0;
    switch (count == 0 ? 0 : deleting ? 4 : rng() % 4) {
      case 0: {
        const int pos = list.Add(text);
        expected.insert(std::upper_bound(expected.begin(), expected.end(), copy, less), copy);
        ASSERT_EQ(expected[static_cast<std::size_t>(pos)], copy);
        break;
      }
      case 1:
        list.Insert(at, text);
        expected.insert(expected.begin() + at, copy);
        break;
      case 2:
        list.setItem(at, text);
        expected[static_cast<std::size_t>(at)] = copy;
        break;
      case 3:
        list.Move(at, other);
        {
          std::string moved = expected[static_cast<std::size_t>(at)];
          expected.erase(expected.begin() + at);
          expected.insert(expected.begin() + other, std::move(moved));
        }
        break;
      default:
        list.Delete(at);
        expected.erase(expected.begin() + at);
        break;
    }
    ASSERT_EQ(list.entries(), expected) << "after step " << step;
  }

  list.SaveList();
  std::string saved;
  for (const auto& e : expected)
    saved += e + "\r\n";
  std::ifstream in(home / "list.txt", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
            saved);
  fs::remove_all(home);
}

TEST(ListEntries, AnEntryCopiedFromTheListItselfSurvivesTheBlockGrowing) {
  ListEntries entries;
  entries.push_back("first entry");
  for (int k = 0; k < 200; ++k)
    entries.push_back(entries[static_cast<std::size_t>(k)]);
  EXPECT_EQ(std::count(entries.begin(), entries.end(), "first entry"), 201);
  entries.replace(0, entries[200].substr(6));
  entries.replace(1, entries[0]);
  EXPECT_EQ(entries[0], "entry");
  EXPECT_EQ(entries[1], "entry");
  EXPECT_EQ(entries[2], "first entry");
}

}  // namespace
}  // namespace kelvrin::filter
