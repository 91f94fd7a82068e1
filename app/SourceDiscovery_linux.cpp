#include "SourceDiscovery.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QString>

bool sendersAreAnnounced()
{
    // A connection of its own for each look, closed after it: the answer is the bus's of this
    // moment (the daemon may have been started since the last look), and the program keeps
    // nothing open on the system bus.
    const QString connectionName = QStringLiteral("norvane-announcer-check");
    bool owned = false;
    {
        const QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SystemBus, connectionName);
        // Owned by a running daemon, not merely activatable: Debian's activation file for the
        // name runs /bin/false.
        if (bus.isConnected() && bus.interface()) {
            const QDBusReply<bool> reply =
                bus.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Avahi"));
            owned = reply.isValid() && reply.value();
        }
    }
    QDBusConnection::disconnectFromBus(connectionName);
    return owned;
}
