#pragma once

// The spam level of a message, 0..10, from its sender, recipients and
// subject, the four rule lists and the detection settings; and the two small
// text operations the rest of the program shares with it.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "filter/edit_list_box.h"
#include "filter/list_entries.h"
#include "filter/message_node.h"

namespace kelvrin::filter {

// The bare address of an address text: what follows the last "<", without the
// first ">", cut at the first "," unless that is the first character. No
// blanks are trimmed.
std::string ParseMailAdds(std::string_view AddressText);

// The subject lower-cased (ASCII letters), without its first "re:", then its
// first "fw:", then its first "fwd:", and then without one leading blank.
std::string ClrXtraStr(std::string_view Subject);

// 1-based position of Entry in Text, else of Text in Entry, after both are
// upper-cased with the C library's toupper in the current locale; 0 when
// neither holds the other or either is empty.
int ListMatch(std::string_view Text, std::string_view Entry);

// The weight of a similar subject: SpinEdit2 / 17 rounded (half to even).
int HeuristicWeight(int SpinEdit2);

// The errors the approximate subject match allows an entry:
// Round(entryLength × (SpinEdit3 × 0.005)) in 80-bit extended arithmetic (the
// constant a little below 0.005, each product rounded to 64 mantissa bits,
// half to even at the end). Where the product is an exact half that decides
// the allowance, and users' lists have been scored this way all along, so it
// is done here in integers to give the same allowance on every platform.
int FuzzyAllowance(int SpinEdit3, std::size_t entryLength);

// Round(R / 2.0), half to even.
int HalfRoundedToEven(int R);

// The counts of the messages of the current check by class; the check owns
// them and zeroes them before the view is filled. They wrap like the 16-bit
// counters they are.
struct SpamCounters {
  std::uint16_t ValidCount = 0;    // level 0
  std::uint16_t SuspectCount = 0;  // levels 1..7
  std::uint16_t SpamCount = 0;     // levels 8..10
};

// What the scoring reads, filled by the caller at each check from the
// settings wizard and the main window.
struct ScoringInputs {
  const TEditListBox& lbBanEM;
  const TEditListBox& lbAllowEM;
  const TEditListBox& lbBanSubject;
  TEditListBox& Favourites1;   // finding a favourite selects it
  int SpinEdit2 = 50;          // heuristic detect level 0..100
  int SpinEdit3 = 50;          // fuzzy detect level 0..100
  bool SpamOnSubject = false;  // blank subject "Is Spam"
  bool PossSpamSubj = true;    // blank subject "Likely Spam" (wins over SpamOnSubject)
  bool ExtraAdds1 = true;      // "Multi-address increase Spam Level"
};

// Scores the messages of one check. Construct it when the check starts; it
// prepares the upper-cased entries and allowances once, and prepares a list
// again only when its revision shows that it changed.
class SpamScorer {
 public:
  explicit SpamScorer(const ScoringInputs& inputs);

  // The level of one message, 0..10. Sets the three parts of Node (and leaves
  // its other fields alone) and counts the message in exactly one counter.
  int GetSpamLevel(std::string_view From, std::string_view ToList, std::string_view Subject,
                   MessageNode& Node, SpamCounters& Counters);

 private:
  void refresh();

  ScoringInputs inputs_;
  int heuristicWeight_;
  std::array<unsigned char, 256> upper_;  // the locale's upper-casing of bytes

  // The entries upper-cased, held as compactly as the lists themselves.
  ListEntries banEM_;
  ListEntries allowEM_;
  ListEntries banSubjectUpper_;
  std::vector<int> banSubjectAllowance_;
  std::uint64_t banEMRevision_ = 0;
  std::uint64_t allowEMRevision_ = 0;
  std::uint64_t banSubjectRevision_ = 0;
  bool prepared_ = false;

  // Reused from message to message.
  std::string entry_;
  std::string from_;
  std::string fromUpper_;
  std::string toUpper_;
  std::string subject_;
  std::string subjectUpper_;
};

// Scores one message on its own (prepares the lists for this one call).
int GetSpamLevel(const ScoringInputs& inputs, std::string_view From, std::string_view ToList,
                 std::string_view Subject, MessageNode& Node, SpamCounters& Counters);

}  // namespace kelvrin::filter
