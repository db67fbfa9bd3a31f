#include "platform/nm_dialer.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QVariantMap>
#include <algorithm>

namespace kelvrin::platform {

namespace {

using ConnectionSettings = QMap<QString, QVariantMap>;

constexpr int kCallTimeoutMs = 10000;
const QString kPath = QStringLiteral("/org/freedesktop/NetworkManager");
const QString kSettingsPath = QStringLiteral("/org/freedesktop/NetworkManager/Settings");
const QString kInterface = QStringLiteral("org.freedesktop.NetworkManager");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.NetworkManager.Settings");
const QString kProfileInterface =
    QStringLiteral("org.freedesktop.NetworkManager.Settings.Connection");
const QString kActiveInterface = QStringLiteral("org.freedesktop.NetworkManager.Connection.Active");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");

// NetworkManager's states of an active connection.
constexpr uint kActivating = 1;
constexpr uint kActivated = 2;
constexpr uint kDeactivated = 4;

QDBusMessage call(const QString& path, const QString& interface, const QString& method) {
  return QDBusMessage::createMethodCall(QString::fromLatin1(NmDialer::kService), path, interface,
                                        method);
}

}  // namespace

NmDialer::NmDialer(QDBusConnection bus, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      watcher_(QString::fromLatin1(kService), bus_, QDBusServiceWatcher::WatchForOwnerChange) {
  qDBusRegisterMetaType<ConnectionSettings>();
  connect(&watcher_, &QDBusServiceWatcher::serviceRegistered, this,
          [this](const QString&) { serviceRegistered(); });
  connect(&watcher_, &QDBusServiceWatcher::serviceUnregistered, this,
          [this](const QString&) { serviceGone(); });
  refresh();
}

NmDialer::~NmDialer() = default;

bool NmDialer::isDialUpType(const QString& type) {
  static const QStringList kinds{QStringLiteral("gsm"), QStringLiteral("cdma"),
                                 QStringLiteral("pppoe"), QStringLiteral("bluetooth"),
                                 QStringLiteral("vpn")};
  return kinds.contains(type);
}

std::string NmDialer::reasonText(unsigned reason) {
  switch (reason) {
    case 2:
      return "Disconnected by the user";
    case 3:
      return "The device was disconnected";
    case 4:
      return "The connection service stopped";
    case 5:
      return "The IP configuration was invalid";
    case 6:
      return "The connection attempt timed out";
    case 7:
      return "The connection service did not start in time";
    case 8:
      return "The connection service failed to start";
    case 9:
      return "No password or secret was given";
    case 10:
      return "The login failed";
    case 11:
      return "The connection profile was removed";
    case 12:
      return "A connection it depends on failed";
    case 13:
      return "The device could not be set up";
    case 14:
      return "The device was removed";
    default:
      return {};
  }
}

QDBusPendingCallWatcher* NmDialer::send(const QDBusMessage& message) {
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message, kCallTimeoutMs), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, watcher, &QObject::deleteLater);
  return watcher;
}

QDBusPendingCallWatcher* NmDialer::sendCounted(const QDBusMessage& message, unsigned generation) {
  QDBusPendingCallWatcher* watcher = send(message);
  ++pending_;
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this, generation] {
    if (generation == generation_ && pending_ > 0) --pending_;
  });
  return watcher;
}

std::vector<std::string> NmDialer::entries() {
  std::vector<std::string> ids;
  for (const auto& p : profiles_)
    ids.push_back(p.Id);
  return ids;
}

bool NmDialer::connectionUp(const std::string& entry) {
  return std::any_of(active_.begin(), active_.end(), [&](const auto& a) {
    return a.second.Id == entry && a.second.State == kActivated && a.first != activePath_;
  });
}

