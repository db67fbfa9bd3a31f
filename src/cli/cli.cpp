#include "cli/cli.h"

#include <charconv>
#include <ctime>
#include <exception>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "app/body_display.h"
#include "app/check_cycle.h"
#include "app/command_model.h"
#include "app/deletion.h"
#include "app/header_cache.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "app/quarantine_copy.h"
#include "cli/interrupt.h"
#include "cli/text_output.h"
#include "filter/rule_lists.h"
#include "mail/display_text.h"
#include "outgoing/command_mail.h"
#include "outgoing/send_mail.h"
#include "outgoing/sys_messages.h"
#include "protocols/smtp_client.h"
#include "settings/forms.h"
#include "settings/ini_file.h"
#include "settings/ini_val.h"
#include "settings/settings_error.h"
#include "ui/console_prompter.h"

#include "quarantine/deleted_mail.h"
#include "quarantine/quarantine_store.h"
#include "quarantine/restore.h"

namespace kelvrin::cli {

namespace {

constexpr const char* kUsage =
    "usage: kelvrin-cli [--home DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "Commands:\n"
    "  init --address ADDRESS --pop-host HOST --user NAME --password SECRET\n"
    "       [--port N] [--security none|starttls|tls] [--ca-file FILE]\n"
    "       [--smtp-host HOST] [--smtp-port N] [--smtp-security none|starttls|tls]\n"
    "                   write the settings file (Cable/ADSL connection) and add\n"
    "                   ADDRESS to the allowed addresses\n"
    "  check [--json]   check the mailbox once and list the scored messages\n"
    "  delete [--json]  check, delete the messages marked as spam (level above 7)\n"
    "                   on the server, and check again\n"
    "  show N           check, then show the body of the message whose # is N\n"
    "  send --to ADDRS [--cc ADDRS] [--bcc ADDRS] --subject TEXT\n"
    "       [--body TEXT | --body-file FILE]\n"
    "                   send a mail through the account's SMTP server (the body\n"
    "                   from standard input when neither is given)\n"
    "  greet --to ADDR TEXT\n"
    "                   send a greeting to another Kelvrin user\n"
    "  flash --to ADDR TEXT\n"
    "                   send a flash message to another Kelvrin user\n"
    "  quarantine list [--json]\n"
    "                   list the copies of deleted messages that are kept\n"
    "  quarantine restore ID...\n"
    "                   send kept messages back to your own address by SMTP\n"
    "  quarantine export ID FILE\n"
    "                   write a kept message to FILE (never replaces a file)\n"
    "\n"
    "Every message is copied before it is deleted on the server (option\n"
    "KeepDeleted1 of section KVmain, kept KeepDeletedDays days and at most\n"
    "KeepDeletedMB megabytes) into $XDG_DATA_HOME/kelvrin/quarantine\n"
    "(~/.local/share/kelvrin/quarantine).\n"
    "\n"
    "The settings home is --home DIR, else $KELVRIN_HOME, else\n"
    "$XDG_CONFIG_HOME/kelvrin (~/.config/kelvrin).\n"
    "Checks keep the header blocks already seen in $XDG_CACHE_HOME/kelvrin\n"
    "(~/.cache/kelvrin), so that a check fetches only new headers; the option\n"
    "--no-cache (with check, delete, show) fetches them all and keeps none.\n"
    "A check takes command mails (greetings, flash messages) out of the list,\n"
    "reports them and deletes them on the server.\n"
    "Exit status: 0 done, 1 the check, deletion or send did not complete, 2 usage error.\n"
    "Ctrl-C cancels a running check or deletion (a cancelled deletion deletes nothing).\n";

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct CommandLine {
  std::optional<std::string> home;
  bool json = false;
  bool noCache = false;
  bool help = false;
  std::string command;
  std::vector<std::string> arguments;  // after the command, global options taken out
};

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine line;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--home") {
      if (i + 1 >= args.size()) throw UsageError("--home needs a folder");
      line.home = args[++i];
    } else if (a.rfind("--home=", 0) == 0) {
      line.home = a.substr(7);
    } else if (a == "--json") {
      line.json = true;
    } else if (a == "--no-cache") {
      line.noCache = true;
    } else if (a == "-h" || a == "--help") {
      line.help = true;
    } else if (line.command.empty()) {
      if (!a.empty() && a[0] == '-') throw UsageError("unknown option " + a);
      line.command = a;
    } else {
      line.arguments.push_back(a);
    }
  }
  if (line.home && line.home->empty()) throw UsageError("--home needs a folder");
  return line;
}

int parsePort(const std::string& text, const std::string& option) {
  int port = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (ec != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
    throw UsageError(option + " needs a port number from 1 to 65535, not \"" + text + "\"");
  }
  return port;
}

int parseSecurity(const std::string& text, const std::string& option) {
  if (text == "none") return settings::kSecurityNone;
  if (text == "starttls") return settings::kSecurityStartTls;
  if (text == "tls") return settings::kSecurityImplicitTls;
  throw UsageError(option + " is none, starttls or tls, not \"" + text + "\"");
}

// Port and security of one server: each given one decides the other.
void portAndSecurity(const std::map<std::string, std::string>& o, const std::string& portKey,
                     const std::string& securityKey, int plainPort, int tlsPort, int& port,
                     int& security) {
  const bool hasPort = o.count(portKey) != 0;
  const bool hasSecurity = o.count(securityKey) != 0;
  if (hasPort) port = parsePort(o.at(portKey), portKey);
  if (hasSecurity) security = parseSecurity(o.at(securityKey), securityKey);
  if (hasPort && !hasSecurity) security = settings::defaultSecurityForPort(port);
  if (!hasPort) {
    if (!hasSecurity) security = settings::kSecurityNone;
    port = security == settings::kSecurityImplicitTls ? tlsPort : plainPort;
  }
}

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::filesystem::path settingsHome(const CommandLine& line, const Environment& env) {
  return settings::resolveSettingsHome(line.home, env.environment);
}

