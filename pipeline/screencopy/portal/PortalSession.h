#pragma once

#include "PipeWireStream.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVariantMap>

#include <memory>

// The ScreenCast conversation with xdg-desktop-portal, on a private session-bus connection:
// CreateSession, SelectSources (one monitor, the pointer left out of the picture as the desktop
// offers, permission kept until revoked, with the restore token from the user's settings),
// Start, OpenPipeWireRemote; then the stream.
// Every step answers through a Response signal, so the object lives in a thread with an event
// loop. A refusal, a cancelled dialog or a missing portal is said once on stderr and nothing
// more happens. Destroying it ends the stream and the connection, which ends the portal's
// session.
class PortalSession : public QObject
{
    Q_OBJECT
public:
    explicit PortalSession(PipeWireStream::Sink sink);
    ~PortalSession() override;

    void start();

    // Where the restore token is kept between runs of the program.
    static const char *const settingsOrganization;
    static const char *const settingsApplication;
    static const char *const restoreTokenKey;

private slots:
    void onResponse(uint response, const QVariantMap &results);

private:
    enum class Step { CreateSession, SelectSources, Start };

    // Calls a ScreenCast method whose last argument is the options, with a handle token whose
    // Response comes to onResponse().
    void request(Step next, const QString &method, QVariantList arguments, QVariantMap options);
    void openStream(uint node);
    // The ScreenCast's AvailableCursorModes, or 0 when the portal does not say.
    uint availableCursorModes();
    void fail(const QString &why);

    PipeWireStream::Sink sink;
    QString connectionName;
    std::unique_ptr<QDBusConnection> bus;
    Step step = Step::CreateSession;
    QString requestPath;
    QString sessionHandle;
    int tokens = 0;
    bool failed = false;
    std::unique_ptr<PipeWireStream> stream;
};

// A thread of its own for one conversation: the session is made, run and destroyed in it.
class PortalThread : public QThread
{
public:
    explicit PortalThread(PipeWireStream::Sink sink) : sink(std::move(sink)) {}

protected:
    void run() override;

private:
    PipeWireStream::Sink sink;
};
