// The built program used as a person uses it, from outside: with a notification area on the
// screen, a click on the send button publishes the screen as "(NDI)", frames flow to a receiver
// on loopback with the screen's picture, the window shows a rate; a second
// click ends the stream and the rate goes back to "0"; "退出" in the tray menu ends the program
// with status 0. The same at the desktop resolutions of 150% and 200% (Xft.dpi): the window is
// the 100% window scaled as a whole, and the stream is the whole screen in its own pixels.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "TrayHost.h"
#include "UserSession.h"
#include "XRoot.h"

#include <QDir>
#include <QtTest>

#include <dlfcn.h>

using namespace MainWindowPlaces;

class TestAcceptanceSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        XRoot root;
        QVERIFY(root.connected());
        screen = QSize(root.width(), root.height());
        QVERIFY(tray.start());
        QVERIFY(QDir().mkpath(QStringLiteral(NORVANE_ACCEPTANCE_OUTPUT)));
    }

    void sendStopAndQuit_data()
    {
        QTest::addColumn<int>("dpi");
        // Xvfb reports 100 dots per inch and the desktop sets none: the window at 100%.
        QTest::newRow("no Xft.dpi") << 0;
        QTest::newRow("Xft.dpi 144") << 144;
        QTest::newRow("Xft.dpi 192") << 192;
    }

    void sendStopAndQuit()
    {
        QFETCH(int, dpi);
        const qreal scale = dpi ? dpi / 96.0 : 1.0;
        if (dpi)
            QCOMPARE(
                QProcess::execute("sh", {"-c", QString("echo Xft.dpi: %1 | xrdb -merge").arg(dpi)}),
                0);
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment()));
        const QRect window = user.windowRect();
        QCOMPARE(window.size(), size * scale);
        const QImage idle = UserSession::look(window);
        const QString unlike = unlikeUnscaledLook(idleWindow, idle, !dpi);
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));
        const QRect button = scaled(sendButtonArea, scale).translated(window.topLeft());
        const QRect label = scaled(rateLabelArea, scale).translated(window.topLeft());
        const QImage idleButton = UserSession::look(button);
        const QImage idleLabel = UserSession::look(label);
        const QPoint sendButton = user.inWindow(sendButtonCentre * scale);

        QVERIFY(user.clickAt(sendButton));

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        // Kept mapped to the end, so the runtime's allocations at exit can be named.
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
        QVERIFY(receiver.receiveFrame(10000));

        // Three seconds of watching, after a second for the stream to settle.
        const NdiReceiver::Watch seen = receiver.watch(screen.width(), screen.height(), 3000);
        qInfo("received %d frames: %.2f per second", seen.frames, seen.perSecond);
        QVERIFY2(seen.flowing(), qPrintable(QString::number(seen.perSecond)));
        QCOMPARE(seen.wrong, 0);

        // Nothing announces the sender in here (no avahi-daemon): the program says so in a
        // notification of its tray icon, which a click closes.
        const QRect bubble = user.waitForNotification(30000);
        QVERIFY(!bubble.isEmpty());
        QVERIFY(user.clickAt(bubble.center()));
        QTRY_VERIFY_WITH_TIMEOUT(user.waitForNotification(300).isEmpty(), 30000);

        const QString shot = QStringLiteral(NORVANE_ACCEPTANCE_OUTPUT "/sending%1.png")
                                 .arg(dpi ? QString::number(dpi) : QString());
        QVERIFY(UserSession::screenshot(shot));
        qInfo("screenshot while sending: %s", qPrintable(shot));

        // The picture: the painted pattern wherever no window of the program or trayer lies,
        // once the frames that still show the bubble have passed.
        const PatternMatch match = receivePattern(receiver, window.adjusted(-40, -40, 40, 40), 24);
        QVERIFY2(match.firstFault.isEmpty(), qPrintable(match.firstFault));
        const NdiReceiver::Frame &frame = receiver.lastFrame();
        QCOMPARE(QSize(frame.width, frame.height), screen);
        QVERIFY(match.checked > 500);
        qInfo("%d pixels checked; largest colour difference from the screen: %d", match.checked,
              match.worst);

        // While it sends, the button shows "停止发送" and the label a rate, not "0".
        QVERIFY(UserSession::look(button) != idleButton);
        QVERIFY(UserSession::look(label) != idleLabel);

        QVERIFY(user.clickAt(sendButton));
        QVERIFY2(receiver.ended(), "frames still came after the stop");
        QTRY_VERIFY_WITH_TIMEOUT(UserSession::look(label) == idleLabel, 30000);
        QCOMPARE(UserSession::look(button), idleButton);

        QVERIFY(user.quitFromTray());
        QVERIFY2(user.waitForExit(30000), "the program did not end after 退出");
        QCOMPARE(user.program().exitStatus(), QProcess::NormalExit);
        QCOMPARE(user.program().exitCode(), 0);
        QVERIFY2(!user.standardError().contains("NDI runtime not found"),
                 user.standardError().constData());
        QCOMPARE(user.standardError().count("avahi-daemon is not running"), 1);
    }

    // The screen changes resolution, as a projector or a dock changes it (xrandr, on an X server
    // that can: Xvnc, with no one connected to it): a send after the change gives the new size,
    // and while sending the frames take the next change by themselves, with nothing foreign in
    // them.
    void followsTheScreenSize()
    {
        const std::uint32_t painted = 0x2f8f4f;
        ResizableDisplay display;
        QVERIFY(display.start(QSize(2560, 1440), painted));
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment()));
        NdiReceiver receiver;
        QVERIFY(receiver.usable());

        QVERIFY(display.resize(QSize(1920, 1080)));
        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre)));
        QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
        QString wrong =
            paintedScreenArrives(receiver, QSize(1920, 1080), user.windowRect(), painted);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

        QVERIFY(display.resize(QSize(2560, 1440)));
        QVERIFY(QTest::qWaitFor(
            [&] { return receiver.receiveFrame(1000) && receiver.lastFrame().width == 2560; },
            10000));
        wrong = paintedScreenArrives(receiver, QSize(2560, 1440), user.windowRect(), painted);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        user.program().terminate();
        QVERIFY(user.waitForExit(10000));
    }

    // Painted for each row, and kept as the root's background: a closed menu or notification
    // would leave its place black.
    void init()
    {
        XRoot root;
        QVERIFY(root.paintPattern());
        QVERIFY(root.keepAsBackground());
    }
    // The server outlives the test: no resolution or background left behind.
    void cleanup()
    {
        QProcess::execute("xrdb", {"-remove"});
        XRoot().dropBackground();
    }
    void cleanupTestCase() { tray.stop(); }

private:
    TrayHost tray;
    QSize screen;
    QImage idleWindow; // the 100% row's look
};

QTEST_MAIN(TestAcceptanceSend)
#include "tst_acceptance_send.moc"