// ---------------------------------------------------------------------------
// init

int runInit(const CommandLine& line, const Environment& env, std::ostream& out) {
  static const char* kKnown[] = {"--address",   "--pop-host",     "--user",    "--password",
                                 "--port",      "--security",     "--ca-file", "--smtp-host",
                                 "--smtp-port", "--smtp-security"};
  // Values stored as given, blanks and quotes included.
  static const char* kExactValues[] = {"--address",  "--pop-host", "--user",
                                       "--password", "--ca-file",  "--smtp-host"};
  std::map<std::string, std::string> o;
  for (std::size_t i = 0; i < line.arguments.size(); ++i) {
    std::string name = line.arguments[i];
    std::string value;
    const std::size_t eq = name.find('=');
    if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else {
      if (i + 1 >= line.arguments.size()) throw UsageError(name + " needs a value");
      value = line.arguments[++i];
    }
    if (std::find(std::begin(kKnown), std::end(kKnown), name) == std::end(kKnown)) {
      throw UsageError("init does not know " + name);
    }
    o[name] = value;
  }
  for (const char* required : {"--address", "--pop-host", "--user", "--password"}) {
    if (o.count(required) == 0 || o[required].empty()) {
      throw UsageError(std::string("init needs ") + required);
    }
  }
  // The settings file trims a value, takes its enclosing quotes away and
  // reads at most 2047 characters: what it cannot give back exactly is
  // refused before anything is written.
  for (const char* exact : kExactValues) {
    if (o.count(exact) == 0) continue;
    try {
      (void)settings::exactIniValue(o[exact]);
    } catch (const settings::SettingsError& e) {
      throw UsageError(std::string(exact) + " cannot be stored: " + e.what());
    }
  }
  const std::string& address = o["--address"];
  if (address.find('@') == std::string::npos || address == settings::kPlaceholderMainEmail) {
    throw UsageError("--address needs your own mail address, not \"" + address + "\"");
  }
  int popPort = 110;
  int popSecurity = 0;
  portAndSecurity(o, "--port", "--security", 110, 995, popPort, popSecurity);
  int smtpPort = 25;
  int smtpSecurity = 0;
  portAndSecurity(o, "--smtp-port", "--smtp-security", 25, 465, smtpPort, smtpSecurity);

  const std::filesystem::path home = settingsHome(line, env);
  settings::ensureSettingsHome(home);
  const std::string file = settings::settingsFileName(settings::programDirFor(home));

  // Keep what an earlier init or the wizard stored; set what was given.
  auto wizard = settings::makeKVWForm1Form();
  settings::TIniVal wizardIni(*wizard);
  wizardIni.IniFileName = file;
  settings::IniFile ini(file);
  if (ini.exists()) wizardIni.LoadAll();
  wizard->setText("KVWMainEmail1", address);
  wizard->setText("KVWEdhost", o["--pop-host"]);
  wizard->setText("KVWedUser", o["--user"]);
  wizard->setText("KVWedPassword", o["--password"]);
  wizard->setText("PopPort", " " + std::to_string(popPort));
  wizard->setValue("PopSecurity", popSecurity);
  if (o.count("--ca-file")) wizard->setText("CaFile", o["--ca-file"]);
  if (o.count("--smtp-host")) wizard->setText("KVWsmtphost", o["--smtp-host"]);
  wizard->setText("SmtpPort", " " + std::to_string(smtpPort));
  wizard->setValue("SmtpSecurity", smtpSecurity);
  wizardIni.SaveAll();
  // The form writes its texts unchanged; these go again in the form that
  // reads back exactly (a password may well begin with a blank or be
  // enclosed in quotes).
  static const std::pair<const char*, const char*> kExactKeys[] = {
      {"--address", "KVWMainEmail1"},  {"--pop-host", "KVWEdhost"}, {"--user", "KVWedUser"},
      {"--password", "KVWedPassword"}, {"--ca-file", "CaFile"},     {"--smtp-host", "KVWsmtphost"}};
  std::vector<settings::IniEntry> exact;
  for (const auto& [option, key] : kExactKeys) {
    if (o.count(option) == 0) continue;
    exact.push_back(
        {std::string(settings::kWizardFormName), key, settings::exactIniValue(o[option])});
  }
  exact.push_back({std::string(settings::kWizardFormName), "KVWccntypeGroup", "0"});
  ini.writeAll(exact);
  out << "Settings written to " << file << "\n";

  // As the wizard does when the main address is entered.
  auto allowed = filter::makeLbAllowEM(home);
  allowed->loadList();
  if (allowed->Count() == 0 || allowed->Search(address, false, false) < 0) {
    allowed->Add(address);
    allowed->SaveList();
    out << "Added " << address << " to the allowed addresses (" << allowed->listFilePath().string()
        << ")\n";
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// check, delete, show

// The body display's box is printed by the command itself, on standard output.
class CliPrompter final : public ui::ConsolePrompter {
 public:
  using ui::ConsolePrompter::ConsolePrompter;

 protected:
  int showMessageBox(const ui::MessageBoxSpec& spec) override {
    if (spec.origin == ui::BoxOrigin::ButtonBox) return answerFor(spec);
    return ui::ConsolePrompter::showMessageBox(spec);
  }
};

struct RowOut {
  std::int32_t index = 0;
  std::int32_t level = 0;
  bool marked = false;
  std::int32_t badds = 0;
  std::int32_t tolevel = 0;
  std::int32_t bsubj = 0;
  std::string from, sendto, subject, date, uidl;  // the bytes, as scored
  mail::MessageDisplay display;                   // what a person reads
  std::int64_t size = 0;
};

// The row's display texts, and its bytes as scored unless only the texts
// are printed.
RowOut rowOut(app::TKVmain& kv, const app::ViewRow& row, bool withBytes = true) {
  RowOut r;
  r.index = row.Node.MsgIndex;
  r.level = row.Node.SpamLevel;
  r.marked = row.Checked;
  r.badds = row.Node.BaddsLevel;
  r.tolevel = row.Node.ToLevel;
  r.bsubj = row.Node.BsubjLevel;
  if (const mail::TMailMessage* m = kv.View().messageOf(row)) {
    if (withBytes) {
      r.from = m->From();
      r.sendto = m->SendTo();
      r.subject = m->Subject;
      r.date = m->DateText;
      r.uidl = m->UIDL;
    }
    r.size = m->Size;
    r.display = mail::DisplayHeaders(*m);
  } else {
    r.from = row.Node.From;
    r.sendto = row.Node.SendTo;
    r.subject = row.Node.Subject;
    r.uidl = row.Node.UIDL;
    r.display = {mail::HeaderDisplayText(r.from),
                 mail::HeaderDisplayText(r.sendto),
                 mail::HeaderDisplayText(r.subject),
                 {}};
  }
  return r;
}

// The rows as they stand, kept for after the view has moved on.
std::vector<RowOut> snapshotRows(app::TKVmain& kv) {
  std::vector<RowOut> rows;
  // Exactly one entry a row: a table grown by doubling keeps up to twice the
  // room, and each entry is some hundred bytes.
  rows.reserve(kv.VTree1.rows().size());
  for (const app::ViewRow& row : kv.VTree1.rows())
    rows.push_back(rowOut(kv, row));
  return rows;
}

// Rows to print, made one at a time: the view's rows while it stands (a
// large mailbox needs no second copy of every row only to print it), or a
// snapshot.
class RowsOut {
 public:
  explicit RowsOut(app::TKVmain& kv) : kv_(&kv) {}
  RowsOut(const std::vector<RowOut>& rows) : held_(&rows) {}  // NOLINT: a snapshot is rows too

  std::size_t size() const { return held_ ? held_->size() : kv_->VTree1.rows().size(); }
  bool empty() const { return size() == 0; }
  void forEach(const std::function<void(const RowOut&)>& print, bool withBytes = true) const {
    if (held_) {
      for (const RowOut& r : *held_)
        print(r);
    } else {
      for (const app::ViewRow& row : kv_->VTree1.rows())
        print(rowOut(*kv_, row, withBytes));
    }
  }

 private:
  app::TKVmain* kv_ = nullptr;
  const std::vector<RowOut>* held_ = nullptr;
};

void printTable(std::ostream& out, const RowsOut& rows) {
  if (rows.empty()) return;
  out << "\n"
      << "Level Mark " << fitColumn("From", 30) << " " << fitColumn("To", 24) << " "
      << fitColumn("Subject", 40) << " " << fitColumn("Date", 31) << "     #\n";
  rows.forEach(
      [&out](const RowOut& r) {
        std::string level = std::to_string(r.level);
        out << std::string(level.size() < 5 ? 5 - level.size() : 0, ' ') << level << "  "
            << (r.marked ? "x" : " ") << "   " << fitColumn(terminalText(r.display.From), 30) << " "
            << fitColumn(terminalText(r.display.SendTo), 24) << " "
            << fitColumn(terminalText(r.display.Subject), 40) << " "
            << fitColumn(terminalText(r.display.Date), 31) << " "
            << std::string(
                   std::to_string(r.index).size() < 5 ? 5 - std::to_string(r.index).size() : 0, ' ')
            << r.index << "\n";
      },
      /*withBytes=*/false);
}

// What the server holds, when a check could list only part of it.
std::int64_t serverCount(app::TKVmain& kv, int messages) {
  const std::int64_t held = kv.Check().LastOutcome().ServerCount;
  return held > messages ? held : messages;
}

void printCounts(std::ostream& out, app::TKVmain& kv, int messages) {
  out << "Messages: " << messages << "   Valid: " << kv.State.ValidCount
      << "   Suspect: " << kv.State.SuspectCount << "   Spam: " << kv.State.SpamCount << "\n";
  if (serverCount(kv, messages) > messages) {
    out << "The server holds " << serverCount(kv, messages) << " messages; only the first "
        << messages << " were checked (a check lists at most 65535).\n";
  }
}

std::string commandLine(const outgoing::CommandRecord& c) {
  std::string kind;
  switch (c.Code) {
    case outgoing::kCodeCorrupt:
      kind = "Corrupt command mail from ";
      break;
    case outgoing::kCodeGreeting:
      kind = "Greeting from ";
      break;
    case outgoing::kCodeEnableComms:
      kind = "Command from ";
      break;
    case outgoing::kCodeFlash:
      kind = "Flash from ";
      break;
    case outgoing::kCodeAddressRequest:
      kind = "Address request from ";
      break;
    case outgoing::kCodeAddressAnswer:
      kind = "Address answer from ";
      break;
    default:
      kind = "Command " + std::to_string(c.Code) + " from ";
  }
  return kind + c.From + ": " + c.Text + (c.Handled ? "" : " (left on the server)");
}

void printCommands(std::ostream& out, const std::vector<outgoing::CommandRecord>& commands) {
  for (const auto& c : commands)
    out << terminalText(commandLine(c)) << "\n";
}

void printJson(std::ostream& out, app::TKVmain& kv, int messages, const RowsOut& rows,
               const std::vector<std::int32_t>* deleted, const app::QuarantineCopy* copy = nullptr,
               const std::vector<outgoing::CommandRecord>* commands = nullptr) {
  out << "{\"status\": " << jsonString(kv.dfsStatus.Status()) << ", \"messages\": " << messages
      << ", \"server_messages\": " << serverCount(kv, messages)
      << ", \"counts\": {\"valid\": " << kv.State.ValidCount
      << ", \"suspect\": " << kv.State.SuspectCount << ", \"spam\": " << kv.State.SpamCount
      << "}, \"rows\": [";
  bool first = true;
  rows.forEach([&out, &first](const RowOut& r) {
    out << (first ? "" : ", ") << "{\"index\": " << r.index << ", \"level\": " << r.level
        << ", \"marked\": " << (r.marked ? "true" : "false") << ", \"badds\": " << r.badds
        << ", \"tolevel\": " << r.tolevel << ", \"bsubj\": " << r.bsubj
        << ", \"from\": " << jsonString(r.from) << ", \"sendto\": " << jsonString(r.sendto)
        << ", \"subject\": " << jsonString(r.subject) << ", \"date\": " << jsonString(r.date)
        << ", \"uidl\": " << jsonString(r.uidl) << ", \"size\": " << r.size
        << ", \"display\": {\"from\": " << jsonUtf8String(r.display.From)
        << ", \"sendto\": " << jsonUtf8String(r.display.SendTo)
        << ", \"subject\": " << jsonUtf8String(r.display.Subject) << "}}";
    first = false;
  });
  out << "]";
  if (deleted) {
    out << ", \"deleted\": [";
    for (std::size_t i = 0; i < deleted->size(); ++i)
      out << (i ? ", " : "") << (*deleted)[i];
    out << "]";
  }
  if (deleted && copy) {
    out << ", \"kept\": [";
    for (std::size_t i = 0; i < copy->Kept().size(); ++i)
      out << (i ? ", " : "") << jsonString(copy->Kept()[i].Id);
    out << "], \"not_deleted\": [";
    for (std::size_t i = 0; i < copy->NotDeleted().size(); ++i)
      out << (i ? ", " : "") << jsonString(copy->NotDeleted()[i]);
    out << "]";
  }
  if (commands) {
    out << ", \"commands\": [";
    for (std::size_t i = 0; i < commands->size(); ++i) {
      const auto& c = (*commands)[i];
      out << (i ? ", " : "") << "{\"code\": " << c.Code << ", \"from\": " << jsonString(c.From)
          << ", \"text\": " << jsonString(c.Text)
          << ", \"handled\": " << (c.Handled ? "true" : "false") << "}";
    }
    out << "]";
  }
  out << "}\n";
}

// Why a check did not complete, for standard error.
void reportFailure(std::ostream& err, const app::TKVmain& kv) {
  const std::string status = terminalText(kv.dfsStatus.Status());
  err << "kelvrin-cli: " << (trimmed(status).empty() ? "the check did not start" : status) << "\n";
  if (!kv.dfsStatus.Panel(2).empty()) err << "  " << terminalText(kv.dfsStatus.Panel(2)) << "\n";
  if (InterruptPump::interrupted()) err << "kelvrin-cli: cancelled\n";
}

class Session {
 public:
  Session(const std::filesystem::path& home, const Environment& env, std::ostream& err,
          bool useCache)
      : prompter_(err),
        pump_([this] {
          if (kv_) kv_->BtCancelClick();
        }),
        handleInterrupt_(env.handleInterrupt) {
    protocols::Clock& clock = env.clock ? *env.clock : protocols::DefaultClock();
    kv_ = std::make_unique<app::TKVmain>(app::Ports{env.socketFactory, pump_, clock, prompter_},
                                         home);
    kv_->FormCreate();
    auto commands = std::make_unique<outgoing::CommandMails>(*kv_, env.socketFactory);
    commands_ = commands.get();
    kv_->setSysMessages(std::move(commands));
    // The command line never deletes on its own: only `delete` deletes, and
    // it reports what it deleted. The desktop program's "Non-Interactive
    // Spam Delete" stays in the settings file for the desktop program.
    kv_->KVmain->setChecked("NonInterDel1", false);
    if (app::QuarantineSettingsOf(*kv_->KVmain).Enabled) {
      // Nothing is deleted without its copy: a quarantine that cannot be
      // found stops the command before it connects.
      store_ = std::make_unique<quarantine::QuarantineStore>(
          quarantine::QuarantineStore::DefaultFolder(env.environment));
      // No one to ask whether a message too large to keep may go anyway.
      auto copy = std::make_unique<app::QuarantineCopy>(*store_, /*askForLarge=*/false);
      copy_ = copy.get();
      kv_->setDeletionCopy(std::move(copy));
    }
    // Fast on a distant server: pipelined header checks where the server
    // allows them, and the headers of earlier checks taken from the cache.
    kv_->Pop3Client1.AskCapabilities = true;
    if (useCache) {
      kv_->Check().setHeaderCacheFolder(app::HeaderCache::DefaultFolder(env.environment));
    }
    kv_->FormShow();
    // No window: nothing is shown, and the command line never dials.
    kv_->State.MainWindowVisible = false;
    kv_->State.OnlineState = 1;
    InterruptPump::reset();
    if (handleInterrupt_) InterruptPump::install();
  }
  ~Session() {
    if (handleInterrupt_) InterruptPump::uninstall();
    kv_->FormDestroy();
  }

  app::TKVmain& kv() { return *kv_; }
  outgoing::CommandMails& commands() { return *commands_; }
  // Null when the quarantine is off.
  const app::QuarantineCopy* copy() const { return copy_; }

  // The Check command, and what the scheduler does for a requested check.
  bool check() {
    kv_->RequestCheckWithoutClick();
    if (!kv_->State.CheckRequested) return false;
    kv_->Check().RunRequestedCheck();
    statCount_ = kv_->Check().LastOutcome().StatCount;
    return kv_->Check().LastOutcome().Completed && !InterruptPump::interrupted();
  }
  int statCount() const { return statCount_; }

 private:
  CliPrompter prompter_;
  InterruptPump pump_;
  bool handleInterrupt_;
  std::unique_ptr<quarantine::QuarantineStore> store_;
  app::QuarantineCopy* copy_ = nullptr;
  std::unique_ptr<app::TKVmain> kv_;
  outgoing::CommandMails* commands_ = nullptr;
  int statCount_ = 0;
};

void printInitHint(std::ostream& err, const std::filesystem::path& home, const char* verb) {
  err << verb << " it with:\n"
      << "  kelvrin-cli --home " << home.string()
      << " init --address you@example.com --pop-host pop.example.com --user NAME "
         "--password SECRET\n";
}

// The settings file must exist and hold an account before a command
// connects: a file that a check cannot use is named with what is wrong in
// it, rather than left to a check that would stop without a word. Lines the
// file's reader cannot make sense of are reported as warnings.
int requireSettings(const std::filesystem::path& home, std::ostream& err) {
  const std::string file = settings::settingsFileName(settings::programDirFor(home));
  const settings::IniFile ini(file);
  if (!ini.exists()) {
    if (std::filesystem::exists(file)) {
      err << "kelvrin-cli: the settings file " << file << " is not a regular file\n";
      return kExitFailed;
    }
    err << "kelvrin-cli: there is no settings file " << file << "\n";
    printInitHint(err, home, "Create");
    return kExitFailed;
  }
  const settings::IniDocument doc = ini.load();
  const std::vector<std::string> problems = doc.problems();
  std::vector<std::string> missing;
  const std::string section(settings::kWizardFormName);
  if (!doc.hasSection(section)) {
    missing.push_back("it has no [" + section + "] section, which holds the account");
  } else {
    const auto address = doc.value(section, "KVWMainEmail1");
    if (!address || address->empty() || *address == settings::kPlaceholderMainEmail) {
      missing.push_back("it has no main mail address (key KVWMainEmail1 of [" + section + "])");
    }
    const bool secondary = !doc.readBool(settings::kMainFormName, "Paccount", true) &&
                           !doc.readString(section, "KVWsecEdhost", "").empty();
    const auto host = doc.value(section, secondary ? "KVWsecEdhost" : "KVWEdhost");
    if (!host || trimmed(*host).empty()) {
      missing.push_back("it names no POP3 server (key KVWEdhost of [" + section + "])");
    }
  }
  if (!missing.empty()) {
    err << "kelvrin-cli: the settings file " << file << " cannot be used:\n";
    for (const std::string& why : missing)
      err << "  " << why << "\n";
    for (const std::string& why : problems)
      err << "  " << why << "\n";
    printInitHint(err, home, "Write");
    return kExitFailed;
  }
  for (const std::string& why : problems)
    err << "kelvrin-cli: warning: " << file << " " << why << "\n";
  return kExitOk;
}

int runCheck(const CommandLine& line, const Environment& env, std::ostream& out,
             std::ostream& err) {
  if (!line.arguments.empty()) throw UsageError("check takes no argument but --json");
  const auto home = settingsHome(line, env);
  if (requireSettings(home, err) != kExitOk) return kExitFailed;
  Session session(home, env, err, !line.noCache);
  app::TKVmain& kv = session.kv();
  const bool done = session.check();
  const RowsOut rows(kv);
  const auto& commands = session.commands().LastReceived();
  if (line.json) {
    printJson(out, kv, session.statCount(), rows, nullptr, nullptr, &commands);
  } else {
    out << terminalText(kv.dfsStatus.Status()) << "\n";
    printCommands(out, commands);
    if (done) printCounts(out, kv, session.statCount());
    printTable(out, rows);
  }
  if (!done) {
    reportFailure(err, kv);
    return kExitFailed;
  }
  return kExitOk;
}

int runDelete(const CommandLine& line, const Environment& env, std::ostream& out,
              std::ostream& err) {
  if (!line.arguments.empty()) throw UsageError("delete takes no argument but --json");
  const auto home = settingsHome(line, env);
  if (requireSettings(home, err) != kExitOk) return kExitFailed;
  Session session(home, env, err, !line.noCache);
  app::TKVmain& kv = session.kv();
  if (!session.check()) {
    if (line.json) {
      printJson(out, kv, session.statCount(), RowsOut(kv), nullptr);
    } else {
      out << terminalText(kv.dfsStatus.Status()) << "\n";
    }
    reportFailure(err, kv);
    return kExitFailed;
  }

  const auto before = snapshotRows(kv);
  int marked = 0;
  kv.View().Checkselected(0, true, marked);
  std::vector<std::int32_t> deleted;
  bool done = true;
  if (marked > 0) {
    kv.btDeleteClick(app::kTagSpamDelete);
    deleted = kv.Delete().Deleted();
    done = kv.Delete().LastCompleted() && kv.Check().LastOutcome().Completed &&
           !InterruptPump::interrupted();
  }
  const auto after = snapshotRows(kv);
  const int messages = marked > 0 ? kv.Check().LastOutcome().StatCount : session.statCount();

  // What the following check still lists was not deleted, whatever the replies said.
  const app::DeletionEffect& effect = kv.Delete().Effect();
  const int notDeleted = marked > 0 && effect.Verified ? effect.StillListed : 0;
  if (marked > 0 && effect.Verified) deleted = effect.Gone;
  if (notDeleted > 0) done = false;

  const app::QuarantineCopy* copy = session.copy();
  if (copy && !copy->NotDeleted().empty()) done = false;
  if (line.json) {
    printJson(out, kv, messages, after, &deleted, copy);
  } else {
    if (marked == 0) {
      out << "Nothing is marked as spam; nothing was deleted.\n";
    } else {
      out << "Deleted " << deleted.size() << " of " << marked << " marked message"
          << (marked == 1 ? "" : "s") << ":\n";
      std::vector<RowOut> gone;
      for (const RowOut& r : before) {
        if (std::find(deleted.begin(), deleted.end(), r.index) != deleted.end()) gone.push_back(r);
      }
      printTable(out, gone);
      out << "\nLeft on the server:\n";
    }
    out << terminalText(kv.dfsStatus.Status()) << "\n";
    printCounts(out, kv, messages);
    printTable(out, after);
    if (copy && !copy->Kept().empty()) {
      out << "\nKept a copy of " << copy->Kept().size() << " deleted message"
          << (copy->Kept().size() == 1 ? "" : "s") << " (kelvrin-cli quarantine list).\n";
    }
  }
  if (!done) {
    reportFailure(err, kv);
    if (copy) {
      for (const std::string& why : copy->NotDeleted())
        err << "kelvrin-cli: " << terminalText(why) << "\n";
    }
    if (notDeleted > 0) {
      err << "kelvrin-cli: the server still lists " << notDeleted << " of the messages it was "
          << "asked to delete\n";
    }
    return kExitFailed;
  }
  return kExitOk;
}

int runShow(const CommandLine& line, const Environment& env, std::ostream& out, std::ostream& err) {
  if (line.json) throw UsageError("show has no --json");
  if (line.arguments.size() != 1) throw UsageError("show needs the # of one message");
  const std::string& text = line.arguments[0];
  std::int32_t wanted = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), wanted);
  if (ec != std::errc() || end != text.data() + text.size() || wanted < 0) {
    throw UsageError("show needs the # of a message (0, 1, 2 ...), not \"" + text + "\"");
  }
  const auto home = settingsHome(line, env);
  if (requireSettings(home, err) != kExitOk) return kExitFailed;
  Session session(home, env, err, !line.noCache);
  app::TKVmain& kv = session.kv();
  if (!session.check()) {
    reportFailure(err, kv);
    return kExitFailed;
  }
  std::optional<std::size_t> row;
  for (std::size_t i = 0; i < kv.VTree1.RootNodeCount(); ++i) {
    if (kv.VTree1.Row(i).Node.MsgIndex == wanted) row = i;
  }
  if (!row) {
    err << "kelvrin-cli: there is no message #" << wanted << " (the check listed "
        << kv.VTree1.RootNodeCount() << ")\n";
    return kExitFailed;
  }
  kv.VTree1.selectOnly(*row);
  kv.DisplayBody();
  if (kv.dfsStatus.Status() != "Status: Message retrieved" || kv.Body().LastCaption().empty()) {
    reportFailure(err, kv);
    return kExitFailed;
  }
  out << terminalText(kv.Body().LastDisplayCaption()) << "\n\n"
      << terminalText(kv.Body().LastDisplayText(), true) << "\n";
  return kExitOk;
}

