#include "PortalSession.h"

#include "CursorMode.h"
#include "Report.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTimer>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char *const portalService = "org.freedesktop.portal.Desktop";
const char *const portalPath = "/org/freedesktop/portal/desktop";
const char *const screenCast = "org.freedesktop.portal.ScreenCast";
const char *const requestInterface = "org.freedesktop.portal.Request";
const char *const sessionInterface = "org.freedesktop.portal.Session";

// ScreenCast's values: source type MONITOR, persist mode 2 (until the user revokes it).
constexpr uint monitorSource = 1;
constexpr uint persistUntilRevoked = 2;
// Request responses: 0 success, 1 cancelled by the user, anything else ended otherwise.
constexpr uint cancelledByUser = 1;
const char *const backendPrefix = "org.freedesktop.impl.portal.desktop.";
// How long a granted share may go without a picture, and a request without an answer, before
// the user is told (and nothing more: a picture or an answer may still come). A compositor sends
// its first picture at once and a backend answers at once unless its dialog waits for a
// person; one left with a dead PipeWire connection does neither.
constexpr int noPictureMs = 6000;
constexpr int noAnswerMs = 20000;

std::atomic<int> connectionSerial{0};

QString savedRestoreToken()
{
    return QSettings(QString::fromLatin1(PortalSession::settingsOrganization),
                     QString::fromLatin1(PortalSession::settingsApplication))
        .value(QString::fromLatin1(PortalSession::restoreTokenKey))
        .toString();
}

// An empty token removes it. The token lets this program capture the screen without asking,
// so the file is the user's alone: made with mode 0600 before the settings are written into
// it (they keep an existing file's mode), and set so again afterwards.
void saveRestoreToken(const QString &token)
{
    QSettings settings(QString::fromLatin1(PortalSession::settingsOrganization),
                       QString::fromLatin1(PortalSession::settingsApplication));
    const QByteArray file = QFile::encodeName(settings.fileName());
    QDir().mkpath(QFileInfo(settings.fileName()).absolutePath());
    const int fd = ::open(file.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0)
        ::close(fd);
    if (token.isEmpty())
        settings.remove(QString::fromLatin1(PortalSession::restoreTokenKey));
    else
        settings.setValue(QString::fromLatin1(PortalSession::restoreTokenKey), token);
    settings.sync();
    ::chmod(file.constData(), 0600);
}

} // namespace

const char *const PortalSession::settingsOrganization = "Norvane";
const char *const PortalSession::settingsApplication = "Norvane";
const char *const PortalSession::restoreTokenKey = "portal/restoreToken";

bool PortalSession::plausibleRestoreToken(const QString &token)
{
    if (token.isEmpty() || token.size() > 64)
        return false;
    for (const QChar c : token) {
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
              (c >= QLatin1Char('A') && c <= QLatin1Char('F')) || c == QLatin1Char('-')))
            return false;
    }
    return true;
}

void PortalThread::run()
{
    PortalSession session(sinks);
    session.start();
    exec();
}

PortalSession::PortalSession(Sinks sinks)
    : sinks(std::move(sinks)),
      connectionName(QStringLiteral("norvane-portal-%1").arg(connectionSerial.fetch_add(1)))
{
    answerWait.setSingleShot(true);
    connect(&answerWait, &QTimer::timeout, this, [this] {
        tellStuck("no-answer", "the desktop has not answered the share request in 20 s: unless "
                               "its dialog still waits for an answer, its screen-sharing service "
                               "may be stuck");
    });
}

PortalSession::~PortalSession()
{
    stream.reset();
    portalWatch.reset();
    // Calls still waited for go before their connection: closing it frees what they refer to.
    qDeleteAll(findChildren<QDBusPendingCallWatcher *>(QString(), Qt::FindDirectChildrenOnly));
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
        fail(CopyFailure::PortalUnavailable, "portal-unavailable",
             QStringLiteral("no session bus (%1)").arg(bus->lastError().message()));
        return;
    }
    // A portal that dies (or restarts) with its dialog open answers no request: nothing else
    // would ever say so.
    portalWatch = std::make_unique<QDBusServiceWatcher>(
        QString::fromLatin1(portalService), *bus, QDBusServiceWatcher::WatchForUnregistration);
    connect(portalWatch.get(), &QDBusServiceWatcher::serviceUnregistered, this, [this] {
        fail(CopyFailure::PortalUnavailable, "portal-gone",
             QStringLiteral("the desktop portal (xdg-desktop-portal) went away before the screen "
                            "was shared"));
    });
    createSession();
}

