// What the "Deleted mail" window shows and offers: the order of its rows,
// the export name made safe as a file name, and the account a restore
// goes through.

#include "quarantine/deleted_mail.h"

#include <gtest/gtest.h>

#include <fstream>

#include "settings/forms.h"
#include "support/temp_dir.h"

namespace kelvrin::quarantine {
namespace {

QuarantineEntry entry(std::string id, std::int64_t at, std::string subject = "s") {
  QuarantineEntry e;
  e.Id = std::move(id);
  e.DeletedAt = at;
  e.Subject = std::move(subject);
  return e;
}

TEST(DeletedMailRows, NewestFirstAndSameSecondKeepsIndexOrder) {
  const auto rows =
      DeletedMailRows({entry("old", 100), entry("a", 300), entry("b", 300), entry("mid", 200)});
  std::vector<std::string> ids;
  for (const auto& r : rows)
    ids.push_back(r.Id);
  EXPECT_EQ(ids, (std::vector<std::string>{"a", "b", "mid", "old"}));
}

TEST(DeletedMailRows, DisplayTextAndUnknowns) {
  QuarantineEntry known = entry("k", 0, "=?UTF-8?B?R3LDvMOfZQ==?=");
  known.From = "=?ISO-8859-1?Q?J=F6rg?= <j@example.org>";
  known.Host = "pop.example.net";
  known.Port = 995;
  known.User = "bob";
  known.Level = 9;
  known.Size = 4300;
  const QuarantineEntry adopted = entry("a", 0);  // after a crash: no account, no level
  const auto rows = DeletedMailRows({known, adopted});
  EXPECT_EQ(rows[0].Subject,
            "Gr\xc3\xbc\xc3\x9f"
            "e");
  EXPECT_EQ(rows[0].From, "J\xc3\xb6rg <j@example.org>");
  EXPECT_EQ(rows[0].Account, "bob@pop.example.net:995");
  EXPECT_EQ(rows[0].Level, "9");
  EXPECT_EQ(rows[0].Size, "4.2 KB");
  EXPECT_EQ(rows[1].Account, "");
  EXPECT_EQ(rows[1].Level, "?");
}

TEST(ExportFileName, SafeAsOneFileName) {
  const struct {
    const char* subject;
    const char* name;
  } cases[] = {
      {"Lunch", "Lunch.eml"},
      {"a/b\\c", "a b c.eml"},
      {"tab\there\x01", "tab here.eml"},
      {"...hidden", "hidden.eml"},
      {"  ", "message.eml"},
      {"", "message.eml"},
      {"/", "message.eml"},
      {"=?UTF-8?Q?caf=C3=A9?=", "caf\xc3\xa9.eml"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ExportFileName(entry("x", 0, c.subject)), c.name) << c.subject;
  }
}

TEST(ExportFileName, LongSubjectCutOnACharacterBoundary) {
  std::string subject(79, 'x');
  subject += "\xc3\xa9\xc3\xa9";  // the 80-byte cut falls inside the first é
  const std::string name = ExportFileName(entry("x", 0, subject));
  EXPECT_EQ(name, std::string(79, 'x') + ".eml");
}

TEST(ExportPathIn, NumbersWhileTheNameIsTaken) {
  test::TempDir dir;
  const auto e = entry("x", 0, "Offer");
  EXPECT_EQ(ExportPathIn(dir.Path(), e), std::filesystem::path(dir.File("Offer.eml")));
  std::ofstream(dir.File("Offer.eml")) << "1";
  std::ofstream(dir.File("Offer-2.eml")) << "2";
  EXPECT_EQ(ExportPathIn(dir.Path(), e), std::filesystem::path(dir.File("Offer-3.eml")));
}

TEST(RestoreAccountOf, RefusesTheWizardsPlaceholders) {
  auto wizard = settings::makeKVWForm1Form();
  EXPECT_THROW(RestoreAccountOf(*wizard), QuarantineError) << "placeholder address";
  wizard->setText("KVWMainEmail1", "bob@example.net");
  EXPECT_THROW(RestoreAccountOf(*wizard), QuarantineError) << "placeholder SMTP host";
  wizard->setText("KVWsmtphost", "  ");
  EXPECT_THROW(RestoreAccountOf(*wizard), QuarantineError) << "blank SMTP host";
}

TEST(RestoreAccountOf, TakesTheSmtpServerAndLogin) {
  auto wizard = settings::makeKVWForm1Form();
  wizard->setText("KVWMainEmail1", "bob@example.net");
  wizard->setText("KVWsmtphost", " smtp.example.net ");
  wizard->setText("SmtpPort", " 465 ");
  wizard->setValue("SmtpSecurity", settings::kSecurityImplicitTls);
  wizard->setText("KVWedUser", "bob");
  wizard->setText("KVWedPassword", "pw");
  const RestoreAccount a = RestoreAccountOf(*wizard);
  protocols::TSmtpClient client;
  ConfigureRestoreClient(client, a);
  EXPECT_EQ(client.Host, "smtp.example.net");
  EXPECT_EQ(client.Port, "465");
  EXPECT_EQ(client.Security, protocols::SecurityMode::ImplicitTls);
  EXPECT_EQ(client.UserId, "bob");
  EXPECT_EQ(client.UserPasswd, "pw");
  EXPECT_EQ(a.Address, "bob@example.net");
}

TEST(RestoredText, SaysWhatWentAndWhatDidNot) {
  EXPECT_EQ(RestoredText(1, 0, "b@x"), "Restored 1 message to b@x");
  EXPECT_EQ(RestoredText(2, 1, "b@x"), "Restored 2 messages to b@x; 1 message not restored");
  EXPECT_EQ(RestoredText(0, 2, "b@x"), "2 messages not restored");
}

}  // namespace
}  // namespace kelvrin::quarantine