// ---------------------------------------------------------------------------
// quarantine

std::string utcTime(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
  return text;
}

std::string accountOf(const quarantine::QuarantineEntry& e) {
  if (e.Host.empty()) return {};
  return e.User + "@" + e.Host + ":" + std::to_string(e.Port);
}

std::unique_ptr<quarantine::QuarantineStore> openQuarantine(const Environment& env) {
  auto store = std::make_unique<quarantine::QuarantineStore>(
      quarantine::QuarantineStore::DefaultFolder(env.environment));
  store->Open();
  return store;
}

int runQuarantineList(const CommandLine& line, const Environment& env, std::ostream& out) {
  if (line.arguments.size() != 1) throw UsageError("quarantine list takes no argument but --json");
  const auto storage = openQuarantine(env);
  const quarantine::QuarantineStore& store = *storage;
  const auto& entries = store.Entries();
  if (line.json) {
    out << "{\"folder\": " << jsonString(store.Folder().string()) << ", \"messages\": [";
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      out << (i ? ", " : "") << "{\"id\": " << jsonString(e.Id)
          << ", \"deleted\": " << jsonString(utcTime(e.DeletedAt) + "Z")
          << ", \"deleted_at\": " << e.DeletedAt << ", \"host\": " << jsonString(e.Host)
          << ", \"port\": " << e.Port << ", \"user\": " << jsonString(e.User)
          << ", \"uidl\": " << jsonString(e.UIDL) << ", \"level\": " << e.Level
          << ", \"size\": " << e.Size << ", \"from\": " << jsonString(e.From)
          << ", \"subject\": " << jsonString(e.Subject) << "}";
    }
    out << "]}\n";
    return kExitOk;
  }
  if (entries.empty()) {
    out << "No deleted messages are kept (" << store.Folder().string() << ").\n";
    return kExitOk;
  }
  out << fitColumn("ID", 12) << " " << fitColumn("Deleted (UTC)", 19) << " Level "
      << "     Size " << fitColumn("Account", 24) << " " << fitColumn("From", 30) << " Subject\n";
  for (const auto& e : entries) {
    const std::string level = e.Level < 0 ? "?" : std::to_string(e.Level);
    const std::string size = std::to_string(e.Size);
    out << fitColumn(e.Id, 12) << " " << utcTime(e.DeletedAt) << " "
        << std::string(level.size() < 5 ? 5 - level.size() : 0, ' ') << level << " "
        << std::string(size.size() < 9 ? 9 - size.size() : 0, ' ') << size << " "
        << fitColumn(terminalText(accountOf(e)), 24) << " "
        << fitColumn(terminalText(mail::HeaderDisplayText(e.From)), 30) << " "
        << terminalText(mail::HeaderDisplayText(e.Subject)) << "\n";
  }
  out << entries.size() << " kept in " << store.Folder().string() << "\n";
  return kExitOk;
}

