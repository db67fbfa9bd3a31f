#include "platform/dbus_notifications.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QVariantMap>

namespace kelvrin::platform {

namespace {

const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

QString iconName(notify::BalloonIcon kind) {
  switch (kind) {
    case notify::BalloonIcon::Warning:
      return QStringLiteral("dialog-warning");
    case notify::BalloonIcon::Error:
      return QStringLiteral("dialog-error");
    case notify::BalloonIcon::Info:
    case notify::BalloonIcon::None:
      break;
  }
  return QStringLiteral("kelvrin");
}

}  // namespace

DBusNotifications::DBusNotifications(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
  if (!bus_.isConnected()) return;
  const QString service = QString::fromLatin1(kService);
  const QString path = QString::fromLatin1(kPath);
  bus_.connect(service, path, kInterface, QStringLiteral("ActionInvoked"), this,
               SLOT(actionInvoked(uint, QString)));
  bus_.connect(service, path, kInterface, QStringLiteral("NotificationClosed"), this,
               SLOT(notificationClosed(uint, uint)));
  bus_.connect(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
               QStringLiteral("org.freedesktop.DBus"), QStringLiteral("NameOwnerChanged"), this,
               SLOT(serviceOwnerChanged(QString, QString, QString)));
  askCapabilities();
}

DBusNotifications::~DBusNotifications() = default;

bool DBusNotifications::serviceRunning() const {
  if (!bus_.isConnected() || bus_.interface() == nullptr) return false;
  // Only a running service counts: a service the bus would start on demand
  // may never come, and the balloon would be lost.
  return bus_.interface()->isServiceRegistered(QString::fromLatin1(kService)).value();
}

void DBusNotifications::askCapabilities() {
  if (!serviceRunning()) return;
  auto call = bus_.asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(kService),
                                                            QString::fromLatin1(kPath), kInterface,
                                                            QStringLiteral("GetCapabilities")));
  auto* watcher = new QDBusPendingCallWatcher(call, this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    QDBusPendingReply<QStringList> reply = *w;
    if (!reply.isError()) {
      capabilities_ = reply.value();
      capabilitiesKnown_ = true;
    }
    w->deleteLater();
  });
}

void DBusNotifications::serviceOwnerChanged(const QString& name, const QString&,
                                            const QString& newOwner) {
  if (name != QLatin1String(kService)) return;
  // Another service: its ids and capabilities are its own.
  shown_.clear();
  capabilities_.clear();
  capabilitiesKnown_ = false;
  if (!newOwner.isEmpty()) askCapabilities();
}

QStringList DBusNotifications::actionsFor(notify::BalloonIcon kind) const {
  QStringList actions;
  if (!capabilities_.contains(QLatin1String("actions"))) return actions;
  // The default action has no button of its own; servers that show its
  // label anyway should show something meaningful.
  actions << QString::fromLatin1(kDefaultAction) << tr("Show");
  if (kind == notify::BalloonIcon::Info) {
    actions << QString::fromLatin1(kOpenAction) << tr("Open");
    if (spamMarked && spamMarked()) {
      actions << QString::fromLatin1(kDeleteSpamAction) << tr("Delete spam");
    }
  }
  return actions;
}

QString DBusNotifications::bodyFor(const QString& text) const {
  if (!capabilities_.contains(QLatin1String("body-markup"))) return text;
  QString escaped = text.toHtmlEscaped();
  escaped.replace(QLatin1Char('\n'), QStringLiteral("<br/>"));
  return escaped;
}

bool DBusNotifications::show(const QString& title, const QString& text, notify::BalloonIcon kind,
                             int timeoutSecs) {
  if (!serviceRunning()) return false;
  const int key = static_cast<int>(kind);
  const auto previous = shown_.find(key);
  const uint replaces = previous == shown_.end() ? 0U : previous->second;
  QVariantMap hints;
  hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("kelvrin"));
  if (kind == notify::BalloonIcon::Error) hints.insert(QStringLiteral("urgency"), uchar{2});
  QDBusMessage message =
      QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                     kInterface, QStringLiteral("Notify"));
  message << QStringLiteral("Kelvrin") << replaces << iconName(kind) << title << bodyFor(text)
          << actionsFor(kind) << hints << (timeoutSecs > 0 ? timeoutSecs * 1000 : -1);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, key](QDBusPendingCallWatcher* w) {
            QDBusPendingReply<uint> reply = *w;
            if (!reply.isError()) {
              shown_[key] = reply.value();
              emit notified(reply.value());
            }
            w->deleteLater();
          });
  return true;
}

void DBusNotifications::actionInvoked(uint id, const QString& key) {
  // Other programs' notifications are announced on the same bus.
  bool ours = false;
  for (const auto& [kind, shownId] : shown_)
    ours = ours || shownId == id;
  if (!ours) return;
  if (key == QLatin1String(kDefaultAction)) {
    if (onDefault) onDefault();
  } else if (key == QLatin1String(kOpenAction)) {
    if (onOpen) onOpen();
  } else if (key == QLatin1String(kDeleteSpamAction)) {
    if (onDeleteSpam) onDeleteSpam();
  }
}

void DBusNotifications::notificationClosed(uint id, uint) {
  for (auto it = shown_.begin(); it != shown_.end(); ++it) {
    if (it->second == id) {
      // Gone: the next one of its kind is a new notification.
      shown_.erase(it);
      return;
    }
  }
}

}  // namespace kelvrin::platform
