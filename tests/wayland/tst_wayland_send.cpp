// The built program on a Wayland desktop, used from outside as a person would: headless sway
// with the desktop portal and PipeWire (scripts/wayland-session), clicks through a virtual
// pointer, pictures with grim, a receiver on the real runtime over loopback. A click on the send
// button publishes the screen through the portal: 1920 x 1080 BGRX at 30000/1001, about 29.97
// frames a second on a still screen, in the painted colour; a second click stops it; SIGTERM
// ends the program with status 0. Without a portal on the bus, the click sends nothing and the
// program says so once.
#include "NdiReceiver.h"
#include "NdiRuntime.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>

namespace {

const QSize output(1920, 1080);
const std::uint32_t background = 0x3366cc; // what the session paints, as 0xRRGGBB
// The send button's centre and the rate label inside the window (the frame sits at 10,5).
const QPoint sendButtonCentre(10 + 332 + 44, 5 + 275 + 13);
const QRect sendButtonArea(10 + 332, 5 + 275, 88, 26);
const QRect rateLabelArea(10 + 232, 5 + 190, 21, 21);
// Where the pointer waits, out of the way of what a test compares.
const QPoint corner(output.width() - 1, output.height() - 1);

QByteArray output_of(const QString &program, const QStringList &arguments)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(10000);
    return p.readAllStandardOutput();
}

// The rectangle of the first window with this app id in sway's tree, or an empty one.
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

QRect programWindow()
{
    const QByteArray tree = output_of("swaymsg", {"-t", "get_tree"});
    return windowRect(QJsonDocument::fromJson(tree).object());
}