int runQuarantineRestore(const CommandLine& line, const Environment& env, std::ostream& out,
                         std::ostream& err) {
  if (line.json) throw UsageError("quarantine restore has no --json");
  if (line.arguments.size() < 2) throw UsageError("quarantine restore needs the ID of a message");
  const auto home = settingsHome(line, env);
  if (requireSettings(home, err) != kExitOk) return kExitFailed;
  auto wizard = settings::makeKVWForm1Form();
  settings::TIniVal wizardIni(*wizard);
  wizardIni.IniFileName = settings::settingsFileName(settings::programDirFor(home));
  wizardIni.LoadAll();
  const std::string address = trimmed(wizard->text("KVWMainEmail1"));
  const std::string host = trimmed(wizard->text("KVWsmtphost"));
  if (address.empty() || address == settings::kPlaceholderMainEmail) {
    err << "kelvrin-cli: no own mail address is set (kelvrin-cli init --address ...)\n";
    return kExitFailed;
  }
  if (host.empty() || host == settings::kPlaceholderSmtpHost) {
    err << "kelvrin-cli: no SMTP server is set (kelvrin-cli init --smtp-host HOST ...)\n";
    return kExitFailed;
  }
  // The same account the desktop's Deleted mail window restores through.
  const quarantine::RestoreAccount account = quarantine::RestoreAccountOf(*wizard);
  const auto storage = openQuarantine(env);
  const quarantine::QuarantineStore& store = *storage;
  int failed = 0;
  for (std::size_t i = 1; i < line.arguments.size(); ++i) {
    const std::string& id = line.arguments[i];
    const auto entry = store.Find(id);
    if (!entry) {
      err << "kelvrin-cli: no deleted message " << terminalText(id) << " is kept\n";
      ++failed;
      continue;
    }
    protocols::TSmtpClient client;
    quarantine::ConfigureRestoreClient(client, account);
    if (env.clock) client.SetClock(*env.clock);
    try {
      quarantine::RestoreMessage(client, address, store.ReadMessage(*entry));
      out << "Restored " << id << " (" << terminalText(entry->Subject) << ") to "
          << terminalText(address) << "\n";
    } catch (const quarantine::QuarantineError& e) {
      err << "kelvrin-cli: " << id << " not restored: " << terminalText(e.what()) << "\n";
      ++failed;
    }
  }
  return failed == 0 ? kExitOk : kExitFailed;
}

