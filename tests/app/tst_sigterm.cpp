// SIGTERM or SIGINT to the running program while it sends: it ends in order (sending stops,
// the window closes, main returns 0), and a receiver sees the stream end on a black frame, as
// after the stop button, not on the last picture of the screen.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "UserSession.h"
#include "XRoot.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QtTest>

#include <dlfcn.h>

#include <atomic>
#include <csignal>
#include <thread>

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
        const std::uint32_t painted = 0x3366cc;
        QVERIFY(XRoot().paintFlat(painted));
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment()));
        QProcess &app = user.program();
        QVERIFY(user.clickAt(user.inWindow(MainWindowPlaces::sendButtonCentre)));

        {
            NdiReceiver receiver;
            QVERIFY(receiver.usable());
            QVERIFY(
                dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
            QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
            QVERIFY(receiver.receiveFrame(10000));
            QVERIFY(receiver.receiveFor(1000) >= NdiReceiver::flowingPerSecond);
            const auto shows = [&](std::uint32_t colour) {
                const NdiReceiver::Frame &last = receiver.lastFrame();
                for (const QPoint &p : {QPoint(10, 1000), QPoint(960, 540), QPoint(1900, 300)}) {
                    if (NdiReceiver::deviation(last.rgb(p.x(), p.y()), colour) > 16)
                        return false;
                }
                return true;
            };
            QVERIFY(shows(painted));

            // Received meanwhile, as a receiver on the network does: a receiver drops what it
            // has queued when its sender's connection ends.
            std::atomic<bool> exited{false};
            int after = 0;
            std::thread watching([&] {
                while (!exited)
                    after += receiver.receiveFrame(200);
                after += receiver.receiveFor(1000);
            });
            const auto stopWatching = [&] {
                exited = true;
                if (watching.joinable())
                    watching.join();
            };
            const auto joined = qScopeGuard(stopWatching);
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(::kill(pid_t(app.processId()), signal), 0);
            // Within a second on a quiet machine; a hang (a wait for something that never
            // comes) still shows on a loaded one.
            QVERIFY(user.waitForExit(10000));
            qInfo("ended %lld ms after the signal", clock.elapsed());
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QCOMPARE(app.exitCode(), 0);
            stopWatching();
            QVERIFY(after > 0);
            QVERIFY2(shows(0), "receivers were left with a picture of the screen");
            QVERIFY2(receiver.ended(), "frames still came after the stop");
        }
    }
};

QTEST_MAIN(TestSigterm)
#include "tst_sigterm.moc"