net::DialUpStatus NmDialer::dialUpStatus() {
  if (!present_) {
    if (pending_ == 0) refresh();
    return net::DialUpStatus::Unknown;
  }
  const bool up = std::any_of(active_.begin(), active_.end(),
                              [](const auto& a) { return a.second.State == kActivated; });
  // A slow NetworkManager is not asked again before it has answered: a new
  // refresh drops the replies of the last one, which would then never land.
  if (pending_ == 0) refresh();
  return up ? net::DialUpStatus::Up : net::DialUpStatus::Down;
}

void NmDialer::refresh() {
  const unsigned generation = ++generation_;
  pending_ = 0;
  auto* list = sendCounted(
      call(kSettingsPath, kSettingsInterface, QStringLiteral("ListConnections")), generation);
  connect(list, &QDBusPendingCallWatcher::finished, this, [this, generation](auto* w) {
    if (generation != generation_) return;
    QDBusPendingReply<QList<QDBusObjectPath>> reply = *w;
    if (reply.isError()) {
      // No NetworkManager (or no answer): the address test decides alone.
      present_ = false;
      profiles_.clear();
      active_.clear();
      return;
    }
    present_ = true;
    profilesPending_.clear();
    profilesAwaited_ = static_cast<int>(reply.value().size());
    if (profilesAwaited_ == 0) profiles_.clear();
    for (const auto& path : reply.value()) {
      auto* get = sendCounted(call(path.path(), kProfileInterface, QStringLiteral("GetSettings")),
                              generation);
      connect(get, &QDBusPendingCallWatcher::finished, this,
              [this, generation, path = path.path()](auto* g) {
                if (generation != generation_) return;
                QDBusPendingReply<ConnectionSettings> settings = *g;
                if (!settings.isError()) {
                  const QVariantMap connection =
                      settings.value().value(QStringLiteral("connection"));
                  if (isDialUpType(connection.value(QStringLiteral("type")).toString())) {
                    profilesPending_.push_back(
                        {connection.value(QStringLiteral("id")).toString().toStdString(), path});
                  }
                }
                // The list keeps NetworkManager's order, whatever order the
                // replies come in.
                if (--profilesAwaited_ == 0) {
                  profiles_ = std::move(profilesPending_);
                  profilesPending_.clear();
                }
              });
    }
  });

  QDBusMessage get = call(kPath, kProperties, QStringLiteral("Get"));
  get << kInterface << QStringLiteral("ActiveConnections");
  auto* actives = sendCounted(get, generation);
  connect(actives, &QDBusPendingCallWatcher::finished, this, [this, generation](auto* w) {
    if (generation != generation_) return;
    QDBusPendingReply<QDBusVariant> reply = *w;
    if (reply.isError()) return;
    QList<QDBusObjectPath> paths;
    reply.value().variant().value<QDBusArgument>() >> paths;
    std::map<QString, Active> kept;
    for (const auto& p : paths) {
      if (auto it = active_.find(p.path()); it != active_.end()) kept.insert(*it);
    }
    active_ = std::move(kept);
    for (const auto& p : paths) {
      QDBusMessage all = call(p.path(), kProperties, QStringLiteral("GetAll"));
      all << kActiveInterface;
      auto* props = sendCounted(all, generation);
      connect(props, &QDBusPendingCallWatcher::finished, this,
              [this, generation, path = p.path()](auto* a) {
                if (generation != generation_) return;
                QDBusPendingReply<QVariantMap> values = *a;
                if (values.isError()) return;
                const QVariantMap v = values.value();
                if (!isDialUpType(v.value(QStringLiteral("Type")).toString())) {
                  active_.erase(path);
                  return;
                }
                active_[path] = {v.value(QStringLiteral("Id")).toString().toStdString(),
                                 v.value(QStringLiteral("State")).toUInt()};
              });
    }
  });
}

