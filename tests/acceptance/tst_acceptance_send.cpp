// The built program used as a person uses it, from outside: with a notification area on the
// screen, a click on the send button publishes the screen as "(NDI)" at about 29.97 frames per
// second, a receiver on loopback sees the screen's picture, the window shows the rate; a second
// click ends the stream and the rate goes back to "0"; "退出" in the tray menu ends the program
// with status 0.
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
        QVERIFY(root.paintPattern());
        // Painted again where a closed notification uncovers it.
        QVERIFY(root.keepAsBackground());
        screen = QSize(root.width(), root.height());
        QVERIFY(tray.start());
        QVERIFY(QDir().mkpath(QStringLiteral(NORVANE_ACCEPTANCE_OUTPUT)));
    }

    void sendStopAndQuit()
    {
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment()));
        const QRect window = user.windowRect();
        const QRect button = sendButtonArea.translated(window.topLeft());
        const QRect label = rateLabelArea.translated(window.topLeft());
        const QImage idleButton = UserSession::look(button);
        const QImage idleLabel = UserSession::look(label);

        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        // Kept mapped to the end, so the runtime's allocations at exit can be named.
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
        QVERIFY(receiver.receiveFrame(10000));

        // Ten seconds of watching, after a second for the stream to settle.
        const NdiReceiver::Watch seen = receiver.watch(screen.width(), screen.height(), 10000);
        qInfo("received %d frames in 10 s: %.2f per second", seen.frames, seen.perSecond);
        QVERIFY2(seen.perSecond >= 25 && seen.perSecond <= 31,
                 qPrintable(QString::number(seen.perSecond)));
        QCOMPARE(seen.wrong, 0);

        // Nothing announces the sender in here (no avahi-daemon): the program says so in a
        // notification of its tray icon, which a click closes.
        const QRect bubble = user.waitForNotification(5000);
        QVERIFY(!bubble.isEmpty());
        QVERIFY(user.clickAt(bubble.center()));
        QTRY_VERIFY_WITH_TIMEOUT(user.waitForNotification(300).isEmpty(), 3000);
        receiver.receiveFor(500); // frames of the screen with the bubble

        // The picture: the painted pattern wherever no window of the program or trayer lies.
        QVERIFY(receiver.receiveFrame(2000));
        const NdiReceiver::Frame &frame = receiver.lastFrame();
        QCOMPARE(QSize(frame.width, frame.height), screen);
        const PatternMatch match = compareWithPattern(frame, window.adjusted(-40, -40, 40, 40), 24);
        QVERIFY2(match.firstFault.isEmpty(), qPrintable(match.firstFault));
        QVERIFY(match.checked > 500);
        qInfo("%d pixels checked; largest colour difference from the screen: %d", match.checked,
              match.worst);

        // While it sends, the button shows "停止发送" and the label a rate, not "0".
        QVERIFY(UserSession::look(button) != idleButton);
        QVERIFY(UserSession::look(label) != idleLabel);
        const QString shot = QStringLiteral(NORVANE_ACCEPTANCE_OUTPUT "/sending.png");
        QVERIFY(UserSession::screenshot(shot));
        qInfo("screenshot while sending: %s", qPrintable(shot));

        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));
        // Frames already on their way may still arrive; after that, nothing.
        receiver.receiveFor(500);
        QCOMPARE(receiver.receiveFor(1500), 0);
        QTRY_VERIFY_WITH_TIMEOUT(UserSession::look(label) == idleLabel, 3000);
        QCOMPARE(UserSession::look(button), idleButton);

        QVERIFY(user.quitFromTray());
        QVERIFY2(user.waitForExit(5000), "the program did not end after 退出");
        QCOMPARE(user.program().exitStatus(), QProcess::NormalExit);
        QCOMPARE(user.program().exitCode(), 0);
        QVERIFY2(!user.standardError().contains("NDI runtime not found"),
                 user.standardError().constData());
        QCOMPARE(user.standardError().count("avahi-daemon is not running"), 1);
    }

    void cleanupTestCase()
    {
        tray.stop();
        XRoot().dropBackground(); // later tests on this server find the root as it was
    }

private:
    TrayHost tray;
    QSize screen;
};

QTEST_MAIN(TestAcceptanceSend)
#include "tst_acceptance_send.moc"