int runQuarantineExport(const CommandLine& line, const Environment& env, std::ostream& out,
                        std::ostream& err) {
  if (line.json) throw UsageError("quarantine export has no --json");
  if (line.arguments.size() != 3) throw UsageError("quarantine export needs an ID and a FILE");
  const auto storage = openQuarantine(env);
  const quarantine::QuarantineStore& store = *storage;
  const auto entry = store.Find(line.arguments[1]);
  if (!entry) {
    err << "kelvrin-cli: no deleted message " << terminalText(line.arguments[1]) << " is kept\n";
    return kExitFailed;
  }
  quarantine::ExportMessage(store, *entry, line.arguments[2]);
  out << "Exported " << entry->Id << " to " << line.arguments[2] << "\n";
  return kExitOk;
}

int runQuarantine(const CommandLine& line, const Environment& env, std::ostream& out,
                  std::ostream& err) {
  const std::string sub = line.arguments.empty() ? "" : line.arguments[0];
  if (sub == "list") return runQuarantineList(line, env, out);
  if (sub == "restore") return runQuarantineRestore(line, env, out, err);
  if (sub == "export") return runQuarantineExport(line, env, out, err);
  if (sub.empty()) throw UsageError("quarantine needs list, restore or export");
  throw UsageError("quarantine does not know \"" + sub + "\"");
}

