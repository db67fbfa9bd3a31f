#include "gui/program/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <cerrno>
#include <csignal>

namespace kelvrin::gui {

namespace {

constexpr int kAnswerTimeoutMs = 5000;

QString canonicalHome(const std::filesystem::path& home) {
  const QString path = QString::fromStdString(home.string());
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(QFileInfo(path).absoluteFilePath()) : canonical;
}

bool processAlive(qint64 pid) {
  if (pid <= 0) return false;
  return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

}  // namespace

QString serverNameFor(const std::filesystem::path& home) {
  const QByteArray digest =
      QCryptographicHash::hash(canonicalHome(home).toUtf8(), QCryptographicHash::Sha256);
  // The user id keeps two users' servers apart even for one shared folder.
  return QStringLiteral("kelvrin-%1-%2")
      .arg(static_cast<qulonglong>(::getuid()))
      .arg(QString::fromLatin1(digest.toHex().left(24)));
}

SingleInstance::SingleInstance(const std::filesystem::path& home, QObject* parent)
    : QObject(parent), home_(home), serverName_(serverNameFor(home)) {
  lock_ = std::make_unique<QLockFile>(lockPath());
  // Only a dead holder makes a lock stale, never its age: a program that
  // runs for weeks keeps its home.
  lock_->setStaleLockTime(0);
  connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::onConnection);
}

SingleInstance::~SingleInstance() {
  server_.close();
  if (lock_) lock_->unlock();
}

QString SingleInstance::lockPath() const {
  return QDir(QString::fromStdString(home_.string())).filePath(QString::fromLatin1(kLockFileName));
}

QString SingleInstance::lockHolderText() const {
  qint64 pid = 0;
  QString host;
  QString app;
  if (lock_->getLockInfo(&pid, &host, &app)) return QStringLiteral("process %1").arg(pid);
  return QStringLiteral("another process");
}

SingleInstance::Outcome SingleInstance::acquire(const QString& request, int handoverTimeoutMs) {
  QDeadlineTimer deadline(handoverTimeoutMs);
  for (;;) {
    if (lock_->tryLock(0)) return Outcome::First;
    if (lock_->error() != QLockFile::LockFailedError) {
      error_ = QStringLiteral("kelvrin: cannot create the lock file %1: %2")
                   .arg(lockPath(), lock_->error() == QLockFile::PermissionError
                                        ? QStringLiteral("permission denied")
                                        : QStringLiteral("unknown error"));
      return Outcome::Failed;
    }
    // Held by a live process. One of another user cannot be asked anything.
    const QFileInfo info(lockPath());
    qint64 pid = 0;
    QString host;
    QString app;
    const bool known = lock_->getLockInfo(&pid, &host, &app);
    if (info.exists() && info.ownerId() != ::getuid() && (!known || processAlive(pid))) {
      error_ = QStringLiteral(
                   "kelvrin: the settings home %1 is in use by %2 of another user (%3); "
                   "choose another home with --home")
                   .arg(QString::fromStdString(home_.string()), lockHolderText(), info.owner());
      return Outcome::Failed;
    }
    if (handOver(request, 500)) return Outcome::HandedOver;
    if (deadline.hasExpired()) break;
    // The running instance may still be starting (its server not yet up),
    // or may just have ended (the lock is about to be free).
    QThread::msleep(100);
  }
  error_ = QStringLiteral("kelvrin: Kelvrin runs for %1 (%2) but does not answer")
               .arg(QString::fromStdString(home_.string()), lockHolderText());
  return Outcome::Failed;
}

bool SingleInstance::listen() {
  // The lock is ours, so a server of that name is a leftover of a crash.
  QLocalServer::removeServer(serverName_);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  if (!server_.listen(serverName_)) {
    error_ = QStringLiteral("kelvrin: cannot listen for later starts (%1): %2")
                 .arg(serverName_, server_.errorString());
    return false;
  }
  return true;
}

bool SingleInstance::handOver(const QString& request, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(serverName_);
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(request.toUtf8() + '\n');
  if (!socket.waitForBytesWritten(kAnswerTimeoutMs)) return false;
  QDeadlineTimer deadline(kAnswerTimeoutMs);
  QByteArray answer;
  while (!answer.contains('\n') && !deadline.hasExpired()) {
    if (!socket.waitForReadyRead(static_cast<int>(deadline.remainingTime()))) break;
    answer += socket.readAll();
  }
  return answer.startsWith("ok");
}

void SingleInstance::onConnection() {
  while (QLocalSocket* socket = server_.nextPendingConnection()) {
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
      if (!socket->canReadLine()) {
        // A line longer than any request is not one.
        if (socket->bytesAvailable() > 64) socket->disconnectFromServer();
        return;
      }
      const QString request = QString::fromUtf8(socket->readLine(64)).trimmed();
      socket->write("ok\n");
      socket->flush();
      socket->disconnectFromServer();
      // Run the request from the event loop, after the answer is out: it may
      // be "quit", which ends this process.
      QTimer::singleShot(0, this, [this, request] { emit requestReceived(request); });
    });
  }
}

}  // namespace kelvrin::gui
