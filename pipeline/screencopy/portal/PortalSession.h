#pragma once

#include "PipeWireStream.h"
#include "ScreenCopy.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QMap>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <QVariantMap>

#include <atomic>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

// The ScreenCast conversation with xdg-desktop-portal, on a private session-bus connection:
// CreateSession, SelectSources (one monitor, the pointer left out of the picture as the desktop
// offers, permission kept until revoked, with the restore token from the user's settings),
// Start, OpenPipeWireRemote; then the stream.
// Every step answers through a Response signal, so the object lives in a thread with an event
// loop. A saved token the portal refuses is forgotten and the session asked for again without
// it. A refusal, a cancelled dialog, a missing portal or one that goes away before the stream
// opens, a backend that stops with its dialog open, or a stream that ends (the session is
// closed, the stream fails or its remote goes away) is said once on stderr and handed to the
// failure sink; nothing more happens. A granted share whose stream brings no picture for some
// seconds, or a request the desktop leaves unanswered for longer than a person takes to choose,
// is told to the sink too, as NoPicture, and goes on: a late picture or answer still serves.
// Destroying it ends the stream and the connection, which ends the portal's session.
class PortalSession : public QObject
{
    Q_OBJECT
public:
    // Pictures come on PipeWire's thread; the first failure on the session's own thread.
    struct Sinks
    {
        PipeWireStream::Sink picture;
        std::function<void(CopyFailure)> failed;
    };

    explicit PortalSession(Sinks sinks);
    ~PortalSession() override;

    void start();

    // Where the restore token is kept between runs of the program.
    static const char *const settingsOrganization;
    static const char *const settingsApplication;
    static const char *const restoreTokenKey;
    // Whether a saved token is worth sending: the portal's tokens are UUIDs, it refuses
    // anything else, and a long one can cost the bus connection.
    static bool plausibleRestoreToken(const QString &token);

private slots:
    void onResponse(uint response, const QVariantMap &results);
    void onSessionClosed(const QDBusMessage &message);

private:
    // The handler of one step's successful Response.
    using Step = void (PortalSession::*)(const QVariantMap &results);

    // Calls a ScreenCast method whose last argument is the options, with a handle token whose
    // Response goes to next.
    void request(const QString &method, QVariantList arguments, QVariantMap options, Step next);
    void createSession();
    void onSessionCreated(const QVariantMap &results);
    void onSourcesSelected(const QVariantMap &results);
    void onStarted(const QVariantMap &results);
    void openStream(uint node);
    // After the portal refused a step that carried the saved token: forgets the token and
    // starts a new session without it. False when no token was sent.
    bool askAgainWithoutToken();
    void closeSession();
    void fail(CopyFailure why, const char *key, const QString &reason);
    // The ScreenCast's AvailableCursorModes, or 0 when the portal does not say.
    uint availableCursorModes();
    // The portal's backends on the bus (org.freedesktop.impl.portal.desktop.*) and their
    // owners, and the first of those noted at the last request that has stopped or been
    // replaced since.
    QMap<QString, QString> backendOwners() const;
    QString stoppedBackend() const;
    // Says that the desktop's screen-sharing service looks stuck: `what` happened.
    void tellStuck(const char *key, const char *what);

    Sinks sinks;
    QString connectionName;
    std::unique_ptr<QDBusConnection> bus;
    Step pendingStep = nullptr;
    QString requestPath;
    QString sessionHandle;
    int handleTokenCount = 0;
    bool restoreTokenSent = false;
    bool failed = false;
    // Watches the portal itself until the stream is open; its death later changes nothing.
    std::unique_ptr<QDBusServiceWatcher> portalWatch;
    QMap<QString, QString> backendsAtRequest;
    // Runs while a request waits for its answer.
    QTimer answerWait;
    // Set on PipeWire's thread by the first picture.
    std::atomic<bool> pictureSeen{false};
    std::unique_ptr<PipeWireStream> stream;
};

// A thread of its own for one conversation: the session is made, run and destroyed in it.
class PortalThread : public QThread
{
public:
    explicit PortalThread(PortalSession::Sinks sinks) : sinks(std::move(sinks)) {}

protected:
    void run() override;

private:
    PortalSession::Sinks sinks;
};
