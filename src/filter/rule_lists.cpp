#include "filter/rule_lists.h"

#include <string>

#include "filter/spam_scoring.h"

namespace kelvrin::filter {

std::unique_ptr<TEditListBox> makeRuleList(const RuleListInfo& info,
                                           const std::filesystem::path& listFileFolder) {
  auto list = std::make_unique<TEditListBox>();
  list->setSorted(true);
  list->setMultiSelect(info.MultiSelect);
  list->setDragColor(kDragColorYellow);
  list->setAutoFileName(std::string(info.FileName));
  list->setListFileFolder(listFileFolder);
  if (!info.DefaultEntry.empty()) list->Add(std::string(info.DefaultEntry));
  list->setModified(false);
  return list;
}

std::unique_ptr<TEditListBox> makeLbBanEM(const std::filesystem::path& listFileFolder) {
  return makeRuleList(klbBanEM, listFileFolder);
}

std::unique_ptr<TEditListBox> makeLbBanSubject(const std::filesystem::path& listFileFolder) {
  return makeRuleList(klbBanSubject, listFileFolder);
}

std::unique_ptr<TEditListBox> makeLbAllowEM(const std::filesystem::path& listFileFolder) {
  return makeRuleList(klbAllowEM, listFileFolder);
}

std::unique_ptr<TEditListBox> makeFavourites1(const std::filesystem::path& listFileFolder) {
  return makeRuleList(kFavourites1, listFileFolder);
}

std::unique_ptr<TEditListBox> makeWebListBox1(const std::filesystem::path& listFileFolder) {
  return makeRuleList(kWebListBox1, listFileFolder);
}

int copyAddressToList(TEditListBox& list, std::string_view selectedText) {
  if (selectedText.empty()) return -1;
  return list.Add(ParseMailAdds(selectedText));
}

int copySubjectToList(TEditListBox& list, std::string_view selectedText) {
  if (selectedText.empty()) return -1;
  return list.Add(ClrXtraStr(selectedText));
}

int addToFavourites(TEditListBox& favourites, std::string_view selectedText) {
  if (selectedText.empty()) return -1;
  std::string address = ParseMailAdds(selectedText);
  const int existing = favourites.Search(address, /*Partial=*/true, /*CaseSensitive=*/false);
  if (existing >= 0) favourites.Delete(existing);
  return favourites.Add(std::move(address));
}

}  // namespace kelvrin::filter
