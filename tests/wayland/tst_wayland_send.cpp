// The built program on a Wayland desktop, used from outside as a person would: the desktop of
// scripts/wayland-session (sway, GNOME or KDE Plasma, see Desktop.h), a receiver on the real
// runtime over loopback, the portal's answers watched on the session bus. A click on the send
// button, through the desktop's share dialog, publishes the screen: 1920 x 1080 BGRX at
// 30000/1001, frames flowing on a still screen, in the painted colour; a second
// click stops it; SIGTERM ends the program with status 0. The restore token the program keeps
// shares at the next start without a dialog. A cancelled dialog and a backend that dies with its
// dialog open are told to the user, and the program goes on. Without a portal on the bus
// nothing is sent and the program says so once. On sway also: saved tokens the portal cannot
// take; send/stop cycling, fast and with each share started; the portal's backend and PipeWire
// dying while sending (black, never the old picture; sending again works once they are back).
#include "Desktop.h"
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "SystemBus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <dlfcn.h>
#include <signal.h>

namespace {

const QSize output(1920, 1080);
// How long a process may take to be ready (its window, its answer) on a loaded machine.
const int readyMs = 60000;
const std::uint32_t background = 0x3366cc; // what the session paints
const std::uint32_t black = 0x000000;
const std::uint32_t changed = 0xcc3333; // painted once the services have died
const QSize windowSize(474, 329);
// The send button's centre in the window (its frame sits at 10,5).
const QPoint sendButtonCentre(10 + 332 + 44, 5 + 275 + 13);

QSettings settings()
{
    return QSettings(QStringLiteral("Norvane"), QStringLiteral("Norvane"));
}
const char *const restoreTokenKey = "portal/restoreToken";

// The program, started as from a desktop's menu.
struct Program
{
    Desktop &desktop;
    QProcess process;
    QRect window;
    QByteArray errors;

    explicit Program(Desktop &desktop) : desktop(desktop) {}
    ~Program()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    bool start(QProcessEnvironment env = QProcessEnvironment::systemEnvironment())
    {
        // The program chooses its platform by the session, not by the test's choice.
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        // NORVANE_PROGRAM: the installed program, where the desktop runs in a system of its own.
        process.start(qEnvironmentVariable("NORVANE_PROGRAM", QStringLiteral(NORVANE_EXE)),
                      QStringList());
        // Desktops map the window once its first picture is drawn.
        return QTest::qWaitFor(
            [&] {
                window = desktop.window(windowSize);
                return !window.isEmpty();
            },
            readyMs);
    }
    bool clickSend() { return desktop.click(window.topLeft() + sendButtonCentre); }
    bool running() { return process.state() == QProcess::Running; }
    bool terminate()
    {
        process.terminate();
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    // Lines of standard error so far that contain this text.
    int linesSaying(const QByteArray &text)
    {
        errors += process.readAllStandardError();
        const QList<QByteArray> lines = errors.split('\n');
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const QByteArray &l) { return l.contains(text); }));
    }
};

// Starts the backend through the bus, as the portal would, and waits until it serves the
// ScreenCast interface.
bool backendServesScreenCast(const QString &backend)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.interface()->startService(backend);
    const QDBusMessage introspect = QDBusMessage::createMethodCall(
        backend, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    return QTest::qWaitFor(
        [&] {
            const QDBusReply<QString> xml = bus.call(introspect);
            return xml.isValid() && xml.value().contains("org.freedesktop.impl.portal.ScreenCast");
        },
        readyMs);
}

bool connectReceiver(NdiReceiver &receiver)
{
    // Kept mapped to the end, so the runtime's allocations at exit can be named.
    return receiver.usable() &&
           dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) &&
           receiver.connect(NdiReceiver::localSourceName(), 20000);
}