// ---------------------------------------------------------------------------
// send, greet, flash

struct SendOptions {
  std::map<std::string, std::string> values;
  std::vector<std::string> words;  // the arguments that are no option
};

SendOptions parseSendOptions(const CommandLine& line, const std::vector<std::string>& known) {
  SendOptions o;
  for (std::size_t i = 0; i < line.arguments.size(); ++i) {
    std::string name = line.arguments[i];
    if (name.rfind("--", 0) != 0) {
      o.words.push_back(name);
      continue;
    }
    std::string value;
    const std::size_t eq = name.find('=');
    if (eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else {
      if (i + 1 >= line.arguments.size()) throw UsageError(name + " needs a value");
      value = line.arguments[++i];
    }
    if (std::find(known.begin(), known.end(), name) == known.end()) {
      throw UsageError(line.command + " does not know " + name);
    }
    if (o.values.count(name)) throw UsageError(name + " is given twice");
    o.values[name] = value;
  }
  return o;
}

std::string readBodyFile(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    throw UsageError("the body file " + file + " cannot be read (no such file)");
  }
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  if (!in || in.bad()) throw UsageError("the body file " + file + " cannot be read");
  return text.str();
}

// The stored SMTP settings must name a server before anything is sent.
int requireSmtp(app::TKVmain& kv, std::ostream& err) {
  const bool secondary =
      kv.Check().secondaryAccountChosen() && !kv.KVWForm1->text("KVWsecsmtphost").empty();
  const std::string host = trimmed(kv.KVWForm1->text(secondary ? "KVWsecsmtphost" : "KVWsmtphost"));
  if (host.empty() || host == settings::kPlaceholderSmtpHost || !kv.State.SmtpConfigured) {
    err << "kelvrin-cli: no SMTP server is set (kelvrin-cli init --smtp-host HOST ...); nothing "
           "was sent\n";
    return kExitFailed;
  }
  return kExitOk;
}

