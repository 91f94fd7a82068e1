#pragma once

#include <QProcess>
#include <QRect>
#include <QString>

#include <memory>

// The desktop that scripts/wayland-session started around a test, used as a person at it would
// use it: where the program's window lies, a click, the portal's share dialog. One kind per
// desktop, chosen by XDG_CURRENT_DESKTOP (sway, GNOME, KDE).
class Desktop
{
public:
    static std::unique_ptr<Desktop> fromEnvironment();
    virtual ~Desktop() = default;

    // What must be there before the program starts: a pointer for the seat, the painted
    // screen. False, with the reason in error, when it could not be had.
    virtual bool prepare(QString &error) = 0;
    // Where the desktop shows the program's window of this size; empty while it shows none.
    virtual QRect window(const QSize &size) = 0;
    virtual bool click(const QPoint &at) = 0;

    // Whether the ScreenCast backend shows a share dialog (sway's shares without asking).
    virtual bool asks() const { return true; }
    // Waits up to timeoutMs for a share dialog that was not there before.
    virtual bool waitForDialog(int timeoutMs) = 0;
    // Answers the dialog that is up: the output shared, or the dialog cancelled.
    virtual bool answerDialog(bool share) = 0;

    // Why the compositor sends no pictures of a monitor; empty where it does.
    virtual QString noMonitorFrames() const { return QString(); }
    // The ScreenCast backend's name on the session bus.
    virtual QString backend() const = 0;
};

// The desktop portal's answers on the session bus, as a monitor of the bus sees them: every
// Response of a request, so a test knows a share started without a picture to show for it.
class PortalWatch
{
public:
    bool start();
    ~PortalWatch();
    // Waits until this many shares have started (a successful Response that names streams).
    bool waitForShares(int count, int timeoutMs);
    // Waits until this many requests have been answered with a failure or a cancel.
    bool waitForFailures(int count, int timeoutMs);
    int shares();
    int failures();

private:
    void read();

    QProcess monitor;
    QByteArray pending;
    int started = 0;
    int failed = 0;
};
