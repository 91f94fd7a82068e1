// SIGTERM or SIGINT to the running program while it sends: it ends in order (sending stops,
// the window closes, main returns 0) within a second, and a receiver sees the stream end on a
// black frame, as after the stop button, not on the last picture of the screen.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "XRoot.h"
#include "XTools.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <dlfcn.h>

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
        QProcess app;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        // The program lets go of the runtime at exit, so its allocations can no longer be
        // named there; leaks are the in-process tests' business.
        env.insert(QStringLiteral("ASAN_OPTIONS"),
                   env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        app.setProcessEnvironment(env);
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        app.start(QStringLiteral(NORVANE_EXE), QStringList());
        QVERIFY(app.waitForStarted(5000));

        // Its window, found through the process id the toolkit puts on it.
        const QString window = runTool(QStringLiteral("xdotool"),
                                       {"search", "--sync", "--onlyvisible", "--pid",
                                        QString::number(app.processId()), "--name", "^Norvane$"})
                                   .section('\n', 0, 0);
        QVERIFY2(!window.isEmpty(), "the program's window did not appear");

        // A real click in the middle of the send button (frame at 10,5; button at 332,275,
        // 88 x 26 inside it). The pointer first leaves the spot: a --sync move to where the
        // pointer already is waits for a motion that never comes.
        const QStringList click{"mousemove", "1",   "1",   "mousemove", "--sync", "--window",
                                window,      "386", "293", "click",     "1"};
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), click), 0);

        {
            NdiReceiver receiver;
            QVERIFY(receiver.usable());
            QVERIFY(
                dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
            QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
            QVERIFY(receiver.receiveFrame(10000));
            QVERIFY(receiver.receiveFor(1000) > 0);
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
            int after = 0;
            std::thread watching([&] { after = receiver.receiveFor(2500); });
            QElapsedTimer clock;
            clock.start();
            QCOMPARE(::kill(pid_t(app.processId()), signal), 0);
            QVERIFY(app.waitForFinished(1000));
            const qint64 took = clock.elapsed();
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QCOMPARE(app.exitCode(), 0);
            QVERIFY2(took < 1000, qPrintable(QString::number(took)));
            watching.join();
            QVERIFY(after > 0);
            QVERIFY2(shows(0), "receivers were left with a picture of the screen");
            QCOMPARE(receiver.receiveFor(1000), 0);
        }
    }
};

QTEST_MAIN(TestSigterm)
#include "tst_sigterm.moc"