int reportSend(app::TKVmain& kv, bool sent, std::ostream& out, std::ostream& err) {
  if (sent) {
    kv.dfsStatus.setStatus("Status: message sent");
    out << terminalText(kv.dfsStatus.Status()) << "\n";
    return kExitOk;
  }
  const std::string why = kv.dfsStatus.Status();
  out << "Status: message NOT sent\n";
  err << "kelvrin-cli: "
      << (why.find("Status: ") == 0 && why != "Status: " ? terminalText(why)
                                                         : "the server refused the message")
      << "\n";
  if (!kv.dfsStatus.Panel(2).empty()) err << "  " << terminalText(kv.dfsStatus.Panel(2)) << "\n";
  return kExitFailed;
}

int runSend(const CommandLine& line, const Environment& env, std::ostream& out, std::ostream& err,
            std::istream& in) {
  if (line.json) throw UsageError("send has no --json");
  const SendOptions o =
      parseSendOptions(line, {"--to", "--cc", "--bcc", "--subject", "--body", "--body-file"});
  if (!o.words.empty()) throw UsageError("send does not take \"" + o.words[0] + "\"");
  if (!o.values.count("--to")) throw UsageError("send needs --to");
  if (!o.values.count("--subject")) throw UsageError("send needs --subject");
  if (o.values.count("--body") && o.values.count("--body-file")) {
    throw UsageError("send takes --body or --body-file, not both");
  }
  const auto get = [&](const char* key) {
    return o.values.count(key) ? o.values.at(key) : std::string();
  };
  if (const std::string why = outgoing::RefusedHeaderInput(get("--subject"), "", get("--to"),
                                                           get("--cc"), get("--bcc"));
      !why.empty()) {
    throw UsageError("nothing sent: " + why);
  }
  std::string body;
  if (o.values.count("--body")) {
    body = get("--body");
  } else if (o.values.count("--body-file")) {
    body = readBodyFile(get("--body-file"));
  } else {
    body.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const auto home = settingsHome(line, env);
  if (requireSettings(home, err) != kExitOk) return kExitFailed;
  Session session(home, env, err, false);
  app::TKVmain& kv = session.kv();
  if (requireSmtp(kv, err) != kExitOk) return kExitFailed;
  const bool sent = session.commands().Sender().SendMAPImail(
      "", "", false, body, get("--subject"), get("--to"), get("--cc"), get("--bcc"));
  return reportSend(kv, sent, out, err);
}

int runCommandMail(const CommandLine& line, const Environment& env, std::ostream& out,
                   std::ostream& err, int code, std::size_t maxText) {
  if (line.json) throw UsageError(line.command + " has no --json");
  const SendOptions o = parseSendOptions(line, {"--to"});
  if (!o.values.count("--to")) throw UsageError(line.command + " needs --to");
  if (o.words.size() != 1) throw UsageError(line.command + " needs one TEXT (quote it)");
  const std::string& to = o.values.at("--to");
  const std::string& text = o.words[0];
  if (text.size() > maxText) {
    throw UsageError(line.command + " takes at most " + std::to_string(maxText) +
                     " characters of text");
  }
  if (const std::string why = outgoing::RefusedHeaderInput(text, "", to, "", ""); !why.empty()) {
    throw UsageError("nothing sent: " + (why == "the subject holds a line break"
                                             ? std::string("the text holds a line break")
                                             : why));
  }
  if (protocols::TSmtpClient::SplitAddresses(to).size() != 1) {
    throw UsageError(line.command + " goes to one address");
  }
  const auto home = settingsHome(line, env);
  if (requireSettings(home, err) != kExitOk) return kExitFailed;
  Session session(home, env, err, false);
  app::TKVmain& kv = session.kv();
  if (requireSmtp(kv, err) != kExitOk) return kExitFailed;
  const bool sent =
      session.commands().Sender().SendMAPImail(std::to_string(code), "", false, "", text, to);
  return reportSend(kv, sent, out, err);
}

}  // namespace

