#include "update/website_monitor.h"

#include <gtest/gtest.h>

#include "filter/rule_lists.h"
#include "settings/forms.h"
#include "support/fake_prompter.h"

#include "update/update_doubles.h"

namespace kelvrin::test {
namespace {

using Entries = std::vector<std::string>;
const std::string kPlaceholder(filter::kPlaceholderHost);

class WebsiteMonitorTest : public ::testing::Test {
 protected:
  WebsiteMonitorTest()
      : list(filter::makeWebListBox1("/nonexistent-home")),
        options(settings::makeKVmainForm()),
        monitor(*list, *options, prompter, probe) {}

  void setEntries(const Entries& entries) {
    list->Clear();
    for (const auto& e : entries)
      list->Add(e);
  }

  std::unique_ptr<filter::TEditListBox> list;
  std::unique_ptr<settings::Form> options;
  FakePrompter prompter;
  FakeHostProbe probe;
  update::WebsiteMonitor monitor;
};

struct NormaliseCase {
  const char* name;
  Entries before;
  Entries after;
  bool enabled;
};

class NormaliseTest : public WebsiteMonitorTest,
                      public ::testing::WithParamInterface<NormaliseCase> {};

TEST_P(NormaliseTest, ThePlaceholderAloneKeepsTheMonitorOff) {
  const NormaliseCase& c = GetParam();
  setEntries(c.before);
  options->setChecked("wsactive1", true);
  monitor.WebListBox1Exit();
  EXPECT_EQ(list->entries(), c.after);
  EXPECT_EQ(monitor.ActiveEnabled(), c.enabled);
  EXPECT_EQ(monitor.LogEnabled(), c.enabled);
  // A list with sites keeps the user's choice; one without is switched off.
  EXPECT_EQ(monitor.Active(), c.enabled);
}

INSTANTIATE_TEST_SUITE_P(
    Lists, NormaliseTest,
    ::testing::Values(
        NormaliseCase{"PlaceholderOnly", {kPlaceholder}, {kPlaceholder}, false},
        NormaliseCase{"Empty", {}, {kPlaceholder}, false},
        NormaliseCase{"PlaceholderInCapitals", {"WWW.KELVRIN.EXAMPLE"}, {kPlaceholder}, false},
        NormaliseCase{"OnlyBlankEntries", {"", "  "}, {kPlaceholder}, false},
        NormaliseCase{"OwnSites", {"b.example", "a.example"}, {"a.example", "b.example"}, true},
        // The site typed beside the placeholder stays; the
        // placeholder goes.
        NormaliseCase{
            "OwnSiteBesidePlaceholder", {kPlaceholder, "my.example"}, {"my.example"}, true}),
    [](const ::testing::TestParamInfo<NormaliseCase>& info) { return info.param.name; });

TEST_F(WebsiteMonitorTest, DisabledBoxesIgnoreClicks) {
  monitor.WebListBox1Exit();
  monitor.setActive(true);
  monitor.setKeepLogfile(true);
  EXPECT_FALSE(monitor.Active());
  EXPECT_FALSE(monitor.KeepLogfile());
}

TEST_F(WebsiteMonitorTest, EachSiteNotFoundIsReportedBeforeTheNextIsProbed) {
  setEntries({"https://c.example/status", "a.example", "b.example:8080"});
  monitor.WebListBox1Exit();
  monitor.setActive(true);
  probe.Known = {"a.example"};
  std::vector<std::size_t> boxesBeforeProbe;
  probe.onProbe = [&](const std::string&) { boxesBeforeProbe.push_back(prompter.Boxes().size()); };
  monitor.Run();
  EXPECT_EQ(probe.Probed, (Entries{"a.example", "b.example", "c.example"}));
  EXPECT_EQ(boxesBeforeProbe, (std::vector<std::size_t>{0, 0, 1}));
  ASSERT_EQ(prompter.Boxes().size(), 2u);
  EXPECT_EQ(prompter.Boxes()[0].Text, "b.example:8080 Not Found");
  EXPECT_EQ(prompter.Boxes()[1].Text, "https://c.example/status Not Found");
}

TEST_F(WebsiteMonitorTest, InactiveMonitorProbesNothing) {
  setEntries({"a.example"});
  monitor.WebListBox1Exit();
  monitor.Run();
  EXPECT_TRUE(probe.Probed.empty());
}

struct HostCase {
  const char* entry;
  const char* host;
};

class HostOfEntryTest : public ::testing::TestWithParam<HostCase> {};

TEST_P(HostOfEntryTest, TakesTheHostOutOfAnAddress) {
  EXPECT_EQ(update::hostOfEntry(GetParam().entry), GetParam().host);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, HostOfEntryTest,
    ::testing::Values(HostCase{"www.site.example", "www.site.example"},
                      HostCase{"  www.site.example ", "www.site.example"},
                      HostCase{"https://user@www.site.example:8080/x?y", "www.site.example"},
                      HostCase{"http://[::1]:80/", "::1"}, HostCase{"fe80::1", "fe80::1"},
                      HostCase{"site.example#top", "site.example"}, HostCase{"", ""}));

}  // namespace
}  // namespace kelvrin::test
