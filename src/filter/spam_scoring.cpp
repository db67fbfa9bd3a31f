#include "filter/spam_scoring.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <climits>
#include <cstdint>
#include <limits>

#include "filter/string_match.h"

namespace kelvrin::filter {
namespace {

// ---- The allowance in 80-bit extended arithmetic -------------------------
//
// An extended value is mantissa × 2^exponent with a 64-bit mantissa whose top
// bit is set (or zero). Only the two products of the allowance are needed, and
// both multiply by a non-negative integer below 2^32.

struct Extended {
  std::uint64_t mantissa = 0;
  int exponent = 0;
};

// 0.005 is 2^68 / 25 × 2^-71; 2^68 / 25 = 11805916207174113034.24, so the
// nearest 64-bit mantissa is rounded down and the constant lies just below
// 0.005. That is what makes 10, 20, 30 and 60 round their halves down.
constexpr Extended kHalfPercent{11805916207174113034ULL, -71};

Extended multiplyRounded(Extended a, std::uint32_t n) {
  if (a.mantissa == 0 || n == 0) return {};
  // The exact product, up to 96 bits, as hi:lo.
  const std::uint64_t low = (a.mantissa & 0xFFFFFFFFULL) * n;
  const std::uint64_t high = (a.mantissa >> 32) * n;
  const std::uint64_t lo = low + (high << 32);
  const std::uint64_t hi = (high >> 32) + (lo < low ? 1 : 0);
  if (hi == 0) {
    const int shift = std::countl_zero(lo);
    return {lo << shift, a.exponent - shift};
  }
  // Drop the low `drop` bits (1..32) so that 64 remain, rounding to nearest
  // with ties to even.
  int drop = 64 - std::countl_zero(hi);
  std::uint64_t kept = (lo >> drop) | (hi << (64 - drop));
  const std::uint64_t dropped = lo & ((std::uint64_t{1} << drop) - 1);
  const std::uint64_t half = std::uint64_t{1} << (drop - 1);
  if (dropped > half || (dropped == half && (kept & 1) != 0)) {
    ++kept;
    if (kept == 0) {  // carried out of the top bit
      kept = std::uint64_t{1} << 63;
      ++drop;
    }
  }
  return {kept, a.exponent + drop};
}

// Nearest integer, halves to even, saturated to int.
int roundToInt(Extended x) {
  if (x.mantissa == 0) return 0;
  if (x.exponent >= 0) return INT_MAX;  // at least 2^63
  const int fraction = -x.exponent;
  if (fraction > 64) return 0;  // below 0.5
  std::uint64_t integer;
  std::uint64_t rest;
  std::uint64_t half;
  if (fraction == 64) {
    integer = 0;
    rest = x.mantissa;
    half = std::uint64_t{1} << 63;
  } else {
    integer = x.mantissa >> fraction;
    rest = x.mantissa & ((std::uint64_t{1} << fraction) - 1);
    half = std::uint64_t{1} << (fraction - 1);
  }
  if (rest > half || (rest == half && (integer & 1) != 0)) ++integer;
  return integer > static_cast<std::uint64_t>(INT_MAX) ? INT_MAX : static_cast<int>(integer);
}

// ---- Texts ---------------------------------------------------------------

void parseMailAddsInto(std::string_view text, std::string& out) {
  const auto lt = text.rfind('<');
  if (lt != std::string_view::npos) text.remove_prefix(lt + 1);
  const auto gt = text.find('>');
  out.assign(text.substr(0, gt));
  if (gt != std::string_view::npos) out.append(text.substr(gt + 1));
  const auto comma = out.find(',');
  if (comma != std::string::npos && comma > 0) out.resize(comma);
}

void eraseFirst(std::string& text, std::string_view part) {
  const auto at = text.find(part);
  if (at != std::string::npos) text.erase(at, part.size());
}

void clrXtraStrInto(std::string_view subject, std::string& out) {
  out.assign(subject);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
  }
  eraseFirst(out, "re:");
  eraseFirst(out, "fw:");
  eraseFirst(out, "fwd:");
  if (!out.empty() && out.front() == ' ') out.erase(0, 1);
}

std::array<unsigned char, 256> localeUpperTable() {
  std::array<unsigned char, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(std::toupper(c));
  return table;
}

void upperInto(std::string_view text, std::string& out,
               const std::array<unsigned char, 256>& table) {
  out.resize(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    out[k] = static_cast<char>(table[static_cast<unsigned char>(text[k])]);
  }
}

void asciiUpperInto(std::string_view text, std::string& out) {
  out.resize(text.size());
  for (std::size_t k = 0; k < text.size(); ++k) {
    const char c = text[k];
    out[k] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - ('a' - 'A')) : c;
  }
}

