// SIGTERM or SIGINT to the running program while it sends: it ends in order (sending stops,
// the window closes, main returns 0), and a receiver sees the stream end.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "UserSession.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <dlfcn.h>

#include <csignal>

class TestSigterm : public QObject
{
    Q_OBJECT

private slots:
    void signalWhileSending_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void signalWhileSending()
    {
        QFETCH(int, signal);
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment()));
        QProcess &app = user.program();
        QVERIFY(user.clickAt(user.inWindow(MainWindowPlaces::sendButtonCentre)));

        {
            NdiReceiver receiver;
            QVERIFY(receiver.usable());
            QVERIFY(
                dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
            receiver.setKeepPixels(false);
            QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
            QVERIFY(receiver.receiveFrame(10000));
            QVERIFY(receiver.receiveFor(1000) >= NdiReceiver::flowingPerSecond);

            QElapsedTimer clock;
            clock.start();
            QCOMPARE(::kill(pid_t(app.processId()), signal), 0);
            // Within a second on a quiet machine; a hang (a wait for something that never
            // comes) still shows on a loaded one.
            QVERIFY(user.waitForExit(10000));
            qInfo("ended %lld ms after the signal", clock.elapsed());
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QCOMPARE(app.exitCode(), 0);

            QVERIFY2(receiver.ended(), "frames still came after the stop");
        }
    }
};

QTEST_MAIN(TestSigterm)
#include "tst_sigterm.moc"
