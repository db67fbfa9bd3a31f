#include "support/dovecot_server.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <stdexcept>

namespace kelvrin::test {
namespace {

std::string nameOfUser(uid_t uid) {
  const passwd* entry = getpwuid(uid);
  return entry != nullptr ? entry->pw_name : std::to_string(uid);
}

std::string nameOfGroup(gid_t gid) {
  const group* entry = getgrgid(gid);
  return entry != nullptr ? entry->gr_name : std::to_string(gid);
}

void chownTree(const std::string& path, unsigned uid, unsigned gid) {
  if (chown(path.c_str(), uid, gid) != 0) throw std::runtime_error("cannot chown " + path);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
    if (chown(entry.path().c_str(), uid, gid) != 0) {
      throw std::runtime_error("cannot chown " + entry.path().string());
    }
  }
}

}  // namespace

DovecotServer::DovecotServer()
    // Unprivileged Dovecot processes must be able to walk down to this
    // folder, so it does not go below a test's private $TMPDIR.
    : dir_("kelvrin-dovecot-", "/tmp"), certificate_(TestCertificate::Create(dir_.Path())) {
  if (geteuid() == 0) {
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) throw std::runtime_error("no user nobody for the mail processes");
    mailUid_ = nobody->pw_uid;
    mailGid_ = nobody->pw_gid;
    // The login and mail processes run unprivileged and must reach their
    // sockets and the maildir below this folder.
    chmod(dir_.Path().c_str(), 0755);
  } else {
    mailUid_ = geteuid();
    mailGid_ = getegid();
  }
  for (const char* sub : {"/run", "/state", "/home", "/home/Maildir", "/home/Maildir/cur",
                          "/home/Maildir/new", "/home/Maildir/tmp"}) {
    std::filesystem::create_directories(dir_.Path() + sub);
  }
}

DovecotServer::~DovecotServer() {
  Stop();
}

void DovecotServer::AddMessage(const std::string& text) {
  std::string crlf;
  crlf.reserve(text.size() + text.size() / 20);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) crlf += '\r';
    crlf += text[i];
  }
  // Maildir keeps LF line ends; the name sorts in the order of adding.
  std::string lf;
  lf.reserve(crlf.size());
  for (char c : crlf) {
    if (c != '\r') lf += c;
  }
  // The sizes in the name spare Dovecot reading every file to learn them.
  char name[96];
  ++messages_;
  snprintf(name, sizeof name, "/home/Maildir/cur/%010d.M%dP1.kelvrin,S=%zu,W=%zu:2,",
           1000000000 + messages_, messages_, lf.size(), crlf.size());
  WriteTextFile(dir_.Path() + name, lf);
}

void DovecotServer::writeConfiguration() {
  const std::string d = dir_.Path();
  const bool root = geteuid() == 0;
  const std::string internalUser = root ? "dovecot" : nameOfUser(geteuid());
  const std::string loginUser = root ? "dovenull" : nameOfUser(geteuid());
  std::string conf;
  conf += "base_dir = " + d + "/run\n";
  conf += "state_dir = " + d + "/state\n";
  conf += "instance_name = kelvrin-test\n";
  conf += "log_path = " + d + "/dovecot.log\n";
  conf += "protocols = pop3\n";
  conf += "listen = 127.0.0.1\n";
  conf += "ssl = yes\n";
  conf += "ssl_cert = <" + certificate_.CertFile + "\n";
  conf += "ssl_key = <" + certificate_.KeyFile + "\n";
  conf += "ssl_min_protocol = TLSv1.2\n";
  conf += "disable_plaintext_auth = no\n";
  conf += "auth_mechanisms = plain login\n";
  conf += "default_internal_user = " + internalUser + "\n";
  conf +=
      "default_internal_group = " + nameOfGroup(root ? getpwnam("dovecot")->pw_gid : getegid()) +
      "\n";
  conf += "default_login_user = " + loginUser + "\n";
  conf += "first_valid_uid = " + std::to_string(mailUid_) + "\n";
  conf += "first_valid_gid = 0\n";
  conf += "mail_location = maildir:~/Maildir\n";
  conf += "pop3_uidl_format = %08Xu%08Xv\n";
  conf += "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN username_format=%u " + d +
          "/users\n}\n";
  conf += "userdb {\n  driver = passwd-file\n  args = username_format=%u " + d + "/users\n}\n";
  conf += "service pop3-login {\n  chroot =\n";
  conf += "  inet_listener pop3 {\n    port = " + std::to_string(pop3Port_) + "\n  }\n";
  conf += "  inet_listener pop3s {\n    port = " + std::to_string(pop3sPort_) +
          "\n    ssl = yes\n  }\n}\n";
  conf += "service anvil {\n  chroot =\n}\n";
  WriteTextFile(d + "/dovecot.conf", conf);
  WriteTextFile(d + "/users", std::string(User()) + ":{PLAIN}" + Password() + ":" +
                                  std::to_string(mailUid_) + ":" + std::to_string(mailGid_) +
                                  "::" + d + "/home\n");
}

void DovecotServer::Start() {
  if (geteuid() == 0) chownTree(dir_.Path() + "/home", mailUid_, mailGid_);
  std::string lastLog;
  for (int attempt = 0; attempt < 3; ++attempt) {
    pop3Port_ = FreeLoopbackPort();
    pop3sPort_ = FreeLoopbackPort();
    if (pop3sPort_ == pop3Port_) continue;
    writeConfiguration();
    process_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{kBinary, "-F", "-c", dir_.Path() + "/dovecot.conf"},
        dir_.Path() + "/dovecot.out");
    if (WaitForListener(pop3Port_, 10000) && WaitForListener(pop3sPort_, 2000)) return;
    lastLog = Log();
    process_->Stop();
    process_.reset();
  }
  throw std::runtime_error("dovecot did not start:\n" + lastLog);
}

void DovecotServer::Stop() {
  if (process_) process_->Stop();
  process_.reset();
}

std::string DovecotServer::Log() const {
  return ReadTextFile(dir_.Path() + "/dovecot.out") + ReadTextFile(dir_.Path() + "/dovecot.log");
}

}  // namespace kelvrin::test