// What the output shows in a rectangle, by grim through the compositor.
QImage look(const QRect &r)
{
    const QString region =
        QString("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    return QImage::fromData(output_of("grim", {"-g", region, "-"}), "PNG")
        .convertToFormat(QImage::Format_RGB32);
}

int deviation(std::uint32_t a, std::uint32_t b)
{
    int largest = 0;
    for (int shift = 0; shift < 24; shift += 8)
        largest = std::max(largest, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
    return largest;
}

// The pointer the headless seat lacks (tests/wayland/virtual_pointer.c).
class Pointer
{
public:
    ~Pointer()
    {
        helper.closeWriteChannel();
        if (!helper.waitForFinished(3000))
            helper.kill();
    }
    bool start()
    {
        helper.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper.start(QStringLiteral(NORVANE_VIRTUAL_POINTER),
                     {QString::number(output.width()), QString::number(output.height())});
        return answer() == "ready";
    }
    bool click(const QPoint &at)
    {
        return command(QString("move %1 %2").arg(at.x()).arg(at.y())) && command("press") &&
               command("release") && command(QString("move %1 %2").arg(corner.x()).arg(corner.y()));
    }

private:
    bool command(const QString &line)
    {
        helper.write(line.toLatin1() + '\n');
        return answer() == "ok";
    }
    QByteArray answer()
    {
        while (!helper.canReadLine()) {
            if (!helper.waitForReadyRead(5000))
                return QByteArray();
        }
        return helper.readLine().trimmed();
    }
    QProcess helper;
};

// The program, started as from a desktop's menu and ended when the test ends.
struct Program
{
    ~Program()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
    bool start(QProcessEnvironment env)
    {
        // The test's own platform choice is not the program's: it decides by the session.
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        process.setProcessEnvironment(env);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(QStringLiteral(NORVANE_EXE), QStringList());
        if (!process.waitForStarted(5000))
            return false;
        // Shown, then drawn: two looks a moment apart agree.
        QElapsedTimer waited;
        waited.start();
        QImage before;
        while (waited.elapsed() < 15000) {
            QTest::qWait(150);
            window = programWindow();
            const QImage now = window.isEmpty() ? QImage() : look(window);
            if (!now.isNull() && now == before)
                return true;
            before = now;
        }
        return false;
    }
    bool terminate()
    {
        process.terminate();
        return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
    // The lines the program wrote on stderr that start with prefix.
    QList<QByteArray> errorLines(const QByteArray &prefix)
    {
        errors += process.readAllStandardError();
        QList<QByteArray> found;
        for (const QByteArray &line : errors.split('\n')) {
            if (line.startsWith(prefix))
                found << line;
        }
        return found;
    }

    QProcess process;
    QRect window;
    QByteArray errors;
};

} // namespace

class TestWaylandSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("SWAYSOCK"))
            QFAIL("run through scripts/wayland-session (ctest does)");
        QVERIFY(pointer.start());
        QVERIFY(QDir().mkpath(QStringLiteral(NORVANE_WAYLAND_OUTPUT)));
    }

    void sendsTheScreenThroughThePortal()
    {
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        Program program;
        QVERIFY(program.start(QProcessEnvironment::systemEnvironment()));
        // Floated at its own size, not tiled over the output.
        QCOMPARE(program.window.size(), QSize(474, 329));
        const QRect button = sendButtonArea.translated(program.window.topLeft());
        const QRect label = rateLabelArea.translated(program.window.topLeft());
        const QImage idleButton = look(button);
        const QImage idleLabel = look(label);

        QVERIFY(pointer.click(program.window.topLeft() + sendButtonCentre));

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        // Kept mapped to the end, so the runtime's allocations at exit can be named.
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        QVERIFY(receiver.connect("(NDI)", 20000));
        QVERIFY(receiver.receiveFrame(10000));

        // The screen does not change: the compositor sends one picture, and the program keeps
        // sending it at the full rate.
        const NdiReceiver::Watch seen = receiver.watch(output.width(), output.height(), 10000);
        qInfo("received %d frames in 10 s: %.2f per second", seen.frames, seen.perSecond);
        QVERIFY2(seen.perSecond >= 25 && seen.perSecond <= 31,
                 qPrintable(QString::number(seen.perSecond)));
        QCOMPARE(seen.wrong, 0);

        // The picture: the painted colour wherever neither the window nor the pointer lies, as
        // near as NDI's lossy YUV coding keeps it (a channel swap or a black frame is far off).
        QVERIFY(receiver.receiveFrame(2000));
        const NdiReceiver::Frame &frame = receiver.lastFrame();
        QCOMPARE(QSize(frame.width, frame.height), output);
        const QRect busy = program.window.adjusted(-8, -8, 8, 8);
        const QRect pointerArea(corner - QPoint(64, 64), corner);
        int checked = 0;
        int worst = 0;
        for (int y = 0; y < frame.height; y += 37) {
            for (int x = 0; x < frame.width; x += 41) {
                if (busy.contains(x, y) || pointerArea.contains(x, y))
                    continue;
                ++checked;
                worst = std::max(worst, deviation(frame.rgb(x, y), background));
                QVERIFY2(deviation(frame.rgb(x, y), background) <= 16,
                         qPrintable(QString("at %1,%2: %3")
                                        .arg(x)
                                        .arg(y)
                                        .arg(frame.rgb(x, y), 6, 16, QChar('0'))));
            }
        }
        QVERIFY(checked > 1000);
        qInfo("%d pixels checked; largest colour difference from #3366cc: %d", checked, worst);

        // While it sends, the button shows "停止发送" and the label a rate, not "0".
        QVERIFY(look(button) != idleButton);
        QVERIFY(look(label) != idleLabel);
        const QString shot = QStringLiteral(NORVANE_WAYLAND_OUTPUT "/sending.png");
        QVERIFY(look(QRect(QPoint(0, 0), output)).save(shot));
        qInfo("screenshot while sending: %s", qPrintable(shot));

        QVERIFY(pointer.click(program.window.topLeft() + sendButtonCentre));
        // Frames already on their way may still arrive; after that, nothing.
        receiver.receiveFor(500);
        QCOMPARE(receiver.receiveFor(1500), 0);
        const QString stopped = QStringLiteral(NORVANE_WAYLAND_OUTPUT "/stopped.png");
        const bool rateReset = QTest::qWaitFor([&] { return look(label) == idleLabel; }, 3000);
        look(QRect(QPoint(0, 0), output)).save(stopped);
        QVERIFY2(rateReset, qPrintable("the rate did not go back to 0: " + stopped));
        QVERIFY2(look(button) == idleButton, qPrintable("the button is not idle: " + stopped));

        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");
        QVERIFY2(program.errorLines("Screen capture").isEmpty(), program.errors.constData());
        // The desktop's permission is kept in the user's settings, so it asks only once.
        QVERIFY(!QSettings("Norvane", "Norvane").value("portal/restoreToken").toString().isEmpty());
    }

    void withoutPortalSendsNothingAndSaysSoOnce()
    {
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        // A session bus of its own, with nothing on it.
        QProcess bus;
        const QString address = "unix:path=" + QDir::tempPath() + "/norvane-bare-bus";
        bus.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--address=" + address});
        QVERIFY(bus.waitForStarted(5000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QDir::tempPath() + "/norvane-bare-bus"), 5000);

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        Program program;
        QVERIFY(program.start(env));
        const QRect button = sendButtonArea.translated(program.window.topLeft());
        const QRect label = rateLabelArea.translated(program.window.topLeft());
        const QImage idleButton = look(button);
        const QImage idleLabel = look(label);

        QVERIFY(pointer.click(program.window.topLeft() + sendButtonCentre));
        QTRY_VERIFY_WITH_TIMEOUT(look(button) != idleButton, 3000);
        // The sender is announced, but no frame comes and the rate stays "0".
        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        QVERIFY(receiver.connect("(NDI)", 20000));
        QCOMPARE(receiver.receiveFor(3000), 0);
        QCOMPARE(look(label), idleLabel);

        // Still answering: the second click stops.
        QVERIFY(pointer.click(program.window.topLeft() + sendButtonCentre));
        QTRY_VERIFY_WITH_TIMEOUT(look(button) == idleButton, 3000);
        QVERIFY2(program.terminate(), "SIGTERM did not end the program with status 0");

        const QList<QByteArray> said = program.errorLines("Screen capture");
        QCOMPARE(said.size(), 1);
        QVERIFY2(said.first().contains("desktop portal is not available"), said.first());
        bus.terminate();
        bus.waitForFinished(5000);
    }

private:
    Pointer pointer;
};

QTEST_GUILESS_MAIN(TestWaylandSend)
#include "tst_wayland_send.moc"