// ListMatch of two texts that are already upper-cased.
int listMatchUpper(std::string_view text, std::string_view entry) {
  if (text.empty() || entry.empty()) return 0;
  auto at = text.find(entry);
  if (at == std::string_view::npos) at = entry.find(text);
  if (at == std::string_view::npos) return 0;
  return at >= static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(at + 1);
}

int clampSetting(int value) {
  return std::clamp(value, 0, 100);
}

// Sums that pathological lists (100,000 entries of kilobytes) could push past
// the range of the 32-bit level parts stay at its end instead of wrapping.
std::int32_t saturate(long long value) {
  return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

std::string ParseMailAdds(std::string_view AddressText) {
  std::string out;
  parseMailAddsInto(AddressText, out);
  return out;
}

std::string ClrXtraStr(std::string_view Subject) {
  std::string out;
  clrXtraStrInto(Subject, out);
  return out;
}

int ListMatch(std::string_view Text, std::string_view Entry) {
  if (Text.empty() || Entry.empty()) return 0;
  std::string text;
  std::string entry;
  const auto table = localeUpperTable();
  upperInto(Text, text, table);
  upperInto(Entry, entry, table);
  return listMatchUpper(text, entry);
}

int HeuristicWeight(int SpinEdit2) {
  // No integer divides by 17 to an exact half, so rounding to nearest needs no
  // tie rule here.
  const long long v = SpinEdit2;
  return static_cast<int>(v >= 0 ? (2 * v + 17) / 34 : -((-2 * v + 17) / 34));
}

int FuzzyAllowance(int SpinEdit3, std::size_t entryLength) {
  if (SpinEdit3 <= 0 || entryLength == 0) return 0;
  const auto length = static_cast<std::uint32_t>(
      std::min<std::size_t>(entryLength, std::numeric_limits<std::uint32_t>::max()));
  const Extended rate = multiplyRounded(kHalfPercent, static_cast<std::uint32_t>(SpinEdit3));
  return roundToInt(multiplyRounded(rate, length));
}

int HalfRoundedToEven(int R) {
  const int floorHalf = R >= 0 ? R / 2 : -((-R + 1) / 2);
  if (R % 2 == 0) return floorHalf;
  return floorHalf % 2 == 0 ? floorHalf : floorHalf + 1;
}

SpamScorer::SpamScorer(const ScoringInputs& inputs)
    : inputs_(inputs),
      heuristicWeight_(HeuristicWeight(clampSetting(inputs.SpinEdit2))),
      upper_(localeUpperTable()) {
  inputs_.SpinEdit2 = clampSetting(inputs_.SpinEdit2);
  inputs_.SpinEdit3 = clampSetting(inputs_.SpinEdit3);
  refresh();
}

void SpamScorer::refresh() {
  const auto prepare = [this](const ListEntries& entries, ListEntries& prepared, auto upper) {
    std::size_t bytes = 0;
    for (const std::string_view entry : entries)
      bytes += entry.size();
    prepared.clear();
    prepared.reserve(entries.size(), bytes);
    for (const std::string_view entry : entries) {
      upper(entry, entry_);
      prepared.push_back(entry_);
    }
  };
  const auto localeUpper = [this](std::string_view text, std::string& out) {
    upperInto(text, out, upper_);
  };
  if (!prepared_ || banEMRevision_ != inputs_.lbBanEM.revision()) {
    prepare(inputs_.lbBanEM.entries(), banEM_, localeUpper);
    banEMRevision_ = inputs_.lbBanEM.revision();
  }
  if (!prepared_ || allowEMRevision_ != inputs_.lbAllowEM.revision()) {
    prepare(inputs_.lbAllowEM.entries(), allowEM_, localeUpper);
    allowEMRevision_ = inputs_.lbAllowEM.revision();
  }
  if (!prepared_ || banSubjectRevision_ != inputs_.lbBanSubject.revision()) {
    const ListEntries& entries = inputs_.lbBanSubject.entries();
    prepare(entries, banSubjectUpper_, asciiUpperInto);
    banSubjectAllowance_.clear();
    banSubjectAllowance_.reserve(entries.size());
    for (const std::string_view entry : entries)
      banSubjectAllowance_.push_back(FuzzyAllowance(inputs_.SpinEdit3, entry.size()));
    banSubjectRevision_ = inputs_.lbBanSubject.revision();
  }
  prepared_ = true;
}

int SpamScorer::GetSpamLevel(std::string_view From, std::string_view ToList,
                             std::string_view Subject, MessageNode& Node, SpamCounters& Counters) {
  refresh();
  Node.BaddsLevel = 0;
  Node.ToLevel = 0;
  Node.BsubjLevel = 0;

  clrXtraStrInto(Subject, subject_);
  parseMailAddsInto(From, from_);
  upperInto(from_, fromUpper_, upper_);

  // The banned list comes first: a banned sender stays spam even when an
  // allowed entry matches it too.
  for (const std::string_view entry : banEM_) {
    if (listMatchUpper(fromUpper_, entry) > 0) {
      Node.BaddsLevel = 10;
      ++Counters.SpamCount;
      return 10;
    }
  }

  upperInto(ToList, toUpper_, upper_);
  int fromHit = 0;
  int toHit = 0;
  for (const std::string_view entry : allowEM_) {
    if (fromHit == 0) fromHit = listMatchUpper(fromUpper_, entry);
    if (toHit == 0) toHit = listMatchUpper(toUpper_, entry);
    if (fromHit > 0 && toHit > 0) break;
  }

  if (!ToList.empty() && fromHit == 0 && toHit == 0) {
    Node.ToLevel = 10;
    ++Counters.SpamCount;
    return 10;
  }

  long long level = 0;
  Node.ToLevel = 0;
  if (fromHit > 0) {
    ++Counters.ValidCount;
    return 0;
  }
  if (inputs_.Favourites1.Search(from_, /*Partial=*/true, /*CaseSensitive=*/false) >= 0) {
    ++Counters.ValidCount;
    return 0;
  }
  if (toHit > 0) level = -5;
  if (inputs_.ExtraAdds1) {
    // Replaces the allowed-recipient bonus rather than adding to it.
    level = CountChars(ToList, ",;", 1);
    Node.ToLevel = saturate(level);
  }

  const ListEntries& subjects = inputs_.lbBanSubject.entries();
  if (!subjects.empty()) asciiUpperInto(subject_, subjectUpper_);
  long long subjectPart = 0;
  for (std::size_t k = 0; k < subjects.size(); ++k) {
    if (subject_.empty() && (inputs_.PossSpamSubj || inputs_.SpamOnSubject)) {
      if (inputs_.PossSpamSubj) {
        level += 5;
        subjectPart = 5;
      } else {
        level = 10;
        subjectPart = 10;
        break;
      }
    }
    if (SimilarityAbove(subjectUpper_, banSubjectUpper_[k], 50)) {
      level += heuristicWeight_;
      subjectPart += heuristicWeight_;
    }
    int start = 0;
    const int consumed = FuzzyFind(subject_, subjects[k], banSubjectAllowance_[k], start);
    if (static_cast<std::size_t>(consumed) >= subjects[k].size()) {
      const int add = HalfRoundedToEven(consumed);
      level += add;
      subjectPart += add;
    }
  }
  Node.BsubjLevel = saturate(subjectPart);

  const int result = static_cast<int>(std::clamp<long long>(level, 0, 10));
  if (result == 0) {
    ++Counters.ValidCount;
  } else if (result <= 7) {
    ++Counters.SuspectCount;
  } else {
    ++Counters.SpamCount;
  }
  return result;
}

int GetSpamLevel(const ScoringInputs& inputs, std::string_view From, std::string_view ToList,
                 std::string_view Subject, MessageNode& Node, SpamCounters& Counters) {
  SpamScorer scorer(inputs);
  return scorer.GetSpamLevel(From, ToList, Subject, Node, Counters);
}

}  // namespace kelvrin::filter