const char* usageText() {
  return kUsage;
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Environment& env) {
  try {
    const CommandLine line = parseCommandLine(args);
    if (line.help) {
      out << kUsage;
      return kExitOk;
    }
    if (line.command == "init") {
      if (line.json) throw UsageError("init has no --json");
      return runInit(line, env, out);
    }
    if (line.command == "check") return runCheck(line, env, out, err);
    if (line.command == "delete") return runDelete(line, env, out, err);
    if (line.command == "show") return runShow(line, env, out, err);
    if (line.command == "quarantine") return runQuarantine(line, env, out, err);
    if (line.command == "send")
      return runSend(line, env, out, err, env.input ? *env.input : std::cin);
    if (line.command == "greet") {
      return runCommandMail(line, env, out, err, outgoing::kCodeGreeting, 160);
    }
    if (line.command == "flash") {
      return runCommandMail(line, env, out, err, outgoing::kCodeFlash, 255);
    }
    if (line.command.empty()) throw UsageError("no command given");
    throw UsageError("unknown command \"" + line.command + "\"");
  } catch (const UsageError& e) {
    err << "kelvrin-cli: " << e.what() << "\n\n" << kUsage;
    return kExitUsage;
  } catch (const std::exception& e) {
    err << "kelvrin-cli: " << e.what() << "\n";
    return kExitFailed;
  }
}

}  // namespace kelvrin::cli