// The painted colour wherever neither the window nor the parked pointer lies, as near as NDI's
// lossy coding keeps it (a channel swap or a black frame is far off).
void checkPicture(NdiReceiver &receiver, const QRect &window)
{
    QVERIFY(receiver.receiveFrame(2000));
    const NdiReceiver::Frame &frame = receiver.lastFrame();
    const QRect busy = window.adjusted(-8, -8, 8, 8);
    int checked = 0, worst = 0;
    for (int y = 0; y < frame.height - 64; y += 37) {
        for (int x = 0; x < frame.width; x += 41) {
            if (busy.contains(x, y))
                continue;
            ++checked;
            worst = std::max(worst, NdiReceiver::deviation(frame.rgb(x, y), background));
        }
    }
    qInfo("%d pixels checked; largest colour difference from #3366cc: %d", checked, worst);
    QVERIFY(checked > 1000);
    QVERIFY(worst <= 16);
}

// The largest colour difference from colour over a grid of the frame outside skip.
int deviationFrom(const NdiReceiver::Frame &frame, std::uint32_t colour, const QRect &skip)
{
    int worst = 0;
    for (int y = 0; y < frame.height - 64; y += 37) {
        for (int x = 0; x < frame.width; x += 41) {
            if (!skip.contains(x, y))
                worst = std::max(worst, NdiReceiver::deviation(frame.rgb(x, y), colour));
        }
    }
    return worst;
}

// Waits for a frame of that colour outside skip, as near as NDI's lossy coding keeps it.
bool receiveColour(NdiReceiver &receiver, std::uint32_t colour, const QRect &skip, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < timeoutMs) {
        if (receiver.receiveFrame(1000) && deviationFrom(receiver.lastFrame(), colour, skip) <= 16)
            return true;
    }
    return false;
}

// Whether the process has Mesa's OpenGL stack loaded (its EGL driver, or LLVM with it).
bool loadsOpenGl(qint64 pid)
{
    QFile maps(QString("/proc/%1/maps").arg(pid));
    const QByteArray text = maps.open(QIODevice::ReadOnly) ? maps.readAll() : QByteArray();
    return text.contains("libEGL_mesa") || text.contains("libLLVM");
}

// The rows below drive sway's own services, output and chooser (scripts/wayland-session).
bool onSway()
{
    return qgetenv("XDG_CURRENT_DESKTOP") == "sway";
}

bool paintScreen(std::uint32_t colour)
{
    return QProcess::execute("swaymsg", {"-q", "output", "HEADLESS-1", "bg",
                                         QString("#%1").arg(colour, 6, 16, QLatin1Char('0')),
                                         "solid_color"}) == 0;
}

// Whether the window shows its notice line (orange text where the hidden audio row was), as
// the user sees it: sway has no tray, so that is where the user is told.
bool noticeShown(const QRect &window)
{
    const QRect line(window.topLeft() + QPoint(10 + 30, 5 + 128), QSize(390, 54));
    QProcess grim;
    grim.start(
        "grim",
        {"-g",
         QString("%1,%2 %3x%4").arg(line.x()).arg(line.y()).arg(line.width()).arg(line.height()),
         "-"});
    const QImage shot = grim.waitForFinished(5000)
                            ? QImage::fromData(grim.readAllStandardOutput(), "PNG")
                            : QImage();
    int orange = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x)
            orange += NdiReceiver::deviation(shot.pixel(x, y) & 0xffffff, 0xf0b45a) <= 40;
    }
    return orange >= 20;
}

// How often sway's share dialog, a chooser that shares the output, has been shown.
int chooserShown()
{
    QFile log(qEnvironmentVariable("NORVANE_CHOOSER_LOG"));
    return log.open(QIODevice::ReadOnly) ? int(log.readAll().count('\n')) : 0;
}

