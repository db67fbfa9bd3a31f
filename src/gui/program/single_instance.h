#pragma once

// One running program per settings home. A lock file in the home says who
// runs (a lock left by a process that is gone is taken over); a local
// server named from the home's canonical path lets a later start hand its
// request to the running one and end.

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <filesystem>
#include <memory>

namespace kelvrin::gui {

inline constexpr const char* kLockFileName = "kelvrin.lock";

// The local server's name for a settings home: the same for every spelling
// of the same folder, short enough for a socket path.
QString serverNameFor(const std::filesystem::path& home);

class SingleInstance : public QObject {
  Q_OBJECT
 public:
  explicit SingleInstance(const std::filesystem::path& home, QObject* parent = nullptr);
  ~SingleInstance() override;

  enum class Outcome {
    First,       // this process runs the home now and listens for requests
    HandedOver,  // the running instance took the request; this one ends
    Failed,      // error() says why
  };
  // Takes the home, or hands `request` to the instance that has it.
  // handoverTimeoutMs bounds the wait for a running instance that is still
  // starting up.
  Outcome acquire(const QString& request, int handoverTimeoutMs = 10000);
  // Once the program is up: later starts can hand over their requests.
  // False (error() says why) when the server cannot listen.
  bool listen();
  const QString& error() const { return error_; }
  QString lockPath() const;
  QString serverName() const { return serverName_; }

 signals:
  // A later start's request ("check", "show", "quit", "raise").
  void requestReceived(const QString& request);

 private:
  void onConnection();
  // Sends the request to the running instance; true once it answered.
  bool handOver(const QString& request, int timeoutMs);
  QString lockHolderText() const;

  std::filesystem::path home_;
  QString serverName_;
  std::unique_ptr<QLockFile> lock_;
  QLocalServer server_;
  QString error_;
};

}  // namespace kelvrin::gui
