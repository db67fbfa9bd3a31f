#pragma once

// The five lists of the system: the three rule lists of the settings wizard,
// the favourites and the monitored web sites, each a TEditListBox with its
// own file in the settings home and its own entries for a first run.
//
// A factory returns the list with its properties and first-run entries in
// place but not yet loaded: call loadList(), which may throw ListFileError
// while the list itself stays usable with those entries.

#include <filesystem>
#include <memory>
#include <string_view>

#include "filter/edit_list_box.h"

namespace kelvrin::filter {

inline constexpr std::string_view kSupportAddress = "support@kelvrin.example";
inline constexpr std::string_view kPlaceholderHost = "www.kelvrin.example";

struct RuleListInfo {
  std::string_view Name;     // the component name
  std::string_view Caption;  // the caption of its group box
  std::string_view FileName;
  std::string_view DefaultEntry;  // empty: the list starts empty
  bool MultiSelect;
};

inline constexpr RuleListInfo klbBanEM{"lbBanEM", "Banned email address", "KelvBanEM.txt", "",
                                       false};
inline constexpr RuleListInfo klbBanSubject{"lbBanSubject", "Banned subject", "KelvBanSubject.txt",
                                            "", false};
inline constexpr RuleListInfo klbAllowEM{"lbAllowEM", "Allowed email address", "KelvAllowEM.txt",
                                         "", false};
inline constexpr RuleListInfo kFavourites1{"Favourites1", "Favourites", "Zovuriziduvuda.vir",
                                           kSupportAddress, false};
inline constexpr RuleListInfo kWebListBox1{"WebListBox1", "WebSite Monitor", "KVweblist.txt",
                                           kPlaceholderHost, true};

std::unique_ptr<TEditListBox> makeRuleList(const RuleListInfo& info,
                                           const std::filesystem::path& listFileFolder);

std::unique_ptr<TEditListBox> makeLbBanEM(const std::filesystem::path& listFileFolder);
std::unique_ptr<TEditListBox> makeLbBanSubject(const std::filesystem::path& listFileFolder);
std::unique_ptr<TEditListBox> makeLbAllowEM(const std::filesystem::path& listFileFolder);
std::unique_ptr<TEditListBox> makeFavourites1(const std::filesystem::path& listFileFolder);
std::unique_ptr<TEditListBox> makeWebListBox1(const std::filesystem::path& listFileFolder);

// What the copy commands of the message view add to a list, given the text
// the user selected in a cell. Each returns the index of the new entry, or -1
// when nothing was added.
//   copyAddressToList: the bare address (allowed and banned addresses);
//   copySubjectToList: the cleaned subject (banned subjects);
//   addToFavourites:   the bare address, replacing the favourite that already
//                      holds it, so a favourite is never listed twice.
// An empty selection adds nothing.
int copyAddressToList(TEditListBox& list, std::string_view selectedText);
int copySubjectToList(TEditListBox& list, std::string_view selectedText);
int addToFavourites(TEditListBox& favourites, std::string_view selectedText);

}  // namespace kelvrin::filter
