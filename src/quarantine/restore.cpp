#include "quarantine/restore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "base/atomic_file.h"
#include "base/file_descriptor.h"

namespace kelvrin::quarantine {

namespace {

std::string serverSaid(const protocols::TSmtpClient& client) {
  std::string text = client.ReplyCode;
  if (!client.ReplyText.empty()) text += (text.empty() ? "" : " ") + client.ReplyText;
  return text.empty() ? "no reply" : text;
}

}  // namespace

void RestoreMessage(protocols::TSmtpClient& client, const std::string& Address,
                    std::string_view Bytes) {
  const std::string address = protocols::TSmtpClient::ExtractAddress(Address, false);
  if (address.find('@') == std::string::npos) {
    throw QuarantineError("Cannot restore: \"" + Address + "\" is not a mail address");
  }
  try {
    if (!client.Connect()) {
      throw QuarantineError(
          "Cannot connect to the SMTP server " + client.Host + ": " +
          (client.LastErrorText.empty() ? "no connection" : client.LastErrorText));
    }
    const bool offered = client.AuthLoginOffered || client.AuthPlainOffered;
    if (offered && !client.UserId.empty() && !client.Login()) {
      throw QuarantineError("The SMTP server refused the login: " + serverSaid(client));
    }
    const int result = client.SendRawTransaction(address, {address}, Bytes);
    if (result < 0) {
      static const char* kStep[] = {"", "MAIL FROM", "RCPT TO", "DATA", "the message",
                                    "", "sending"};
      throw QuarantineError(std::string("The SMTP server refused ") + kStep[-result] + ": " +
                            serverSaid(client));
    }
  } catch (const QuarantineError&) {
    try {
      client.Quit();
    } catch (...) {
    }
    throw;
  } catch (const std::exception& e) {
    try {
      client.Quit();
    } catch (...) {
    }
    throw QuarantineError(std::string("Cannot restore: ") + e.what());
  }
  try {
    client.Quit();
  } catch (...) {
    // The server has taken the message; a lost QUIT reply changes nothing.
  }
}

void ExportMessage(const QuarantineStore& store, const QuarantineEntry& entry,
                   const std::filesystem::path& file) {
  const std::string bytes = store.ReadMessage(entry);
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  std::string temp = (folder / ("." + file.filename().string() + ".XXXXXX")).string();
  const auto failWith = [&](int error) {
    ::unlink(temp.c_str());
    if (error == EEXIST) {
      throw QuarantineError("Not exported: " + file.string() + " already exists");
    }
    throw QuarantineError("Cannot write " + file.string() + ": " + std::strerror(error));
  };
  base::FileDescriptor fd(::mkostemp(temp.data(), O_CLOEXEC));
  if (fd.get() < 0) {
    temp.clear();
    failWith(errno);
  }
  if (::fchmod(fd.get(), 0600) != 0 || !base::writeFully(fd.get(), bytes) ||
      ::fsync(fd.get()) != 0) {
    failWith(errno);
  }
  if (fd.close() != 0) failWith(errno);
  // link, unlike rename, never replaces: the complete file appears under
  // its name at once, or not at all when the name is taken.
  if (::link(temp.c_str(), file.c_str()) != 0) failWith(errno);
  ::unlink(temp.c_str());
  const base::FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) ::fsync(dir.get());
}

}  // namespace kelvrin::quarantine
