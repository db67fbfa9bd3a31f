#include "filter/string_match.h"

#include <array>
#include <bit>
#include <climits>
#include <cstddef>
#include <cstdint>

namespace kelvrin::filter {
namespace {

using Index = std::ptrdiff_t;

constexpr std::size_t kMaxSimilarityLength = 255;
// Longer sources than this cannot report their positions as int.
constexpr std::size_t kMaxPositionLength = INT_MAX - 1;

unsigned char at(std::string_view s, Index i) {
  return static_cast<unsigned char>(s[i]);
}

// A pending pair of regions of Similarity, 0-based and inclusive.
struct RegionPair {
  std::int16_t a1, e1, a2, e2;
};

// Every pending pair holds a non-empty S2 region, and the S2 regions of the
// pending pairs never overlap (each split hands out disjoint parts of the
// region it came from). So a text of at most 255 characters can never have
// more than 255 pairs pending, and this fixed stack cannot overflow.
constexpr std::size_t kRegionStackSize = kMaxSimilarityLength;

// Beyond every position, so that a search limit stops at it.
constexpr std::int16_t kNoPosition = INT16_MAX;

bool worthSplitting(Index len1, Index len2) {
  return len1 > 0 && len2 > 0 && !(len1 == 1 && len2 == 1);
}

// The number of matched characters of the gestalt score. With kDecideOnly it
// may stop as soon as the total is known to reach `needed` or known to stay
// below it; the value returned is then on the same side of `needed` as the
// full count.
template <bool kDecideOnly>
long matchedCharacters(std::string_view S1, std::string_view S2, long needed) {
  const Index n1 = static_cast<Index>(S1.size());
  const Index n2 = static_cast<Index>(S2.size());

  // Where each character occurs in S2, in ascending order: the search below
  // jumps from one candidate start to the next instead of stepping over the
  // positions where no run can begin.
  std::array<std::int16_t, 256> firstAt;
  firstAt.fill(kNoPosition);
  std::array<std::int16_t, kMaxSimilarityLength> nextSame;
  for (Index p = n2 - 1; p >= 0; --p) {
    nextSame[static_cast<std::size_t>(p)] = firstAt[at(S2, p)];
    firstAt[at(S2, p)] = static_cast<std::int16_t>(p);
  }

  std::array<RegionPair, kRegionStackSize> stack;
  std::size_t depth = 0;
  stack[depth++] = {0, static_cast<std::int16_t>(n1 - 1), 0, static_cast<std::int16_t>(n2 - 1)};
  long matched = 0;
  // A pair can add at most the length of its S2 region (the S2 sides of the
  // runs never overlap), so this bounds what the pending pairs can still add.
  long pendingS2 = n2;

  while (depth > 0) {
    const RegionPair r = stack[--depth];
    pendingS2 -= r.e2 - r.a2 + 1;
    Index best = 0;
    Index b1 = 0;
    Index b2 = 0;
    // The limits shrink as the best run grows: a later start can only win if
    // it leaves room for a longer run. With the skip below they decide which
    // of several equally long runs is taken, and so the result.
    Index lim1 = r.e1;
    Index lim2 = r.e2;
    for (Index i = r.a1; i <= lim1; ++i) {
      // j steps by one past every position where S2 differs from S1[i] (no
      // run starts there) and by the run's length past a run; so the starts
      // it tries are the occurrences of S1[i] that no earlier run covered.
      Index j = r.a2;
      for (Index p = firstAt[at(S1, i)]; p <= lim2; p = nextSame[static_cast<std::size_t>(p)]) {
        if (p < j) continue;
        // The S1 side may run past the region up to the end of the text.
        Index k = 1;
        while (i + k < n1 && p + k <= r.e2 && at(S1, i + k) == at(S2, p + k))
          ++k;
        if (k > best) {
          lim1 -= k - best;
          lim2 -= k - best;
          best = k;
          b1 = i;
          b2 = p;
        }
        j = p + k;
      }
    }
    if (best > 0) {
      matched += best;
      if (worthSplitting(b1 - r.a1, b2 - r.a2)) {
        stack[depth++] = {r.a1, static_cast<std::int16_t>(b1 - 1), r.a2,
                          static_cast<std::int16_t>(b2 - 1)};
        pendingS2 += b2 - r.a2;
      }
      if (worthSplitting(r.e1 - (b1 + best) + 1, r.e2 - (b2 + best) + 1)) {
        stack[depth++] = {static_cast<std::int16_t>(b1 + best), r.e1,
                          static_cast<std::int16_t>(b2 + best), r.e2};
        pendingS2 += r.e2 - (b2 + best) + 1;
      }
    }
    if constexpr (kDecideOnly) {
      if (matched >= needed || matched + pendingS2 < needed) return matched;
    }
  }
  return matched;
}

bool similarityDefined(std::string_view S1, std::string_view S2) {
  return !S1.empty() && !S2.empty() && S1.size() <= kMaxSimilarityLength &&
         S2.size() <= kMaxSimilarityLength;
}

}  // namespace

int Similarity(std::string_view S1, std::string_view S2) {
  if (!similarityDefined(S1, S2)) return 0;
  const long matched = matchedCharacters<false>(S1, S2, 0);
  const long total = static_cast<long>(S1.size() + S2.size());
  const long result = ((2 * matched * 1000) / total + 5) / 10;
  // A run that reaches past its region can count characters of S1 twice, so
  // the formula may pass 100 ('AABA' against 'AAABA'); a percentage cannot.
  return result > 100 ? 100 : static_cast<int>(result);
}

bool SimilarityAbove(std::string_view S1, std::string_view S2, int percent) {
  if (percent >= 100) return false;
  if (!similarityDefined(S1, S2)) return 0 > percent;
  if (percent < 0) return true;
  // ((2000 m) div total + 5) div 10 > percent  <=>  2000 m >= (10 percent + 5) total
  const long total = static_cast<long>(S1.size() + S2.size());
  const long scaled = (10L * percent + 5) * total;
  const long needed = (scaled + 1999) / 2000;
  return matchedCharacters<true>(S1, S2, needed) >= needed;
}

int WildFind(std::string_view Source, std::string_view Pattern, int Start) {
  if (Source.empty() || Pattern.empty() || Start <= 0 || Source.size() > kMaxPositionLength) {
    return 0;
  }
  const Index n = static_cast<Index>(Source.size());
  const Index m = static_cast<Index>(Pattern.size());
  const Index first = Start - 1;
  if (first >= n || n - first < m) return 0;
  for (Index p = first; p <= n - m; ++p) {
    Index k = 0;
    while (k < m && (Pattern[k] == '?' || Pattern[k] == Source[p + k]))
      ++k;
    if (k == m) return static_cast<int>(p + 1);
  }
  return 0;
}

int FuzzyFind(std::string_view Source, std::string_view Pattern, int MaxErrors, int& Start) {
  if (Source.empty() || Pattern.empty() || MaxErrors < 0 || Start < 0 ||
      Source.size() > kMaxPositionLength || Pattern.size() > kMaxPositionLength) {
    return 0;
  }
  const Index L1 = static_cast<Index>(Source.size());
  const Index L2 = static_cast<Index>(Pattern.size());
  if (MaxErrors == 0) {
    Start = WildFind(Source, Pattern, Start);
    return Start > 0 ? static_cast<int>(L2) : 0;
  }
  if (MaxErrors >= L2) {
    if (Start > L1) return 0;
    return static_cast<int>(L1 < L2 ? L1 : L2);
  }

  // Source index -1 is the virtual character in front of the text.
  auto src = [&](Index x) -> unsigned char { return x < 0 ? 0 : at(Source, x); };

  // One attempt at 1-based position P; returns the consumed length or 0.
  auto attempt = [&](Index P) -> Index {
    Index i = 0;      // next pattern character
    Index j = P - 1;  // next source character
    long errors = 0;
    bool first = true;
    for (;;) {
      const unsigned char c = at(Pattern, i);
      const unsigned char s = src(j);
      ++i;
      ++j;
      bool sourceEnded = false;
      if (s != c) {
        if (++errors > MaxErrors) return 0;
        if (i >= L2) break;  // c was the last pattern character
        if (j >= L1) {
          sourceEnded = true;
        } else {
          const unsigned char s2 = src(j);
          const unsigned char c2 = at(Pattern, i);
          const bool x = s2 == c;
          // An attempt never begins with an extra source character.
          if (x && first) return 0;
          if (s == c2) {
            if (x) {  // two neighbours swapped: both are passed
              ++i;
              ++j;
            } else {  // c is missing: compare s again, with c2
              --j;
            }
          } else if (x) {  // s is extra: compare c again, with s2
            --i;
          }
        }
      }
      if (!sourceEnded) {
        first = false;
        if (i >= L2) break;
        if (j < L1) continue;
      }
      // Every pattern character not yet compared costs one error.
      errors += L2 - i;
      break;
    }
    if (errors > MaxErrors) return 0;
    return j + 1 - P;
  };

  for (Index P = Start; P <= L1 - L2 + MaxErrors + 1; ++P) {
    const Index consumed = attempt(P);
    if (consumed > 0) {
      Start = static_cast<int>(P);
      return static_cast<int>(consumed);
    }
  }
  return 0;
}

int CountChars(std::string_view Source, std::string_view CharSet, int Start) {
  if (Source.empty() || CharSet.empty() || Start <= 0 || CharSet.size() > 256 ||
      static_cast<std::size_t>(Start) > Source.size()) {
    return 0;
  }
  std::array<std::uint64_t, 4> set{};
  for (const char ch : CharSet) {
    const auto v = static_cast<unsigned char>(ch);
    set[v >> 6] |= std::uint64_t{1} << (v & 63);
  }
  int count = 0;
  for (std::size_t p = static_cast<std::size_t>(Start) - 1; p < Source.size(); ++p) {
    const auto v = static_cast<unsigned char>(Source[p]);
    if ((set[v >> 6] >> (v & 63)) & 1) ++count;
  }
  return count;
}

namespace {

// The substitution table of the scrambling. Every copy of Kelvrin must be able
// to unscramble what any other copy scrambled, so these 96 values are part of
// the wire format of command and flash mails: NEVER change them. The tests pin
// scrambled outputs to catch an accidental edit.
constexpr std::array<std::uint8_t, 96> kScrambleTable = {
    32, 81, 38, 26, 56, 44, 46, 93, 52, 55, 89, 8,  90, 84, 21, 6,  67, 42, 33, 83, 45, 95, 41, 35,
    74, 94, 20, 11, 88, 72, 86, 25, 36, 54, 51, 16, 58, 73, 49, 68, 65, 50, 13, 47, 5,  4,  37, 79,
    2,  62, 0,  43, 28, 61, 91, 57, 7,  14, 17, 92, 75, 87, 64, 39, 48, 40, 53, 34, 10, 63, 78, 66,
    70, 12, 76, 30, 71, 18, 77, 69, 15, 22, 80, 82, 31, 27, 23, 29, 19, 1,  60, 24, 85, 9,  59, 3};

constexpr std::array<std::uint8_t, 96> invert(const std::array<std::uint8_t, 96>& table) {
  std::array<std::uint8_t, 96> inverse{};
  for (std::size_t v = 0; v < table.size(); ++v)
    inverse[table[v]] = static_cast<std::uint8_t>(v);
  return inverse;
}

constexpr std::array<std::uint8_t, 96> kUnscrambleTable = invert(kScrambleTable);

constexpr bool isPermutation(const std::array<std::uint8_t, 96>& table) {
  std::array<bool, 96> seen{};
  for (const auto v : table) {
    if (v >= 96 || seen[v]) return false;
    seen[v] = true;
  }
  return true;
}
static_assert(isPermutation(kScrambleTable), "the scramble table must be a permutation of 0..95");

template <bool kScramble>
void scramble(std::string& S) {
  const std::size_t n = S.size();
  auto key = static_cast<std::uint32_t>(n);
  for (std::size_t q = 0; q < n; ++q) {
    const auto code = static_cast<unsigned char>(S[q]);
    if (code < 32 || code > 127) continue;
    const std::uint32_t v = code - 32u;
    const auto remaining = static_cast<std::uint32_t>(n - q);
    if (remaining % 4 != 0) key = std::rotl(key, 3);
    key &= ~std::uint32_t{0xE0};
    if constexpr (kScramble) {
      const std::uint32_t t = kScrambleTable[v] ^ (key & 31u);
      key += remaining + t;
      S[q] = static_cast<char>(t + 32);
    } else {
      const std::uint32_t u = v ^ (key & 31u);
      key += remaining + v;
      S[q] = static_cast<char>(kUnscrambleTable[u] + 32);
    }
  }
}

}  // namespace

void ScrambleText(std::string& S) {
  scramble<true>(S);
}

void UnscrambleText(std::string& S) {
  scramble<false>(S);
}

}  // namespace kelvrin::filter
