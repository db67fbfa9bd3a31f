#pragma once

// Text routines of the spam filter and the command mails: a similarity
// percentage, an approximate search, a wildcard search, a character count and
// the scrambling pair. They compare bytes by code (no locale, no case
// folding), keep no state between calls and never allocate.
//
// Positions in and out are 1-based, as every caller of these routines counts
// them; position 0 has a meaning of its own where noted. A negative Start is
// not supported and gives the "nothing found" result.

#include <string>
#include <string_view>

namespace kelvrin::filter {

// Gestalt similarity of two texts, 0..100: the longest common run counts, and
// the same is done again to its left and to its right. 0 when either text is
// empty or longer than 255 characters.
int Similarity(std::string_view S1, std::string_view S2);

// Similarity(S1, S2) > percent, decided without finishing the count once the
// answer is certain; for callers that only compare the score with a bound.
bool SimilarityAbove(std::string_view S1, std::string_view S2, int percent);

// The first stretch of Source, from position Start on, that matches Pattern
// with at most MaxErrors errors (a substitution, insertion, deletion or swap of
// two neighbours costs one). Returns the length of the stretch (0 if none) and
// sets Start to its first position. Start = 0 lets the first attempt begin at
// a virtual character of code 0 in front of Source.
int FuzzyFind(std::string_view Source, std::string_view Pattern, int MaxErrors, int& Start);

// First position at or after Start where Pattern occurs in Source, "?" in the
// pattern matching any character; 0 if none (and always 0 for Start = 0).
int WildFind(std::string_view Source, std::string_view Pattern, int Start);

// Number of characters of Source from position Start to the end that occur in
// CharSet (a set of at most 256 characters).
int CountChars(std::string_view Source, std::string_view CharSet, int Start);

// The scrambling of command and flash mails: a position- and length-dependent
// substitution of the characters 32..127 that leaves every other byte alone.
// UnscrambleText(ScrambleText(s)) == s, also between different copies of the
// program, which is why the tables behind them must never change.
void ScrambleText(std::string& S);
void UnscrambleText(std::string& S);

}  // namespace kelvrin::filter