void NmDialer::dial(const std::string& entry) {
  const auto profile = std::find_if(profiles_.begin(), profiles_.end(),
                                    [&](const Profile& p) { return p.Id == entry; });
  if (!present_ || profile == profiles_.end()) {
    if (events_) {
      events_->dialError(
          0, present_ ? "The connection profile was removed" : "NetworkManager is not running");
    }
    return;
  }
  unwatchActive();
  activating_ = true;
  connected_ = false;
  if (events_) events_->dialProgress(net::DialProgress::Initializing);
  QDBusMessage activate = call(kPath, kInterface, QStringLiteral("ActivateConnection"));
  activate << QVariant::fromValue(QDBusObjectPath(profile->Path))
           << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")))
           << QVariant::fromValue(QDBusObjectPath(QStringLiteral("/")));
  auto* w = send(activate);
  const unsigned serial = ++dialSerial_;
  connect(w, &QDBusPendingCallWatcher::finished, this, [this, serial](auto* reply) {
    QDBusPendingReply<QDBusObjectPath> active = *reply;
    if (serial != dialSerial_ || !activating_) {
      // Hung up while the activation was on its way: end what it made.
      if (!active.isError()) deactivate(active.value().path());
      return;
    }
    if (active.isError()) {
      callEnded(0, active.error().message().toStdString());
      return;
    }
    watchActive(active.value().path());
    if (events_) events_->dialProgress(net::DialProgress::Dialing);
    // The call may be up before we listened for its changes.
    QDBusMessage get = call(activePath_, kProperties, QStringLiteral("Get"));
    get << kActiveInterface << QStringLiteral("State");
    auto* state = send(get);
    const QString path = activePath_;
    connect(state, &QDBusPendingCallWatcher::finished, this, [this, path](auto* s) {
      QDBusPendingReply<QDBusVariant> value = *s;
      if (value.isError() || path != activePath_) return;
      if (value.value().variant().toUInt() == kActivated) onActiveStateChanged(kActivated, 1);
    });
  });
}

void NmDialer::watchActive(const QString& path) {
  activePath_ = path;
  bus_.connect(QString::fromLatin1(kService), path, kActiveInterface,
               QStringLiteral("StateChanged"), this, SLOT(onActiveStateChanged(uint, uint)));
}

void NmDialer::unwatchActive() {
  if (!activePath_.isEmpty()) {
    bus_.disconnect(QString::fromLatin1(kService), activePath_, kActiveInterface,
                    QStringLiteral("StateChanged"), this, SLOT(onActiveStateChanged(uint, uint)));
  }
  activePath_.clear();
  activating_ = false;
  connected_ = false;
}

void NmDialer::onActiveStateChanged(uint state, uint reason) {
  if (activePath_.isEmpty()) return;
  if (state == kActivating) {
    if (events_) events_->dialProgress(net::DialProgress::Dialing);
  } else if (state == kActivated) {
    if (connected_) return;
    connected_ = true;
    if (events_) events_->dialProgress(net::DialProgress::Connected);
  } else if (state == kDeactivated) {
    callEnded(reason, reasonText(reason));
  }
}

void NmDialer::callEnded(std::uint32_t code, const std::string& text) {
  const bool wasUp = connected_;
  unwatchActive();
  if (!events_) return;
  if (wasUp) {
    events_->dialDropped();
  } else {
    events_->dialError(code, text);
  }
}

void NmDialer::deactivate(const QString& path) {
  QDBusMessage message = call(kPath, kInterface, QStringLiteral("DeactivateConnection"));
  message << QVariant::fromValue(QDBusObjectPath(path));
  send(message);
}

void NmDialer::hangUp() {
  // An activation still on its way is ended when its reply comes.
  ++dialSerial_;
  const QString path = activePath_;
  unwatchActive();
  if (!path.isEmpty()) deactivate(path);
}

void NmDialer::serviceRegistered() {
  refresh();
}

void NmDialer::serviceGone() {
  present_ = false;
  ++generation_;
  pending_ = 0;
  profiles_.clear();
  active_.clear();
  if (!activePath_.isEmpty() || activating_) {
    callEnded(0, "NetworkManager has stopped");
  }
}

}  // namespace kelvrin::platform
