// The built program on a Wayland desktop, used from outside as a person would: headless sway
// with the desktop portal and PipeWire (scripts/wayland-session), clicks through a virtual
// pointer, a receiver on the real runtime over loopback. A click on the send button publishes
// the screen through the portal: 1920 x 1080 BGRX at 30000/1001, about 29.97 frames a second on
// a still screen, in the painted colour; a second click stops it; SIGTERM ends the program with
// status 0. Without a portal on the bus nothing is sent and the program says so once.
#include "NdiReceiver.h"
#include "NdiRuntime.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <dlfcn.h>

namespace {

const QSize output(1920, 1080);
const std::uint32_t background = 0x3366cc; // what the session paints
// The send button's centre in the window (its frame sits at 10,5).
const QPoint sendButtonCentre(10 + 332 + 44, 5 + 275 + 13);

// The rectangle of the window with this app id in sway's tree, or an empty one.
QRect windowRect(const QJsonObject &node)
{
    if (node.value("app_id").toString() == QLatin1String("norvane")) {
        const QJsonObject r = node.value("rect").toObject();
        return QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(),
                     r.value("height").toInt());
    }
    for (const char *children : {"nodes", "floating_nodes"}) {
        for (const QJsonValue &child : node.value(children).toArray()) {
            const QRect found = windowRect(child.toObject());
            if (!found.isEmpty())
                return found;
        }
    }
    return QRect();
}

bool click(const QPoint &at)
{
    return QProcess::execute(QStringLiteral(NORVANE_VIRTUAL_POINTER),
                             {QString::number(at.x()), QString::number(at.y()),
                              QString::number(output.width()), QString::number(output.height())}) ==
           0;
}

// The program, started as from a desktop's menu, with a receiver for what it sends.
struct Program
{
    QProcess process;
    QRect window;

    ~Program()
    {
        process.kill();
        process.waitForFinished(5000);
    }
    bool start(QProcessEnvironment env)
    {
        // The program chooses its platform by the session, not by the test's choice.
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(NORVANE_EXE), QStringList());
        // sway maps the window once its first picture is drawn.
        return QTest::qWaitFor(
            [&] {
                QProcess tree;
                tree.start("swaymsg", {"-t", "get_tree"});
                tree.waitForFinished(5000);
                window = windowRect(QJsonDocument::fromJson(tree.readAllStandardOutput()).object());
                return !window.isEmpty();
            },
            15000);
    }
    bool clickSend() { return click(window.topLeft() + sendButtonCentre); }
    bool terminate()
    {
        process.terminate();
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    int linesSaying(const QByteArray &prefix)
    {
        const QList<QByteArray> lines = process.readAllStandardError().split('\n');
        return int(std::count_if(lines.begin(), lines.end(),
                                 [&](const QByteArray &l) { return l.startsWith(prefix); }));
    }
};

bool connectReceiver(NdiReceiver &receiver)
{
    // Kept mapped to the end, so the runtime's allocations at exit can be named.
    return receiver.usable() &&
           dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) &&
           receiver.connect(NdiReceiver::localSourceName(), 20000);
}

} // namespace

class TestWaylandSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(!qEnvironmentVariableIsEmpty("SWAYSOCK"),
                 "run through scripts/wayland-session (ctest does)");
        // The seat's pointer, there before the program starts (see virtual_pointer.c).
        pointer.start(QStringLiteral(NORVANE_VIRTUAL_POINTER), QStringList());
        QVERIFY(pointer.waitForReadyRead(10000) && pointer.readLine().trimmed() == "ready");
        QVERIFY2(waitForSenderNameFree("NDI", 120000), "another process keeps sending as NDI");
    }

    void sendsTheScreenThroughThePortal()
    {
        Program program;
        QVERIFY(program.start(QProcessEnvironment::systemEnvironment()));
        // Floated at its own size, not tiled over the output.
        QCOMPARE(program.window.size(), QSize(474, 329));
        QVERIFY(program.clickSend());

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

        // The painted colour wherever neither the window nor the parked pointer lies, as near
        // as NDI's lossy coding keeps it (a channel swap or a black frame is far off).
        QVERIFY(receiver.receiveFrame(2000));
        const NdiReceiver::Frame &frame = receiver.lastFrame();
        const QRect busy = program.window.adjusted(-8, -8, 8, 8);
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

        QVERIFY(program.clickSend());
        receiver.receiveFor(500); // frames already on their way
        QCOMPARE(receiver.receiveFor(1500), 0);
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        QCOMPARE(program.linesSaying("Screen capture"), 0);
        // The desktop's permission is kept in the user's settings, so it asks only once.
        QVERIFY(!QSettings("Norvane", "Norvane").value("portal/restoreToken").toString().isEmpty());
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

        Program program;
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

    void cleanupTestCase()
    {
        pointer.closeWriteChannel();
        pointer.waitForFinished(5000);
    }

private:
    QProcess pointer;
};

QTEST_GUILESS_MAIN(TestWaylandSend)
#include "tst_wayland_send.moc"
