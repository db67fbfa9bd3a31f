// Display text of the rows of a view: 10,000 header views (From, To,
// Subject) as a mailbox of today delivers them — mostly plain ASCII, many
// UTF-8 encoded words, and some in the older 8-bit and Asian charsets, so
// that iconv's conversions are part of the figure. A view of 10,000 rows
// must never wait for its display text.

#include <benchmark/benchmark.h>

#include <array>
#include <string>
#include <vector>

#include "mail/display_text.h"
#include "mail/mail_message.h"

namespace kelvrin::mail::bench {
namespace {

constexpr int kViews = 10000;

struct HeaderView {
  std::string From;
  std::string To;
  std::string Subject;
};

// One view of each kind; the number makes every view's text its own.
HeaderView viewFor(int i) {
  const std::string n = std::to_string(i);
  static const std::array<HeaderView, 10> kKinds = {{
      {"\"Alex Morgan\" <alex.morgan@example.com>", "Sam Taylor <sam.taylor@example.org>",
       "Lunch on Friday?"},
      {"newsletter@lists.example.com", "sam.taylor@example.org", "Your weekly digest"},
      {"=?UTF-8?Q?Ren=C3=A9e_Dupr=C3=A9?= <renee@example.fr>", "sam.taylor@example.org",
       "=?UTF-8?Q?Caf=C3=A9_cr=C3=A8me_=E2=80=93_menu?="},
      {"=?utf-8?B?0JjQstCw0L0g0J/QtdGC0YDQvtCy?= <ivan@example.ru>",
       "\"Taylor, Sam\" <sam.taylor@example.org>, team@example.org",
       "=?utf-8?B?0J/RgNC40LLQtdGCINC40Lcg0JzQvtGB0LrQstGL?="},
      {"Promo Team <news@promo.example.com>", "sam.taylor@example.org",
       "=?utf-8?Q?Last_chance=3A_50=25_off_everything?="},
      {"=?iso-8859-1?Q?J=F6rg_M=FCller?= <joerg@example.de>", "sam.taylor@example.org",
       "=?iso-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?="},
      {"=?koi8-r?B?8MXU0s/X?= <petrov@example.ru>", "sam.taylor@example.org",
       "=?koi8-r?B?8NLJ18XUIMnaIO3P08vX2Q==?="},
      {"=?ISO-2022-JP?B?GyRCOzNFRBsoQg==?= <yamada@example.jp>", "sam.taylor@example.org",
       "=?ISO-2022-JP?B?GyRCJDMkcyRLJEEkTyEiJE4kJCQkJEckOSEjGyhC?="},
      {"\"Support\" <support@shop.example.com>", "sam.taylor@example.org",
       "Re: Order #4711 =?utf-8?Q?shipped_=F0=9F=93=A6?= today"},
      {"=?gb2312?B?1cXI/Q==?= <zhang@example.cn>", "sam.taylor@example.org",
       "=?gb2312?B?xOO6w6Oh?="},
  }};
  HeaderView v = kKinds[static_cast<std::size_t>(i) % kKinds.size()];
  v.Subject += " " + n;
  v.To += ", list-" + n + "@example.org";
  return v;
}

std::vector<HeaderView> views() {
  std::vector<HeaderView> all;
  all.reserve(kViews);
  for (int i = 0; i < kViews; ++i)
    all.push_back(viewFor(i));
  return all;
}

// The three header values of every view through the display function.
void BM_HeaderDisplayText10000Views(benchmark::State& state) {
  const std::vector<HeaderView> all = views();
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    for (const HeaderView& v : all) {
      bytes += HeaderDisplayText(v.From).size();
      bytes += HeaderDisplayText(v.To).size();
      bytes += HeaderDisplayText(v.Subject).size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["views"] = kViews;
  state.counters["display_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HeaderDisplayText10000Views)->Unit(benchmark::kMillisecond);

// What a row shows, from the parsed message (the address views included),
// as the command line and the window derive it.
void BM_DisplayHeaders10000Messages(benchmark::State& state) {
  std::vector<TMailMessage> messages(kViews);
  const std::vector<HeaderView> all = views();
  for (int i = 0; i < kViews; ++i) {
    const HeaderView& v = all[static_cast<std::size_t>(i)];
    messages[static_cast<std::size_t>(i)].LoadRawMail({"From: " + v.From, "To: " + v.To,
                                                       "Subject: " + v.Subject,
                                                       "Date: Tue, 5 Mar 2024 10:20:30 +0100", ""});
  }
  for (auto _ : state) {
    std::size_t bytes = 0;
    for (const TMailMessage& m : messages) {
      const MessageDisplay d = DisplayHeaders(m);
      bytes += d.From.size() + d.SendTo.size() + d.Subject.size() + d.Date.size();
    }
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["views"] = kViews;
}
BENCHMARK(BM_DisplayHeaders10000Messages)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace kelvrin::mail::bench

BENCHMARK_MAIN();
