#include "PortalSession.h"

#include "CursorMode.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QSettings>

#include <atomic>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char *const portalService = "org.freedesktop.portal.Desktop";
const char *const portalPath = "/org/freedesktop/portal/desktop";
const char *const screenCast = "org.freedesktop.portal.ScreenCast";
const char *const requestInterface = "org.freedesktop.portal.Request";

// ScreenCast's values: source type MONITOR, persist mode 2 (until the user revokes it).
constexpr uint monitorSource = 1;
constexpr uint persistUntilRevoked = 2;
// Request responses: 0 success, 1 cancelled by the user, anything else refused.
constexpr uint cancelledByUser = 1;

std::atomic<int> connectionCount{0};

} // namespace

const char *const PortalSession::settingsOrganization = "Norvane";
const char *const PortalSession::settingsApplication = "Norvane";
const char *const PortalSession::restoreTokenKey = "portal/restoreToken";

void PortalThread::run()
{
    PortalSession session(sink);
    session.start();
    exec();
}

PortalSession::PortalSession(PipeWireStream::Sink sink)
    : sink(std::move(sink)),
      connectionName(QStringLiteral("norvane-portal-%1").arg(connectionCount.fetch_add(1)))
{
}

PortalSession::~PortalSession()
{
    stream.reset();
    // Closing the connection ends the portal's session and any dialog it still shows.
    if (bus) {
        bus.reset();
        QDBusConnection::disconnectFromBus(connectionName);
    }
}

void PortalSession::start()
{
    // A connection of its own: the portal's objects are named after its unique name.
    bus = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName));
    if (!bus->isConnected()) {
        fail(QStringLiteral("no session bus (%1)").arg(bus->lastError().message()));
        return;
    }
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), QStringLiteral("norvane"));
    request(Step::CreateSession, QStringLiteral("CreateSession"), {}, options);
}

void PortalSession::request(Step next, const QString &method, QVariantList arguments,
                            QVariantMap options)
{
    step = next;
    const QString token = QStringLiteral("norvane%1").arg(++tokens);
    // The portal names the request object after the caller and the token, so the Response
    // can be listened for before the call is made: it cannot be missed.
    const QString sender = bus->baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
    requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    bus->connect(QString::fromLatin1(portalService), requestPath,
                 QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                 SLOT(onResponse(uint, QVariantMap)));
    options.insert(QStringLiteral("handle_token"), token);
    arguments << options;

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(portalService),
                                                       QString::fromLatin1(portalPath),
                                                       QString::fromLatin1(screenCast), method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(bus->asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, method](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                if (w->isError()) {
                    const QDBusError e = w->error();
                    fail(QStringLiteral("the desktop portal is not available (%1: %2)")
                             .arg(e.name(), e.message()));
                }
            });
}

void PortalSession::onResponse(uint response, const QVariantMap &results)
{
    bus->disconnect(QString::fromLatin1(portalService), requestPath,
                    QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
    if (response == cancelledByUser) {
        fail(QStringLiteral("the screen share was cancelled"));
        return;
    }
    if (response != 0) {
        fail(QStringLiteral("the desktop portal refused the screen share (response %1)")
                 .arg(response));
        return;
    }

    switch (step) {
    case Step::CreateSession: {
        sessionHandle = results.value(QStringLiteral("session_handle")).toString();
        QVariantMap options;
        options.insert(QStringLiteral("types"), monitorSource);
        options.insert(QStringLiteral("multiple"), false);
        if (const uint cursor = cursorModeFor(availableCursorModes()))
            options.insert(QStringLiteral("cursor_mode"), cursor);
        options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
        const QString token = QSettings(QString::fromLatin1(settingsOrganization),
                                        QString::fromLatin1(settingsApplication))
                                  .value(QString::fromLatin1(restoreTokenKey))
                                  .toString();
        if (!token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
        request(Step::SelectSources, QStringLiteral("SelectSources"),
                {QVariant::fromValue(QDBusObjectPath(sessionHandle))}, options);
        break;
    }
    case Step::SelectSources:
        request(Step::Start, QStringLiteral("Start"),
                {QVariant::fromValue(QDBusObjectPath(sessionHandle)), QString()}, {});
        break;
    case Step::Start: {
        // A token for the next run, so the desktop asks only once.
        const QString token = results.value(QStringLiteral("restore_token")).toString();
        if (!token.isEmpty()) {
            QSettings(QString::fromLatin1(settingsOrganization),
                      QString::fromLatin1(settingsApplication))
                .setValue(QString::fromLatin1(restoreTokenKey), token);
        }
        // streams: a(ua{sv}), the PipeWire node of each chosen source; one was asked for.
        const QDBusArgument streams =
            results.value(QStringLiteral("streams")).value<QDBusArgument>();
        uint node = 0;
        bool found = false;
        streams.beginArray();
        while (!streams.atEnd()) {
            uint id = 0;
            QVariantMap properties;
            streams.beginStructure();
            streams >> id >> properties;
            streams.endStructure();
            if (!found) {
                node = id;
                found = true;
            }
        }
        streams.endArray();
        if (!found) {
            fail(QStringLiteral("the desktop portal offered no screen"));
            return;
        }
        openStream(node);
        break;
    }
    }
}

uint PortalSession::availableCursorModes()
{
    QDBusMessage get = QDBusMessage::createMethodCall(
        QString::fromLatin1(portalService), QString::fromLatin1(portalPath),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({QString::fromLatin1(screenCast), QStringLiteral("AvailableCursorModes")});
    const QDBusReply<QDBusVariant> reply = bus->call(get);
    return reply.isValid() ? reply.value().variant().toUInt() : 0;
}

void PortalSession::openStream(uint node)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(portalService), QString::fromLatin1(portalPath),
        QString::fromLatin1(screenCast), QStringLiteral("OpenPipeWireRemote"));
    call.setArguments({QVariant::fromValue(QDBusObjectPath(sessionHandle)), QVariantMap()});
    const QDBusReply<QDBusUnixFileDescriptor> reply = bus->call(call);
    if (!reply.isValid() || !reply.value().isValid()) {
        fail(QStringLiteral("no PipeWire remote from the desktop portal (%1)")
                 .arg(reply.error().message()));
        return;
    }
    // The reply keeps its own descriptor; PipeWire takes over a duplicate.
    const int fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        fail(QStringLiteral("cannot keep the PipeWire remote's socket"));
        return;
    }
    stream = std::make_unique<PipeWireStream>(sink);
    std::string error;
    if (!stream->connect(fd, node, error)) {
        stream.reset();
        fail(QString::fromStdString(error));
    }
}

void PortalSession::fail(const QString &why)
{
    if (failed)
        return;
    failed = true;
    std::fprintf(stderr, "Screen capture: %s; nothing is sent\n", qPrintable(why));
    std::fflush(stderr);
}
