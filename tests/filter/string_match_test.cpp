#include "filter/string_match.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kelvrin::filter {
namespace {

// ---- Similarity -------------------------------------------------------------

// The gestalt score written plainly from its description, 1-based, with an
// unbounded stack; it also reports the raw percentage before any clamp and the
// deepest stack it needed.
struct ReferenceSimilarity {
  long raw = 0;
  std::size_t maxDepth = 0;
};

ReferenceSimilarity referenceSimilarity(const std::string& s1, const std::string& s2) {
  const long n1 = static_cast<long>(s1.size());
  const long n2 = static_cast<long>(s2.size());
  if (n1 == 0 || n2 == 0 || n1 > 255 || n2 > 255) return {};
  struct Pair {
    long a1, e1, a2, e2;
  };
  auto c1 = [&](long p) { return s1[static_cast<std::size_t>(p - 1)]; };
  auto c2 = [&](long p) { return s2[static_cast<std::size_t>(p - 1)]; };
  auto worth = [](long l1, long l2) { return l1 > 0 && l2 > 0 && !(l1 == 1 && l2 == 1); };
  std::vector<Pair> stack{{1, n1, 1, n2}};
  ReferenceSimilarity result;
  long matched = 0;
  while (!stack.empty()) {
    result.maxDepth = std::max(result.maxDepth, stack.size());
    const Pair p = stack.back();
    stack.pop_back();
    long best = 0, b1 = 0, b2 = 0, lim1 = p.e1, lim2 = p.e2;
    for (long i = p.a1; i <= lim1; ++i) {
      for (long j = p.a2; j <= lim2;) {
        long k = 0;
        while (j + k <= p.e2 && i + k <= n1 && c1(i + k) == c2(j + k))
          ++k;
        if (k == 0) {
          ++j;
        } else if (k <= best) {
          j += k;
        } else {
          lim1 -= k - best;
          lim2 -= k - best;
          best = k;
          b1 = i;
          b2 = j;
          j += k;
        }
      }
    }
    if (best == 0) continue;
    matched += best;
    if (worth(b1 - p.a1, b2 - p.a2)) stack.push_back({p.a1, b1 - 1, p.a2, b2 - 1});
    if (worth(p.e1 - (b1 + best) + 1, p.e2 - (b2 + best) + 1)) {
      stack.push_back({b1 + best, p.e1, b2 + best, p.e2});
    }
  }
  result.raw = ((2 * matched * 1000) / (n1 + n2) + 5) / 10;
  return result;
}

struct SimilarityCase {
  const char* name;
  std::string s1;
  std::string s2;
  int expected;
};

class SimilarityExamples : public ::testing::TestWithParam<SimilarityCase> {};

TEST_P(SimilarityExamples, GivesTheDocumentedPercentage) {
  const auto& c = GetParam();
  EXPECT_EQ(Similarity(c.s1, c.s2), c.expected) << c.s1 << " / " << c.s2;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimilarityExamples,
    ::testing::Values(
        SimilarityCase{"Identical", "WIKIMEDIA", "WIKIMEDIA", 100},
        SimilarityCase{"NothingInCommon", "ABC", "XYZ", 0},
        SimilarityCase{"WikimediaWikimania", "WIKIMEDIA", "WIKIMANIA", 78},
        SimilarityCase{"Swapped", "AB", "BA", 50},
        SimilarityCase{"RunReachesPastItsRegion", "AXYZ", "AXBBXYZ", 91},
        SimilarityCase{"SingleSame", "A", "A", 100}, SimilarityCase{"SingleDifferent", "A", "B", 0},
        SimilarityCase{"ThreeOfEightRoundsHalfUp", "ABC", "ABCDE", 75},
        SimilarityCase{"OneOfThreeRoundsUp", "A", "AB", 67},
        SimilarityCase{"EmptyFirst", "", "ABC", 0}, SimilarityCase{"EmptySecond", "ABC", "", 0},
        SimilarityCase{"CaseMatters", "abc", "ABC", 0},
        SimilarityCase{"Longest255", std::string(255, 'Q'), std::string(255, 'Q'), 100},
        SimilarityCase{"TooLong256", std::string(256, 'Q'), std::string(256, 'Q'), 0},
        SimilarityCase{"OneTooLong", "QQQ", std::string(256, 'Q'), 0},
        SimilarityCase{"CountsPastOneHundredIsClamped", "AABA", "AAABA", 100}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Similarity, ClampsWhereTheRegionOverrunCountsMoreThanTheTextsHold) {
  // The raw formula gives 111 here; a percentage stops at 100.
  EXPECT_GT(referenceSimilarity("AABA", "AAABA").raw, 100);
  EXPECT_EQ(Similarity("AABA", "AAABA"), 100);
}

TEST(Similarity, OfARandomTextWithItselfIs100) {
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::string s(1 + rng() % 255, ' ');
    for (char& c : s)
      c = static_cast<char>(rng() % 256);
    EXPECT_EQ(Similarity(s, s), 100) << "length " << s.size();
  }
}

// Runs of two characters that occur in both texts, each preceded by filler
// that matches nothing on the other side: every split leaves a left pair of
// two and one characters pending, so the stack grows by one per run.
TEST(Similarity, TextsThatSplitIntoManyRegionsNeedMoreThan25PendingPairs) {
  std::string s1;
  std::string s2;
  unsigned char next = 128;
  while (s1.size() + 4 <= 255) {
    const char a = static_cast<char>(next++);
    const char b = static_cast<char>(next++);
    s1 += std::string("xx") + a + b;
    s2 += std::string("y") + a + b;
  }
  const auto reference = referenceSimilarity(s1, s2);
  EXPECT_GT(reference.maxDepth, 60u);
  // 63 runs of two: 200 × 126 / (252 + 189), rounded half up.
  EXPECT_EQ(reference.raw, 57);
  EXPECT_EQ(Similarity(s1, s2), 57);
}

TEST(Similarity, AgreesWithAPlainUnboundedImplementationOnRandomTexts) {
  std::mt19937 rng(2024);
  std::size_t deepest = 0;
  for (int round = 0; round < 3000; ++round) {
    // Small alphabets make many short common runs, and so many regions.
    const unsigned alphabet = 2 + rng() % 6;
    const std::size_t n1 = 1 + rng() % (round % 3 == 0 ? 255 : 40);
    const std::size_t n2 = 1 + rng() % (round % 3 == 0 ? 255 : 40);
    std::string s1(n1, ' ');
    std::string s2(n2, ' ');
    for (char& c : s1)
      c = static_cast<char>('A' + rng() % alphabet);
    for (char& c : s2)
      c = static_cast<char>('A' + rng() % alphabet);
    const auto reference = referenceSimilarity(s1, s2);
    deepest = std::max(deepest, reference.maxDepth);
    ASSERT_EQ(Similarity(s1, s2), std::min<long>(reference.raw, 100)) << s1 << " / " << s2;
  }
  EXPECT_GT(deepest, 1u);
}

TEST(SimilarityAbove, DecidesExactlyAsTheFullScoreWould) {
  std::mt19937 rng(99);
  for (int round = 0; round < 2000; ++round) {
    const unsigned alphabet = 2 + rng() % 10;
    std::string s1(rng() % 60, ' ');
    std::string s2(rng() % 60, ' ');
    for (char& c : s1)
      c = static_cast<char>('A' + rng() % alphabet);
    for (char& c : s2)
      c = static_cast<char>('A' + rng() % alphabet);
    const int score = Similarity(s1, s2);
    for (int percent = -1; percent <= 101; ++percent) {
      ASSERT_EQ(SimilarityAbove(s1, s2, percent), score > percent)
          << s1 << " / " << s2 << " above " << percent;
    }
  }
  EXPECT_FALSE(SimilarityAbove("AABA", "AAABA", 100));  // clamped at 100
  EXPECT_TRUE(SimilarityAbove("AABA", "AAABA", 99));
}

// ---- WildFind --------------------------------------------------------------

struct WildCase {
  const char* name;
  const char* source;
  const char* pattern;
  int start;
  int expected;
};

class WildFindExamples : public ::testing::TestWithParam<WildCase> {};

TEST_P(WildFindExamples, FindsTheFirstPositionFromStart) {
  const auto& c = GetParam();
  EXPECT_EQ(WildFind(c.source, c.pattern, c.start), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, WildFindExamples,
                         ::testing::Values(WildCase{"Exact", "hello world", "world", 1, 7},
                                           WildCase{"QuestionMarkMatchesAny", "hello", "l?o", 1, 3},
                                           WildCase{"FromLaterStart", "abcabc", "bc", 3, 5},
                                           WildCase{"StartOnTheHit", "abcabc", "bc", 5, 5},
                                           WildCase{"TooFewLeftFromStart", "hello", "l?o", 4, 0},
                                           WildCase{"StartZero", "hello", "h", 0, 0},
                                           WildCase{"StartPastEnd", "hello", "o", 6, 0},
                                           WildCase{"EmptySource", "", "a", 1, 0},
                                           WildCase{"EmptyPattern", "abc", "", 1, 0},
                                           WildCase{"QuestionMarkInSourceIsLiteral", "a?c", "abc",
                                                    1, 0},
                                           WildCase{"NotFound", "abc", "abd", 1, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- FuzzyFind -------------------------------------------------------------

struct FuzzyCase {
  const char* name;
  const char* source;
  const char* pattern;
  int maxErrors;
  int start;
  int expected;
  int expectedStart;
};

class FuzzyFindExamples : public ::testing::TestWithParam<FuzzyCase> {};

TEST_P(FuzzyFindExamples, GivesTheDocumentedStretch) {
  const auto& c = GetParam();
  int start = c.start;
  EXPECT_EQ(FuzzyFind(c.source, c.pattern, c.maxErrors, start), c.expected);
  EXPECT_EQ(start, c.expectedStart);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FuzzyFindExamples,
    ::testing::Values(
        FuzzyCase{"ExactInside", "hello world", "world", 1, 0, 5, 7},
        FuzzyCase{"Swap", "hello wolrd", "world", 1, 0, 5, 7},
        FuzzyCase{"InsertionAfterLastCharacterEndsFirst", "hello worlld", "world", 1, 0, 5, 7},
        FuzzyCase{"Deletion", "hello wrld", "world", 1, 0, 4, 7},
        FuzzyCase{"VirtualCharacterStandsForMissingFirst", "orld", "world", 1, 0, 5, 0},
        FuzzyCase{"VirtualAttemptCostsTwoAndFails", "xorld", "world", 1, 0, 5, 1},
        FuzzyCase{"MissingCharactersAtEndCost", "abcd", "abcdef", 2, 0, 4, 1},
        FuzzyCase{"TooManyMissingAtEnd", "abc", "abcdef", 2, 0, 0, 0},
        FuzzyCase{"ZeroErrorsWithStartZeroNeverMatches", "world", "world", 0, 0, 0, 0},
        FuzzyCase{"ZeroErrorsIsAWildSearch", "hello world", "w?rld", 0, 1, 5, 7},
        FuzzyCase{"ZeroErrorsNotFoundClearsStart", "hello", "xyz", 0, 1, 0, 0},
        FuzzyCase{"AllowanceCoversPatternGivesShorter", "ab", "xyz", 3, 0, 2, 0},
        FuzzyCase{"AllowanceCoversPatternGivesPattern", "abcdef", "xy", 2, 0, 2, 0},
        FuzzyCase{"AllowanceCoversPatternStartPastEnd", "ab", "xy", 2, 3, 0, 3},
        FuzzyCase{"CapitalCostsOneError", "cheap viagra now", "Viagra", 2, 0, 7, 6},
        FuzzyCase{"AllCapitalsCostTooMuch", "cheap viagra now", "VIAGRA", 2, 0, 0, 0},
        FuzzyCase{"NegativeErrors", "abc", "abc", -1, 0, 0, 0},
        FuzzyCase{"EmptySource", "", "abc", 1, 0, 0, 0},
        FuzzyCase{"EmptyPattern", "abc", "", 1, 0, 0, 0},
        FuzzyCase{"StartAfterTheOnlyHit", "world hello", "world", 1, 3, 0, 3}),
    [](const auto& info) { return std::string(info.param.name); });

// The consumed stretch must lie inside the text: from Start on to the end of
// Source, where Start = 0 adds the one virtual character in front.
TEST(FuzzyFind, NeverReportsAStretchLongerThanTheTextAllows) {
  std::mt19937 rng(777);
  int found = 0;
  for (int round = 0; round < 20000; ++round) {
    const unsigned alphabet = 2 + rng() % 4;
    std::string source(1 + rng() % 30, ' ');
    std::string pattern(1 + rng() % 12, ' ');
    for (char& c : source)
      c = static_cast<char>('a' + rng() % alphabet);
    for (char& c : pattern)
      c = static_cast<char>('a' + rng() % alphabet);
    const int maxErrors = static_cast<int>(rng() % pattern.size());  // below the pattern length
    const int initialStart = static_cast<int>(rng() % (source.size() + 2));
    int start = initialStart;
    const int length = FuzzyFind(source, pattern, maxErrors, start);
    const int sourceLength = static_cast<int>(source.size());
    if (length == 0) {
      if (maxErrors > 0) {
        ASSERT_EQ(start, initialStart);
      }
      continue;
    }
    ++found;
    ASSERT_GE(start, initialStart);
    if (start == 0) {
      ASSERT_LE(length, sourceLength + 1) << source << " / " << pattern;
    } else {
      ASSERT_LE(start + length - 1, sourceLength) << source << " / " << pattern;
    }
    ASSERT_LE(length, static_cast<int>(pattern.size()) + maxErrors) << source << " / " << pattern;
  }
  EXPECT_GT(found, 1000);
}

// ---- CountChars ------------------------------------------------------------

TEST(CountChars, CountsTheSetMembersFromStart) {
  EXPECT_EQ(CountChars("a,b;c", ",;", 1), 2);
  EXPECT_EQ(CountChars("a,b;c", ",;", 3), 1);
  EXPECT_EQ(CountChars("a,b;c", ",;", 5), 0);
  EXPECT_EQ(CountChars("aaa", "aa", 1), 3);  // a repeated set member counts once
  EXPECT_EQ(CountChars(std::string("\0\xff", 2), std::string("\xff\0", 2), 1), 2);
}

TEST(CountChars, GivesZeroForOutOfRangeArguments) {
  EXPECT_EQ(CountChars("", ",", 1), 0);
  EXPECT_EQ(CountChars("a,b", "", 1), 0);
  EXPECT_EQ(CountChars("a,b", ",", 0), 0);
  EXPECT_EQ(CountChars("a,b", ",", 4), 0);
  EXPECT_EQ(CountChars("a,b", std::string(257, ','), 1), 0);
  EXPECT_EQ(CountChars("a,b", std::string(256, ','), 1), 1);
}

// ---- ScrambleText / UnscrambleText -----------------------------------------

struct ScrambleCase {
  const char* name;
  std::string plain;
  std::string scrambled;
};

class ScramblePinned : public ::testing::TestWithParam<ScrambleCase> {};

// Other copies of the program must read what this one writes: a change of the
// substitution table or of the key schedule breaks these.
TEST_P(ScramblePinned, ScramblesToTheFixedWireText) {
  std::string text = GetParam().plain;
  ScrambleText(text);
  EXPECT_EQ(text, GetParam().scrambled);
}

TEST_P(ScramblePinned, UnscramblesTheWireText) {
  std::string text = GetParam().scrambled;
  UnscrambleText(text);
  EXPECT_EQ(text, GetParam().plain);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScramblePinned,
    ::testing::Values(ScrambleCase{"CommandCode", "kelvrin:1234", "2Ow?`,u,CAsD"},
                      ScrambleCase{"Greeting", "Hello, World!",
                                   "iA\x7f"
                                   "wmdPA}jg:s"},
                      ScrambleCase{"Sentence", "The quick brown fox jumps over the lazy dog~",
                                   "0fWH/;<R9@Mj`6nZ\x7f"
                                   "g1Ja)!<vR~+GkI<jNQdX^=Z3f`X"},
                      ScrambleCase{"BytesOutsideTheRangePass",
                                   "a\tb\xe9"
                                   "c",
                                   "@\t]\xe9"
                                   "B"},
                      ScrambleCase{"Empty", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ScrambleText, UnscrambleRestoresRandomTexts) {
  std::mt19937 rng(4242);
  for (int round = 0; round < 2000; ++round) {
    std::string original(rng() % 300, ' ');
    const bool printableOnly = round % 2 == 0;
    for (char& c : original) {
      c = static_cast<char>(printableOnly ? 32 + rng() % 96 : rng() % 256);
    }
    std::string text = original;
    ScrambleText(text);
    for (std::size_t k = 0; k < text.size(); ++k) {
      const auto before = static_cast<unsigned char>(original[k]);
      const auto after = static_cast<unsigned char>(text[k]);
      if (before < 32 || before > 127) {
        ASSERT_EQ(after, before);
      } else {
        ASSERT_TRUE(after >= 32 && after <= 127);
      }
    }
    UnscrambleText(text);
    ASSERT_EQ(text, original);
  }
}

TEST(ScrambleText, LeavesTextsWithoutCharacters32To127Unchanged) {
  const std::string original("\x01\x1f\x80\xff\n\r\0", 7);
  std::string text = original;
  ScrambleText(text);
  EXPECT_EQ(text, original);
  UnscrambleText(text);
  EXPECT_EQ(text, original);
}

}  // namespace
}  // namespace kelvrin::filter
