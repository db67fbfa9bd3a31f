#pragma once

// Dial-up through NetworkManager on the system bus: the phone-book entries
// are its connection profiles of a dial-up kind, a dial activates one, a
// hang-up deactivates it, and the active connection's state changes are the
// progress. Every call is asynchronous with a time-out, so a slow or hung
// NetworkManager never holds up the program; its disappearance ends a call
// in progress with an error.

#include <QDBusConnection>
#include <QDBusServiceWatcher>
#include <QObject>
#include <QString>
#include <map>
#include <string>
#include <vector>

#include "net/dialer.h"
#include "net/host_info.h"

class QDBusPendingCallWatcher;

namespace kelvrin::platform {

class NmDialer final : public QObject, public net::Dialer {
  Q_OBJECT
 public:
  static constexpr const char* kService = "org.freedesktop.NetworkManager";

  explicit NmDialer(QDBusConnection bus = QDBusConnection::systemBus(), QObject* parent = nullptr);
  ~NmDialer() override;

  // net::Dialer
  void setEvents(net::DialEvents* events) override { events_ = events; }
  bool serviceAvailable() override { return present_; }
  std::vector<std::string> entries() override;
  bool connectionUp(const std::string& entry) override;
  void dial(const std::string& entry) override;
  void hangUp() override;

  // An active connection of a dial-up kind is up; Unknown without
  // NetworkManager. Answers from what the last refresh learnt and starts
  // the next one.
  net::DialUpStatus dialUpStatus();
  // Asks NetworkManager for its profiles and active connections again.
  void refresh();

  // The text of NetworkManager's reason for an ended activation; empty when
  // the reason is unknown.
  static std::string reasonText(unsigned reason);
  static bool isDialUpType(const QString& type);

 private slots:
  void onActiveStateChanged(uint state, uint reason);

 private:
  struct Profile {
    std::string Id;
    QString Path;
  };
  struct Active {
    std::string Id;
    uint State = 0;
  };

  void serviceRegistered();
  void serviceGone();
  void watchActive(const QString& path);
  void unwatchActive();
  void deactivate(const QString& path);
  void callEnded(std::uint32_t code, const std::string& text);
  QDBusPendingCallWatcher* send(const QDBusMessage& message);
  // A call of a refresh, counted until its reply (of that refresh) is in.
  QDBusPendingCallWatcher* sendCounted(const QDBusMessage& message, unsigned generation);

  QDBusConnection bus_;
  QDBusServiceWatcher watcher_;
  net::DialEvents* events_ = nullptr;
  bool present_ = false;
  unsigned generation_ = 0;  // replies of an older refresh are dropped
  int pending_ = 0;          // replies of the last refresh still awaited
  std::vector<Profile> profiles_;
  std::vector<Profile> profilesPending_;
  int profilesAwaited_ = 0;
  std::map<QString, Active> active_;
  // The call this program made.
  QString activePath_;
  unsigned dialSerial_ = 0;
  bool activating_ = false;
  bool connected_ = false;
};

}  // namespace kelvrin::platform