void PortalSession::request(const QString &method, QVariantList arguments, QVariantMap options,
                            Step next)
{
    pendingStep = next;
    const QString token = QStringLiteral("norvane%1").arg(++handleTokenCount);
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
    backendsAtRequest = backendOwners();
    answerWait.start(noAnswerMs);

    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(portalService),
                                                       QString::fromLatin1(portalPath),
                                                       QString::fromLatin1(screenCast), method);
    call.setArguments(arguments);
    auto *watcher = new QDBusPendingCallWatcher(bus->asyncCall(call), this);
    const QString path = requestPath;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, path](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                // Only the call still waited for: a refused one was already asked again.
                if (!w->isError() || path != requestPath)
                    return;
                bus->disconnect(QString::fromLatin1(portalService), requestPath,
                                QString::fromLatin1(requestInterface), QStringLiteral("Response"),
                                this, SLOT(onResponse(uint, QVariantMap)));
                if (askAgainWithoutToken())
                    return;
                const QDBusError e = w->error();
                fail(CopyFailure::PortalUnavailable, "portal-unavailable",
                     QStringLiteral("the desktop portal is not available (%1: %2)")
                         .arg(e.name(), e.message()));
            });
}

void PortalSession::onResponse(uint response, const QVariantMap &results)
{
    answerWait.stop();
    bus->disconnect(QString::fromLatin1(portalService), requestPath,
                    QString::fromLatin1(requestInterface), QStringLiteral("Response"), this,
                    SLOT(onResponse(uint, QVariantMap)));
    const Step step = pendingStep;
    pendingStep = nullptr;
    if (response == 0 && step) {
        (this->*step)(results);
    } else if (response == cancelledByUser) {
        fail(CopyFailure::ShareCancelled, "share-cancelled",
             QStringLiteral("the screen share was cancelled"));
    } else if (const QString stopped = stoppedBackend(); !stopped.isEmpty()) {
        // Not a refusal: the service that showed the dialog is gone.
        fail(CopyFailure::ServiceStopped, "backend-stopped",
             QStringLiteral("the desktop's screen-sharing service (%1) stopped while its dialog "
                            "was open")
                 .arg(stopped));
    } else if (!askAgainWithoutToken()) {
        fail(CopyFailure::ShareRefused, "share-refused",
             QStringLiteral("the desktop portal ended the share request without sharing "
                            "(response %1)")
                 .arg(response));
    }
}

QMap<QString, QString> PortalSession::backendOwners() const
{
    QMap<QString, QString> owners;
    const QDBusConnectionInterface *names = bus->interface();
    const QDBusReply<QStringList> registered = names->registeredServiceNames();
    for (const QString &name : registered.value()) {
        if (name.startsWith(QLatin1String(backendPrefix)))
            owners.insert(name, names->serviceOwner(name).value());
    }
    return owners;
}

QString PortalSession::stoppedBackend() const
{
    const QMap<QString, QString> now = backendOwners();
    for (auto it = backendsAtRequest.begin(); it != backendsAtRequest.end(); ++it) {
        if (now.value(it.key()) != it.value())
            return it.key();
    }
    return QString();
}

void PortalSession::createSession()
{
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"),
                   QStringLiteral("norvane%1").arg(++handleTokenCount));
    request(QStringLiteral("CreateSession"), {}, options, &PortalSession::onSessionCreated);
}

void PortalSession::onSessionCreated(const QVariantMap &results)
{
    sessionHandle = results.value(QStringLiteral("session_handle")).toString();
    // The desktop may end the share at any time (the user revokes it, its service stops).
    bus->connect(QString::fromLatin1(portalService), sessionHandle,
                 QString::fromLatin1(sessionInterface), QStringLiteral("Closed"), this,
                 SLOT(onSessionClosed(QDBusMessage)));
    QVariantMap options;
    options.insert(QStringLiteral("types"), monitorSource);
    options.insert(QStringLiteral("multiple"), false);
    if (const uint cursor = cursorModeFor(availableCursorModes()))
        options.insert(QStringLiteral("cursor_mode"), cursor);
    options.insert(QStringLiteral("persist_mode"), persistUntilRevoked);
    const QString token = savedRestoreToken();
    restoreTokenSent = plausibleRestoreToken(token);
    if (restoreTokenSent)
        options.insert(QStringLiteral("restore_token"), token);
    else if (!token.isEmpty())
        saveRestoreToken(QString());
    request(QStringLiteral("SelectSources"), {QVariant::fromValue(QDBusObjectPath(sessionHandle))},
            options, &PortalSession::onSourcesSelected);
}

