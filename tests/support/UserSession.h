#pragma once

#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>
#include <QStringList>

#include "NdiReceiver.h"
#include "XTools.h"

// Places in the main window, whose frame sits at (10, 5): its size, the send button and the
// rate label.
namespace MainWindowPlaces {
const QSize size(474, 329);
const QPoint sendButtonCentre(10 + 332 + 44, 5 + 275 + 13);
const QRect sendButtonArea(10 + 332, 5 + 275, 88, 26);
const QRect rateLabelArea(10 + 232, 5 + 190, 21, 21);
// An area of the window scaled with the desktop.
inline QRect scaled(const QRect &r, qreal scale)
{
    return QRect(r.topLeft() * scale, r.size() * scale);
}
} // namespace MainWindowPlaces

// The share of pixels of a window's look, scaled back to the size of a reference look, that
// differ from it by more than a quarter of the range in some colour: text drawn anew at another
// size differs at its edges only, a widget out of place or out of proportion over its area.
double shareUnlike(const QImage &look, const QImage &reference);
// A connected receiver after the click on send: screen-sized frames for 5 s, and the last in
// the painted colour away from the window. What went wrong, or an empty string.
QString paintedScreenArrives(NdiReceiver &receiver, const QSize &screen, const QRect &window,
                             std::uint32_t painted);
// A table of scales: the unscaled row keeps its look in `unscaled`; any later row's look must
// be like it. What went wrong, or an empty string.
QString unlikeUnscaledLook(QImage &unscaled, const QImage &look, bool isUnscaled);

// How a received picture of the whole screen compares with XRoot's painted pattern, away from
// a rectangle where windows lie and from the steps where a pattern byte wraps around.
struct PatternMatch
{
    int checked = 0;
    int worst = 0;      // the largest difference of one colour
    QString firstFault; // the first point beyond the tolerance, if any
};
PatternMatch compareWithPattern(const NdiReceiver::Frame &frame, const QRect &busy, int tolerance);
// Waits up to 30 s for a received frame that shows the pattern so; frames from before the screen
// settled (a closed bubble, a window not yet in place) come late on a loaded machine. The last
// comparison.
PatternMatch receivePattern(NdiReceiver &receiver, const QRect &busy, int tolerance);
// The same for a screen painted in one colour (0xRRGGBB).
PatternMatch compareWithColour(const NdiReceiver::Frame &frame, const QRect &busy,
                               std::uint32_t rgb, int tolerance);

// An X server whose resolution xrandr can change (Xvnc, nobody connected; Xvfb's is fixed),
// painted in one colour. While it lives, the programs and tools a test starts (DISPLAY) go
// there; the test's own connection stays where it was.
class ResizableDisplay
{
public:
    ~ResizableDisplay();
    bool start(const QSize &size, std::uint32_t rgb);
    // As xrandr -s.
    bool resize(const QSize &size);

private:
    QProcess server;
    QByteArray before;
};

// What a person at the desktop does, done from outside the program: start the built
// executable, find its windows on the X server, click and type with xdotool, look at the
// screen, and quit through the tray menu. The test process only watches; it shares nothing with
// the program but the X server.
class UserSession
{
public:
    UserSession() = default;
    ~UserSession();
    UserSession(const UserSession &) = delete;
    UserSession &operator=(const UserSession &) = delete;

    // The environment the program gets: the test's own, on the X server, without leak checks
    // (the program lets go of the runtime at exit; leaks are the in-process tests' business).
    static QProcessEnvironment programEnvironment();

    // How long a program may take to show its window: Wine's start took more than 15 s on a
    // two-core machine at a load of 4-5.
    static constexpr int startMs = 60000;
    // Starts the program and waits until its main window is shown and drawn; false when it is
    // not within startMs. Under Wine the executable is wine and the arguments start with the
    // program.
    bool start(const QString &executable, const QProcessEnvironment &environment,
               const QStringList &arguments = {});
    QProcess &program() { return process; }
    // What the program wrote on stderr so far.
    QByteArray standardError();

    // The main window in root coordinates.
    QRect windowRect() const;
    // A point given inside the main window, in root coordinates.
    QPoint inWindow(int x, int y) const { return windowRect().topLeft() + QPoint(x, y); }
    QPoint inWindow(const QPoint &p) const { return windowRect().topLeft() + p; }

    // A left click at a root point. The pointer leaves for a corner afterwards, so hover looks
    // do not colour what a test compares.
    bool clickAt(const QPoint &point);
    // What the screen shows in a rectangle of the root window.
    static QImage look(const QRect &rootRect);
    // A screenshot of the whole screen, by ImageMagick's import.
    static bool screenshot(const QString &path);

    // Waits up to ms for the notification bubble Qt shows beside the tray icon (where no
    // notification service runs) to stay in place; its rectangle, or an empty one.
    QRect waitForNotification(int ms) const;

    // Right-clicks the tray icon, waits for the menu and chooses its last entry ("退出") with
    // the keyboard.
    bool quitFromTray();
    // Waits for the program to end; true when it ended by itself.
    bool waitForExit(int ms);

private:
    QStringList windowsOfProgram() const;

    QProcess process;
    QString mainWindow;
    QByteArray errors;
};
