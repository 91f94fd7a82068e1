// SIGTERM or SIGINT to the running program while it sends: it ends in order (sending stops,
// the window closes, main returns 0) within a second, and a receiver sees the stream end.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "XTools.h"

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
            receiver.setKeepPixels(false);
            QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
            QVERIFY(receiver.receiveFrame(10000));
            QVERIFY(receiver.receiveFor(1000) > 10);

            QElapsedTimer clock;
            clock.start();
            QCOMPARE(::kill(pid_t(app.processId()), signal), 0);
            QVERIFY(app.waitForFinished(1000));
            const qint64 took = clock.elapsed();
            QCOMPARE(app.exitStatus(), QProcess::NormalExit);
            QCOMPARE(app.exitCode(), 0);
            QVERIFY2(took < 1000, qPrintable(QString::number(took)));

            receiver.receiveFor(500);
            QCOMPARE(receiver.receiveFor(1500), 0);
        }
    }
};

QTEST_MAIN(TestSigterm)
#include "tst_sigterm.moc"