void PortalSession::onSourcesSelected(const QVariantMap &)
{
    request(QStringLiteral("Start"),
            {QVariant::fromValue(QDBusObjectPath(sessionHandle)), QString()}, {},
            &PortalSession::onStarted);
}

void PortalSession::onStarted(const QVariantMap &results)
{
    // A token for the next run, so the desktop asks only once.
    const QString token = results.value(QStringLiteral("restore_token")).toString();
    if (!token.isEmpty())
        saveRestoreToken(token);
    // streams: a(ua{sv}), the PipeWire node of each chosen source; one was asked for.
    const QDBusArgument streams = results.value(QStringLiteral("streams")).value<QDBusArgument>();
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
        fail(CopyFailure::ShareRefused, "share-refused",
             QStringLiteral("the desktop portal offered no screen"));
        return;
    }
    openStream(node);
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
        fail(CopyFailure::PortalUnavailable, "portal-unavailable",
             QStringLiteral("no PipeWire remote from the desktop portal (%1)")
                 .arg(reply.error().message()));
        return;
    }
    // The reply keeps its own descriptor; PipeWire takes over a duplicate.
    const int fd = fcntl(reply.value().fileDescriptor(), F_DUPFD_CLOEXEC, 3);
    if (fd < 0) {
        fail(CopyFailure::PortalUnavailable, "portal-unavailable",
             QStringLiteral("cannot keep the PipeWire remote's socket"));
        return;
    }
    // Open: the portal's own death no longer matters to the stream.
    portalWatch.reset();
    PipeWireStream::Sink picture = sinks.picture;
    picture.show = [this](const PictureView &view) {
        pictureSeen = true;
        return sinks.picture.show(view);
    };
    stream = std::make_unique<PipeWireStream>(picture, [this](const char *key,
                                                              const std::string &why) {
        // On PipeWire's thread; told on this one, where the stream is owned.
        QMetaObject::invokeMethod(
            this,
            [this, key, why] { fail(CopyFailure::StreamEnded, key, QString::fromStdString(why)); },
            Qt::QueuedConnection);
    });
    std::string error;
    if (!stream->connect(fd, node, error)) {
        stream.reset();
        fail(CopyFailure::StreamEnded, "stream-failed", QString::fromStdString(error));
        return;
    }
    QTimer::singleShot(noPictureMs, this, [this] {
        if (!pictureSeen)
            tellStuck("no-picture", "the desktop granted the share, but no picture has come "
                                    "from its screen-sharing service since: it may be stuck");
    });
}

void PortalSession::tellStuck(const char *key, const char *what)
{
    if (failed)
        return;
    Report::once(key, std::string("Screen capture: ") + what +
                          " (restarting PipeWire and the desktop's portal backend helps)");
    if (sinks.failed)
        sinks.failed(CopyFailure::NoPicture);
}

void PortalSession::onSessionClosed(const QDBusMessage &message)
{
    // A refused session closes after its Response, when a new one may already be asked for.
    if (message.path() != sessionHandle)
        return;
    stream.reset();
    fail(CopyFailure::StreamEnded, "session-closed",
         QStringLiteral("the desktop ended the screen share"));
}

bool PortalSession::askAgainWithoutToken()
{
    if (!restoreTokenSent || failed)
        return false;
    restoreTokenSent = false;
    saveRestoreToken(QString());
    Report::once("restore-token-refused",
                 "Screen capture: the desktop portal refused the saved permission; asking again");
    closeSession();
    createSession();
    return true;
}

void PortalSession::closeSession()
{
    if (sessionHandle.isEmpty())
        return;
    bus->disconnect(QString::fromLatin1(portalService), sessionHandle,
                    QString::fromLatin1(sessionInterface), QStringLiteral("Closed"), this,
                    SLOT(onSessionClosed(QDBusMessage)));
    bus->asyncCall(QDBusMessage::createMethodCall(QString::fromLatin1(portalService), sessionHandle,
                                                  QString::fromLatin1(sessionInterface),
                                                  QStringLiteral("Close")));
    sessionHandle.clear();
}

void PortalSession::fail(CopyFailure why, const char *key, const QString &reason)
{
    if (failed)
        return;
    failed = true;
    answerWait.stop();
    const char *const outcome =
        why == CopyFailure::StreamEnded ? "; the screen is no longer sent" : "; nothing is sent";
    Report::once(key, "Screen capture: " + reason.toStdString() + outcome);
    if (sinks.failed)
        sinks.failed(why);
}
