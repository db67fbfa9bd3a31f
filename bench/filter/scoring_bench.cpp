// Scoring one check's worth of messages against full rule lists.
//
//   build-filter/bench/filter/kelvrin_filter_bench
//
// 10,000 parsed messages (From, To and Subject as the message view passes
// them) against 100 banned subjects, 100 banned addresses, 100 allowed
// addresses and 50 favourites, with the default detection settings. Most
// messages are addressed to the user, so they reach the subject rules, the
// expensive part.

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "filter/edit_list_box.h"
#include "filter/message_node.h"
#include "filter/spam_scoring.h"
#include "filter/string_match.h"

namespace {

using namespace kelvrin::filter;

const std::vector<std::string> kFirstNames = {
    "Anna",  "Ben",   "Carla", "David", "Eva",  "Frank", "Greta", "Hugo", "Ines", "Jonas",
    "Karin", "Lukas", "Mona",  "Nils",  "Olga", "Paul",  "Rita",  "Sven", "Tina", "Uwe"};
const std::vector<std::string> kLastNames = {
    "Smith",    "Miller", "Becker", "Novak",   "Garcia", "Rossi", "Jensen", "Dubois",
    "Kowalski", "Silva",  "Larsen", "Fischer", "Moreau", "Costa", "Weber",  "Svensson"};
const std::vector<std::string> kDomains = {"mail.example", "work.example",  "uni.example",
                                           "shop.example", "news.example",  "club.example",
                                           "bank.example", "travel.example"};
const std::vector<std::string> kSpamWords = {
    "cheap",   "meds",  "online", "free",     "winner",  "viagra",   "casino", "bonus",  "offer",
    "limited", "time",  "act",    "now",      "loan",    "approved", "crypto", "profit", "lottery",
    "prize",   "claim", "urgent", "discount", "replica", "watches",  "weight", "loss"};
const std::vector<std::string> kHamSubjects = {"Meeting about the quarterly budget",
                                               "Invoice {n} for March",
                                               "Your order {n} has shipped",
                                               "Lunch on Friday?",
                                               "Minutes of the board meeting",
                                               "Photos from the weekend",
                                               "Draft of the project plan",
                                               "Reminder: dentist appointment",
                                               "Re: Holiday schedule",
                                               "Fwd: Train tickets",
                                               "Weekly newsletter no. {n}",
                                               "Password reset for your account",
                                               "Re: Re: Question about the contract",
                                               "Flight confirmation {n}",
                                               "Happy birthday!"};

std::string pick(std::mt19937& rng, const std::vector<std::string>& pool) {
  return pool[rng() % pool.size()];
}

std::string capitalised(std::string word) {
  if (!word.empty() && word[0] >= 'a' && word[0] <= 'z') word[0] = static_cast<char>(word[0] - 32);
  return word;
}

std::string spamPhrase(std::mt19937& rng, int words) {
  std::string phrase;
  for (int k = 0; k < words; ++k) {
    if (k > 0) phrase += ' ';
    phrase += pick(rng, kSpamWords);
  }
  return phrase;
}

std::string personAddress(std::mt19937& rng, const std::string& domain) {
  std::string first = pick(rng, kFirstNames);
  std::string last = pick(rng, kLastNames);
  for (auto* s : {&first, &last}) {
    for (char& c : *s)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return first + "." + last + std::to_string(rng() % 100) + "@" + domain;
}

struct Message {
  std::string From, ToList, Subject;
};

struct Fixture {
  TEditListBox banEM, allowEM, banSubject, favourites;
  std::vector<Message> messages;

  Fixture() {
    std::mt19937 rng(20240601);
    for (auto* list : {&banEM, &allowEM, &banSubject, &favourites})
      list->setSorted(true);

    for (int k = 0; k < 100; ++k) {
      // Users type banned subjects in all sorts of case.
      std::string phrase = spamPhrase(rng, 2 + static_cast<int>(rng() % 3));
      if (k % 3 == 0) phrase = capitalised(phrase);
      banSubject.Add(phrase);
      banEM.Add(k % 2 == 0 ? "promo" + std::to_string(k) + "@deals" + std::to_string(k) + ".biz"
                           : "bulk-sender" + std::to_string(k) + ".example");
      allowEM.Add(k == 0 ? std::string("me@home.example")
                         : personAddress(rng, pick(rng, kDomains)));
    }
    for (int k = 0; k < 50; ++k) {
      const std::string first = pick(rng, kFirstNames);
      favourites.Add(k % 2 == 0 ? first + " <" + personAddress(rng, "friends.example") + ">"
                                : personAddress(rng, "friends.example"));
    }

    for (int k = 0; k < 10000; ++k) {
      Message m;
      const unsigned kind = rng() % 100;
      std::string address;
      if (kind < 10) {
        address = banEM.Items(static_cast<int>(rng() % 100));
        if (address.find('@') == std::string::npos) address = "offers@" + address;
      } else if (kind < 20) {
        address = allowEM.Items(static_cast<int>(rng() % 100));
      } else if (kind < 25) {
        address = ParseMailAdds(favourites.Items(static_cast<int>(rng() % 50)));
      } else {
        address = personAddress(rng, pick(rng, kDomains));
      }
      m.From = rng() % 4 == 0 ? "<" + address + ">"
                              : "\"" + pick(rng, kFirstNames) + " " + pick(rng, kLastNames) +
                                    "\" <" + address + ">";
      // Mostly to the user, sometimes with copies, sometimes a list address
      // that no allowed entry knows.
      const unsigned to = rng() % 10;
      if (to < 6) {
        m.ToList = "\"Me\" <me@home.example>";
      } else if (to < 9) {
        m.ToList = "me@home.example, " + personAddress(rng, pick(rng, kDomains)) + " " +
                   personAddress(rng, pick(rng, kDomains));
      } else {
        m.ToList = "list@lists.example";
      }
      if (rng() % 2 == 0) {
        std::string subject = pick(rng, kHamSubjects);
        const auto n = subject.find("{n}");
        if (n != std::string::npos) subject.replace(n, 3, std::to_string(1000 + rng() % 9000));
        m.Subject = subject;
      } else if (rng() % 20 == 0) {
        m.Subject = "";
      } else {
        m.Subject = capitalised(spamPhrase(rng, 2 + static_cast<int>(rng() % 5))) + "!!!";
      }
      messages.push_back(std::move(m));
    }
  }

  ScoringInputs inputs() {
    return {banEM,
            allowEM,
            banSubject,
            favourites,
            /*SpinEdit2=*/50,
            /*SpinEdit3=*/50,
            /*SpamOnSubject=*/false,
            /*PossSpamSubj=*/true,
            /*ExtraAdds1=*/true};
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

// One check: prepare the scorer, score every message into its row record.
void BM_ScoreCheck10000(benchmark::State& state) {
  Fixture& f = fixture();
  std::vector<MessageNode> nodes(f.messages.size());
  SpamCounters counters;
  for (auto _ : state) {
    counters = SpamCounters{};
    SpamScorer scorer(f.inputs());
    for (std::size_t k = 0; k < f.messages.size(); ++k) {
      const Message& m = f.messages[k];
      nodes[k] = MessageNode{};
      nodes[k].SpamLevel = scorer.GetSpamLevel(m.From, m.ToList, m.Subject, nodes[k], counters);
    }
    benchmark::DoNotOptimize(nodes.data());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(f.messages.size()));
  state.counters["valid"] = counters.ValidCount;
  state.counters["suspect"] = counters.SuspectCount;
  state.counters["spam"] = counters.SpamCount;
}
BENCHMARK(BM_ScoreCheck10000)->Unit(benchmark::kMillisecond);

// The subject routines on their own, over the benchmark's subjects and
// banned subjects (100 entries per subject, as the scoring calls them): the
// full similarity score, the "> 50" decision the scoring uses, and the
// approximate search.
std::vector<std::string> upperSubjectEntries(const Fixture& f) {
  std::vector<std::string> entries;
  for (const auto& e : f.banSubject.entries()) {
    std::string upper(e);
    for (char& c : upper)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    entries.push_back(upper);
  }
  return entries;
}

template <bool kDecideOnly>
void BM_SimilarityPerSubject(benchmark::State& state) {
  Fixture& f = fixture();
  const std::vector<std::string> entries = upperSubjectEntries(f);
  std::size_t k = 0;
  for (auto _ : state) {
    std::string subject = ClrXtraStr(f.messages[k++ % f.messages.size()].Subject);
    for (char& c : subject)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    int sum = 0;
    for (const auto& e : entries) {
      if constexpr (kDecideOnly) {
        sum += SimilarityAbove(subject, e, 50) ? 1 : 0;
      } else {
        sum += Similarity(subject, e);
      }
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_SimilarityPerSubject<false>)->Name("BM_SimilarityPerSubject");
BENCHMARK(BM_SimilarityPerSubject<true>)->Name("BM_SimilarityAbove50PerSubject");

void BM_FuzzyFindPerSubject(benchmark::State& state) {
  Fixture& f = fixture();
  std::size_t k = 0;
  for (auto _ : state) {
    const std::string subject = ClrXtraStr(f.messages[k++ % f.messages.size()].Subject);
    int sum = 0;
    for (const auto& e : f.banSubject.entries()) {
      int start = 0;
      sum += FuzzyFind(subject, e, FuzzyAllowance(50, e.size()), start);
    }
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FuzzyFindPerSubject);

}  // namespace

BENCHMARK_MAIN();