// The desktop's services (pipewire, wireplumber, xdpw), as scripts/wayland-session started
// them: killed as a crash would, started again as a service manager would.
class Services
{
public:
    ~Services()
    {
        for (auto &service : own)
            service.second->kill(), service.second->waitForFinished(5000);
    }
    // True once it no longer runs (one that follows another out is gone already).
    bool kill(const QString &name)
    {
        const qint64 pid =
            own.count(name)
                ? own[name]->processId()
                : qEnvironmentVariableIntValue(qPrintable("NORVANE_" + name.toUpper() + "_PID"));
        ::kill(pid_t(pid), SIGKILL);
        return pid > 0 && QTest::qWaitFor(
                              [&] {
                                  QFile stat(QString("/proc/%1/stat").arg(pid));
                                  return !stat.open(QIODevice::ReadOnly) ||
                                         stat.readAll().contains(") Z "); // left unreaped
                              },
                              5000);
    }
    // True once it serves: PipeWire answers, the backend owns its bus name (waited for without
    // starting whatever backend the machine has installed under that name).
    bool start(const QString &name)
    {
        auto &process = own[name] = std::make_unique<QProcess>();
        process->setStandardOutputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        const bool xdpw = name == "xdpw";
        process->start(xdpw ? qEnvironmentVariable("NORVANE_XDPW") : name,
                       xdpw ? QStringList{"-r", "-c", qEnvironmentVariable("NORVANE_XDPW_CONFIG")}
                            : QStringList());
        const QStringList probe = QString(xdpw ? "gdbus wait --session --timeout 60 "
                                                 "org.freedesktop.impl.portal.desktop.wlr"
                                               : "pw-cli info 0")
                                      .split(' ');
        const auto ready = [&] {
            QProcess check;
            check.start(probe[0], probe.mid(1));
            return check.waitForFinished(readyMs) && check.exitCode() == 0;
        };
        return process->waitForStarted(readyMs) && QTest::qWaitFor(ready, readyMs);
    }

private:
    std::map<QString, std::unique_ptr<QProcess>> own;
};

} // namespace

class TestWaylandSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        desktop = Desktop::fromEnvironment();
        QVERIFY2(desktop, "run through scripts/wayland-session (ctest does)");
        QString error;
        QVERIFY2(desktop->prepare(error), qPrintable(error));
        QVERIFY(portal.start());
        QVERIFY2(waitForSenderNameFree("NDI", 120000), "another process keeps sending as NDI");
        QVERIFY(announcer.start() && announcer.own("org.freedesktop.Avahi"));
    }

    void init()
    {
        if (onSway()) {
            QFile::remove(qEnvironmentVariable("NORVANE_CHOOSER_CANCEL"));
            QVERIFY(paintScreen(background));
        }
    }

    void sendsTheScreenThroughThePortal()
    {
        Program program(*desktop);
        QVERIFY(program.start());
        // Shown at its own size, not tiled over the output.
        QCOMPARE(program.window.size(), windowSize);
        QVERIFY(program.clickSend());
        if (desktop->asks()) {
            QVERIFY2(desktop->waitForDialog(readyMs), "no share dialog");
            QVERIFY(desktop->answerDialog(true));
        }
        QVERIFY2(portal.waitForShares(1, readyMs), "the portal started no share");
        // The desktop's permission is kept in the user's settings, so it asks only once, and
        // only the user may read them: they let the program capture the screen unasked.
        QVERIFY(QTest::qWaitFor(
            [] { return !settings().value(restoreTokenKey).toString().isEmpty(); }, 5000));
        QCOMPARE(int(QFileInfo(settings().fileName()).permissions() & 0x0077), 0);
        // The window draws through shared memory; KDE's platform theme alone asks for an
        // OpenGL context, to choose how Qt Quick draws.
        if (qgetenv("XDG_CURRENT_DESKTOP") != "KDE")
            QVERIFY2(!loadsOpenGl(program.process.processId()), "Mesa's OpenGL stack is loaded");
        if (!desktop->noMonitorFrames().isEmpty()) {
            QVERIFY(program.terminate());
            QSKIP(qPrintable(desktop->noMonitorFrames()));
        }

        NdiReceiver receiver;
        QVERIFY(connectReceiver(receiver));
        QVERIFY(receiver.receiveFrame(readyMs));
        // The screen does not change: the compositor sends one picture, and the program keeps
        // sending it.
        const NdiReceiver::Watch seen = receiver.watch(output.width(), output.height(), 3000);
        qInfo("received %d frames in 3 s: %.2f per second", seen.frames, seen.perSecond);
        QVERIFY2(seen.flowing(), qPrintable(QString::number(seen.perSecond)));
        QCOMPARE(seen.wrong, 0);
        checkPicture(receiver, program.window);
        if (QTest::currentTestFailed())
            return;

        QVERIFY(program.clickSend());
        QVERIFY2(receiver.ended(), "frames still came after the stop");
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        QCOMPARE(program.linesSaying("Screen capture"), 0);
    }

    void keptTokenSharesWithoutDialog()
    {
        const QString token = settings().value(restoreTokenKey).toString();
        QVERIFY2(!token.isEmpty(), "the first start kept no token");
        Program program(*desktop);
        QVERIFY(program.start());
        const int before = portal.shares();
        QVERIFY(program.clickSend());
        // Nobody answers: a dialog would hold the share back.
        QVERIFY2(portal.waitForShares(before + 1, readyMs), "no share without the dialog");
        if (desktop->noMonitorFrames().isEmpty()) {
            NdiReceiver receiver;
            QVERIFY(connectReceiver(receiver));
            QVERIFY(receiver.receiveFrame(readyMs));
            QCOMPARE(receiver.lastFrame().width, output.width());
            checkPicture(receiver, program.window);
        }
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        QCOMPARE(program.linesSaying("Screen capture"), 0);
    }

    void cancelledDialogIsTold()
    {
        if (!desktop->asks())
            QSKIP("this desktop's portal shares without a dialog");
        Program program(*desktop);
        const QString noDialog = openShareDialog(program);
        QVERIFY2(noDialog.isEmpty(), qPrintable(noDialog));
        const int before = portal.failures();
        QVERIFY(desktop->answerDialog(false));
        QVERIFY(portal.waitForFailures(before + 1, 10000));
        QVERIFY(QTest::qWaitFor(
            [&] { return program.linesSaying("the screen share was cancelled") == 1; }, 5000));
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
    }

    // A saved permission the portal cannot take costs one dialog, not capture for good; a
    // cancelled dialog sends nothing and says so once.
    void shareDialog_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("cancel");
        QTest::newRow("token not UUID-like") << QString("garbage") << false;
        QTest::newRow("token of 64 MiB") << QString(64 << 20, QLatin1Char('a')) << false;
        QTest::newRow("token refused by the portal") << QString("0123-4567") << false;
        QTest::newRow("dialog cancelled") << QString() << true;
    }
    void shareDialog()
    {
        QFETCH(QString, token);
        QFETCH(bool, cancel);
        if (!onSway())
            QSKIP("counts sway's chooser");
        settings().setValue(restoreTokenKey, token);
        QFile cancels(qEnvironmentVariable("NORVANE_CHOOSER_CANCEL"));
        QVERIFY(!cancel || cancels.open(QIODevice::WriteOnly));
        const int shownBefore = chooserShown();

        Program program(*desktop);
        QVERIFY(program.start());
        QVERIFY(program.clickSend());
        NdiReceiver receiver;
        QVERIFY(connectReceiver(receiver));
        if (cancel) {
            QCOMPARE(receiver.receiveFor(3000), 0);
            QVERIFY(noticeShown(program.window));
        } else {
            QVERIFY(receiveColour(receiver, background, program.window.adjusted(-8, -8, 8, 8),
                                  readyMs));
            QVERIFY(!noticeShown(program.window));
        }
        QCOMPARE(chooserShown() - shownBefore, 1);
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        QCOMPARE(program.linesSaying("norvane: Screen capture: the screen share was cancelled"),
                 cancel ? 1 : 0);
        // The desktop's new permission replaces the one it could not take.
        QCOMPARE(settings().value(restoreTokenKey).toString().size(), cancel ? 0 : 36);
    }

    // Send and stop again and again: as fast as a person clicks (stops that overtake the
    // portal's answers; this found a crash), and each stop once the share has started, so that
    // it ends a running portal session and PipeWire stream. The program lives through all.
    void survivesSendStopCycles_data()
    {
        QTest::addColumn<int>("cycles");
        QTest::addColumn<int>("gapMs"); // 0: the stop waits for the share
        QTest::newRow("300 cycles, clicks 0.1 s apart") << 300 << 100;
        QTest::newRow("20 cycles, each share started before the stop") << 20 << 0;
    }
    void survivesSendStopCycles()
    {
        QFETCH(int, cycles);
        QFETCH(int, gapMs);
        if (!onSway())
            QSKIP("two minutes: once, on sway");
        Program program(*desktop);
        QVERIFY(program.start());
        for (int cycle = 1; cycle <= cycles; ++cycle) {
            const int shares = portal.shares();
            QVERIFY(program.clickSend());
            QTest::qWait(gapMs);
            QVERIFY(gapMs || portal.waitForShares(shares + 1, readyMs));
            QVERIFY(program.clickSend());
            QTest::qWait(gapMs);
            QVERIFY2(program.running(), qPrintable(QString("ended in cycle %1").arg(cycle)));
        }
        QVERIFY(program.clickSend());
        NdiReceiver receiver;
        QVERIFY(connectReceiver(receiver));
        QVERIFY(
            receiveColour(receiver, background, program.window.adjusted(-8, -8, 8, 8), readyMs));
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        // Its own stops are no failure to tell anyone about.
        QCOMPARE(program.linesSaying("norvane: Screen capture"), 0);
    }

    // The services die while sending: receivers get black at once, never the old picture nor a
    // frozen one, and the program says so once. Once the services are back, sending again
    // starts a new portal session and stream: no restart of the program.
    void recoversFromDeadServices_data()
    {
        QTest::addColumn<QStringList>("dead");
        QTest::newRow("portal backend killed") << QStringList{"xdpw"};
        // The backend keeps its connection to the PipeWire that died: the next share it grants
        // never brings a picture, which the program tells, until it is restarted too.
        QTest::newRow("PipeWire restarted") << QStringList{"pipewire", "wireplumber"};
    }
    void recoversFromDeadServices()
    {
        QFETCH(QStringList, dead);
        if (!onSway())
            QSKIP("restarts sway's services");
        Program program(*desktop);
        QVERIFY(program.start());
        QVERIFY(program.clickSend());
        NdiReceiver receiver;
        QVERIFY(connectReceiver(receiver));
        const QRect busy = program.window.adjusted(-8, -8, 8, 8);
        QVERIFY(receiveColour(receiver, background, busy, readyMs));

        for (const QString &service : dead)
            QVERIFY2(services.kill(service), qPrintable(service));
        QVERIFY(paintScreen(changed));
        // Past the frames already on their way, only black.
        QVERIFY(receiveColour(receiver, black, QRect(), 5000));
        int frames = 0;
        QElapsedTimer watch;
        watch.start();
        while (watch.elapsed() < 3000) {
            if (!receiver.receiveFrame(1000))
                continue;
            ++frames;
            QVERIFY2(deviationFrom(receiver.lastFrame(), black, QRect()) <= 16,
                     "a picture came after the services died");
        }
        QVERIFY2(frames >= 3 * NdiReceiver::flowingPerSecond, qPrintable(QString::number(frames)));
        QVERIFY(QTest::qWaitFor([&] { return program.linesSaying("Screen capture") == 1; }, 5000));
        QVERIFY(noticeShown(program.window));

        for (const QString &service : dead)
            QVERIFY2(services.start(service), qPrintable(service));
        if (!dead.contains("xdpw")) {
            QVERIFY(program.clickSend()); // stop
            QVERIFY(program.clickSend()); // send again, to the backend left behind
            QVERIFY(
                QTest::qWaitFor([&] { return program.linesSaying("may be stuck") == 1; }, 40000));
            QVERIFY(services.kill("xdpw") && services.start("xdpw"));
        }
        QVERIFY(program.clickSend()); // stop
        QVERIFY(program.clickSend()); // send again
        QVERIFY(receiveColour(receiver, changed, busy, readyMs));
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
    }

    // A service dies with the share dialog open, as a crash takes it: the backend that shows
    // the dialog, or the portal itself (then no answer would ever come). The program says what
    // happened, not that the desktop refused, and goes on; the bus starts a backend anew and
    // its dialog shares. The portal's row comes last of those on the desktop's own portal.
    void survivesAServiceDyingWithItsDialogOpen_data()
    {
        QTest::addColumn<bool>("backend");
        QTest::addColumn<QByteArray>("saying");
        QTest::newRow("the backend") << true << QByteArray("stopped while its dialog was open");
        QTest::newRow("the portal") << false << QByteArray("(xdg-desktop-portal) went away");
    }
    void survivesAServiceDyingWithItsDialogOpen()
    {
        QFETCH(bool, backend);
        QFETCH(QByteArray, saying);
        if (!desktop->asks())
            QSKIP("this desktop's portal shares without a dialog");
        Program program(*desktop);
        const QString noDialog = openShareDialog(program);
        QVERIFY2(noDialog.isEmpty(), qPrintable(noDialog));
        if (backend) {
            const QDBusReply<uint> pid =
                QDBusConnection::sessionBus().interface()->servicePid(desktop->backend());
            QVERIFY(pid.isValid());
            QCOMPARE(::kill(pid.value(), SIGKILL), 0);
        } else {
            QVERIFY(services.kill("portal"));
        }
        QVERIFY(QTest::qWaitFor([&] { return program.linesSaying(saying) == 1; }, 10000));
        QVERIFY(program.running());
        // Still answering: the event loop takes the signal and the program ends normally.
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        if (!backend)
            return;
        // The bus starts the backend anew for the next start, and its dialog shares. The portal
        // is let call it once it serves the ScreenCast interface: just after it takes its name
        // it may not yet (GNOME 48).
        QVERIFY2(backendServesScreenCast(desktop->backend()), "the backend did not come back");
        const int before = portal.shares();
        Program again(*desktop);
        QVERIFY(again.start());
        QVERIFY(again.clickSend());
        QVERIFY2(desktop->waitForDialog(readyMs), "no share dialog from a new backend");
        QVERIFY(desktop->answerDialog(true));
        QVERIFY2(portal.waitForShares(before + 1, readyMs), "the new backend started no share");
        if (desktop->noMonitorFrames().isEmpty()) {
            NdiReceiver receiver;
            QVERIFY(connectReceiver(receiver));
            QVERIFY(receiver.receiveFrame(readyMs));
        }
        QVERIFY2(again.terminate(), "SIGTERM did not end the program with status 0");
    }

    void withoutPortalSendsNothingAndSaysSoOnce()
    {
        // A session bus of its own, with nothing on it and nothing to start on demand: no
        // service folders, or the system's would start any portal installed on the machine
        // (Debian's xdg-desktop-portal-wlr on a sway user's).
        QProcess bus;
        const QString socket = QDir::tempPath() + "/norvane-bare-bus";
        QFile config(QDir::tempPath() + "/norvane-bare-bus.conf");
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("<busconfig><type>session</type><listen>unix:path=" + socket.toUtf8() +
                     "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                     "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                     "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        config.close();
        bus.start("dbus-daemon", {"--nofork", "--config-file=" + config.fileName()});
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(socket); }, 5000));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socket);

        Program program(*desktop);
        QVERIFY(program.start(env));
        QVERIFY(program.clickSend());
        // The sender is announced, but no frame comes.
        NdiReceiver receiver;
        QVERIFY(connectReceiver(receiver));
        QCOMPARE(receiver.receiveFor(3000), 0);
        // Still answering: the event loop takes the signal and the program ends normally.
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        QCOMPARE(program.linesSaying("Screen capture: the desktop portal is not available"), 1);
        bus.terminate();
        bus.waitForFinished(5000);
    }

private:
    // Starts the program without a saved permission and clicks send: the desktop's share
    // dialog is up. What went wrong, or an empty string.
    QString openShareDialog(Program &program)
    {
        settings().remove(restoreTokenKey);
        if (!program.start() || !program.clickSend())
            return QStringLiteral("the program did not start, or its send button took no click");
        return desktop->waitForDialog(15000) ? QString() : QStringLiteral("no share dialog");
    }

    std::unique_ptr<Desktop> desktop;
    PortalWatch portal;
    Services services;
    // The sender counts as announced, so that the window's notice line is the capture's.
    SystemBus announcer{QDir::tempPath() + "/norvane-wayland-system-bus"};
};

QTEST_GUILESS_MAIN(TestWaylandSend)
#include "tst_wayland_send.moc"
