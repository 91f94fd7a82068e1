// The built program on a Wayland desktop, used from outside as a person would: the desktop of
// scripts/wayland-session (sway, GNOME or KDE Plasma, see Desktop.h), a receiver on the real
// runtime over loopback, the portal's answers watched on the session bus. A click on the send
// button, through the desktop's share dialog, publishes the screen: 1920 x 1080 BGRX at
// 30000/1001, about 29.97 frames a second on a still screen, in the painted colour; a second
// click stops it; SIGTERM ends the program with status 0. The restore token the program keeps
// shares at the next start without a dialog. A cancelled dialog and a backend that dies with its
// dialog open are told to the user, and the program goes on. Without a portal on the bus
// nothing is sent and the program says so once.
#include "Desktop.h"
#include "NdiReceiver.h"
#include "NdiRuntime.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <dlfcn.h>
#include <signal.h>

namespace {

const QSize output(1920, 1080);
const std::uint32_t background = 0x3366cc; // what the session paints
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
        process.start(QStringLiteral(NORVANE_EXE), QStringList());
        // Desktops map the window once its first picture is drawn.
        return QTest::qWaitFor(
            [&] {
                window = desktop.window(windowSize);
                return !window.isEmpty();
            },
            15000);
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
    }

    void sendsTheScreenThroughThePortal()
    {
        Program program(*desktop);
        QVERIFY(program.start());
        // Shown at its own size, not tiled over the output.
        QCOMPARE(program.window.size(), windowSize);
        QVERIFY(program.clickSend());
        if (desktop->asks()) {
            QVERIFY2(desktop->waitForDialog(15000), "no share dialog");
            QVERIFY(desktop->answerDialog(true));
        }
        QVERIFY2(portal.waitForShares(1, 20000), "the portal started no share");
        // The desktop's permission is kept in the user's settings, so it asks only once.
        QVERIFY(QTest::qWaitFor(
            [] { return !settings().value(restoreTokenKey).toString().isEmpty(); }, 5000));
        if (!desktop->noMonitorFrames().isEmpty()) {
            QVERIFY(program.terminate());
            QSKIP(qPrintable(desktop->noMonitorFrames()));
        }

        NdiReceiver receiver;
        QVERIFY(connectReceiver(receiver));
        QVERIFY(receiver.receiveFrame(10000));
        // The screen does not change: the compositor sends one picture, and the program keeps
        // sending it at the full rate.
        const NdiReceiver::Watch seen = receiver.watch(output.width(), output.height(), 10000);
        qInfo("received %d frames in 10 s: %.2f per second", seen.frames, seen.perSecond);
        QVERIFY2(seen.perSecond >= 25 && seen.perSecond <= 31,
                 qPrintable(QString::number(seen.perSecond)));
        QCOMPARE(seen.wrong, 0);
        checkPicture(receiver, program.window);
        if (QTest::currentTestFailed())
            return;

        QVERIFY(program.clickSend());
        receiver.receiveFor(500); // frames already on their way
        QCOMPARE(receiver.receiveFor(1500), 0);
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
        QVERIFY2(portal.waitForShares(before + 1, 15000), "no share without the dialog");
        if (desktop->noMonitorFrames().isEmpty()) {
            NdiReceiver receiver;
            QVERIFY(connectReceiver(receiver));
            QVERIFY(receiver.receiveFrame(10000));
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
        settings().remove(restoreTokenKey);
        Program program(*desktop);
        QVERIFY(program.start());
        QVERIFY(program.clickSend());
        QVERIFY2(desktop->waitForDialog(15000), "no share dialog");
        const int before = portal.failures();
        QVERIFY(desktop->answerDialog(false));
        QVERIFY(portal.waitForFailures(before + 1, 10000));
        QVERIFY(QTest::qWaitFor(
            [&] { return program.linesSaying("the screen share was cancelled") == 1; }, 5000));
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
    }

    void survivesTheBackendDyingWithItsDialogOpen()
    {
        if (!desktop->asks())
            QSKIP("this desktop's portal shares without a dialog");
        settings().remove(restoreTokenKey);
        Program program(*desktop);
        QVERIFY(program.start());
        QVERIFY(program.clickSend());
        QVERIFY2(desktop->waitForDialog(15000), "no share dialog");
        // The backend goes as a crash takes it: at once, its dialog open.
        const QDBusReply<uint> pid =
            QDBusConnection::sessionBus().interface()->servicePid(desktop->backend());
        QVERIFY(pid.isValid());
        QCOMPARE(::kill(pid.value(), SIGKILL), 0);
        QVERIFY(QTest::qWaitFor([&] { return program.linesSaying("Screen capture") == 1; }, 10000));
        QVERIFY(program.running());

        // Still answering: the event loop takes the signal and the program ends normally.
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");

        // The bus starts the backend anew for the next start, and its dialog shares.
        const int before = portal.shares();
        Program again(*desktop);
        QVERIFY(again.start());
        QVERIFY(again.clickSend());
        QVERIFY2(desktop->waitForDialog(20000), "no share dialog from a new backend");
        QVERIFY(desktop->answerDialog(true));
        QVERIFY2(portal.waitForShares(before + 1, 20000), "the new backend started no share");
        if (desktop->noMonitorFrames().isEmpty()) {
            NdiReceiver receiver;
            QVERIFY(connectReceiver(receiver));
            QVERIFY(receiver.receiveFrame(10000));
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
    std::unique_ptr<Desktop> desktop;
    PortalWatch portal;
};

QTEST_GUILESS_MAIN(TestWaylandSend)
#include "tst_wayland_send.moc"
