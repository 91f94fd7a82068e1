#include "SourceDiscovery.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QString>

namespace {
const char *const avahi = "org.freedesktop.Avahi";
const char *const connectionName = "norvane-announcer";
} // namespace

// A connection of its own to the system bus, open only while watching, and the owner changes
// of avahi-daemon's name on it.
struct AnnouncementWatch::Watch
{
    std::unique_ptr<QDBusServiceWatcher> watcher;
    ~Watch()
    {
        watcher.reset();
        QDBusConnection::disconnectFromBus(QString::fromLatin1(connectionName));
    }
};

AnnouncementWatch::AnnouncementWatch(QObject *parent) : QObject(parent) {}

AnnouncementWatch::~AnnouncementWatch() = default;

bool AnnouncementWatch::start()
{
    stop();
    watch = std::make_unique<Watch>();
    const QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SystemBus,
                                                              QString::fromLatin1(connectionName));
    if (!bus.isConnected() || !bus.interface())
        return false;
    // Watched before the question, so that no change in between is missed.
    watch->watcher = std::make_unique<QDBusServiceWatcher>(
        QString::fromLatin1(avahi), bus, QDBusServiceWatcher::WatchForOwnerChange);
    connect(watch->watcher.get(), &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &, const QString &owner) {
                emit announcedChanged(!owner.isEmpty());
            });
    // Owned by a running daemon, not merely activatable: Debian's activation file for the name
    // runs /bin/false.
    const QDBusReply<bool> reply = bus.interface()->isServiceRegistered(QString::fromLatin1(avahi));
    return reply.isValid() && reply.value();
}

void AnnouncementWatch::stop()
{
    watch.reset();
}
