#pragma once

// Balloons as desktop notifications (org.freedesktop.Notifications on the
// session bus). Every call is asynchronous: a slow or hung notification
// service never holds up the program. A notification replaces the previous
// one of its kind, so repeated checks do not pile up notifications.
//
// The new-mail notification (kind Info) offers "Open" and, while the last
// check marked spam, "Delete spam" — only where the service lists the
// "actions" capability. The body of a notification is the default action:
// the balloon click.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <map>

#include "notify/tray_icon.h"

namespace kelvrin::platform {

class DBusNotifications final : public QObject {
  Q_OBJECT
 public:
  static constexpr const char* kService = "org.freedesktop.Notifications";
  static constexpr const char* kPath = "/org/freedesktop/Notifications";
  static constexpr const char* kDefaultAction = "default";
  static constexpr const char* kOpenAction = "open";
  static constexpr const char* kDeleteSpamAction = "delete-spam";

  explicit DBusNotifications(QDBusConnection bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
  ~DBusNotifications() override;

  // What the actions do.
  std::function<void()> onDefault;
  std::function<void()> onOpen;
  std::function<void()> onDeleteSpam;
  // Whether the last check marked spam (offers "Delete spam").
  std::function<bool()> spamMarked;

  // Sends the notification. False when no notification service runs: the
  // caller shows the tray's own message instead.
  bool show(const QString& title, const QString& text, notify::BalloonIcon kind, int timeoutSecs);

  // Whether a notification service owns its name on the bus now.
  bool serviceRunning() const;
  // The service's capabilities, once its answer has come (asked for at
  // construction and again whenever the service changes).
  bool capabilitiesKnown() const { return capabilitiesKnown_; }
  const QStringList& capabilities() const { return capabilities_; }

  // The actions a notification of the kind carries now, as key/label pairs.
  QStringList actionsFor(notify::BalloonIcon kind) const;
  // The body as sent: marked-up services get the text escaped.
  QString bodyFor(const QString& text) const;

 signals:
  // The service answered a Notify with the notification's id.
  void notified(uint id);

 private slots:
  void actionInvoked(uint id, const QString& key);
  void notificationClosed(uint id, uint reason);
  void serviceOwnerChanged(const QString& name, const QString& oldOwner, const QString& newOwner);

 private:
  void askCapabilities();

  QDBusConnection bus_;
  QStringList capabilities_;
  bool capabilitiesKnown_ = false;
  // The service's id of the notification shown for each kind.
  std::map<int, uint> shown_;
};

}  // namespace kelvrin::platform
