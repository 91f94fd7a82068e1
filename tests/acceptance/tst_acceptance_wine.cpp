// The Windows program, as scripts/build-windows makes it (build/windows/norvane.exe with the
// Windows runtime beside it), used under Wine as a person would: its window opens at its size,
// a click on the send button publishes the screen, which a receiver on the Linux runtime takes
// by address (discovery does not cross from Wine to Linux); a second click ends the stream;
// closing the program (WM_CLOSE, as taskkill sends it) ends it with status 0 and leaves no
// process of the Wine prefix behind. At 150% and 200% (LogPixels 144 and 192 in the prefix) the
// window is the 100% window scaled as a whole, and the stream the whole screen in its pixels.
#include "NdiReceiver.h"
#include "UserSession.h"
#include "Wine.h"
#include "XRoot.h"

#include <QFileInfo>
#include <QtTest>

using namespace MainWindowPlaces;

class TestAcceptanceWine : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo::exists(exe),
                 qPrintable(exe + " is missing: scripts/build-windows builds it"));
        QVERIFY(QFileInfo::exists(QFileInfo(exe).dir().filePath("Processing.NDI.Lib.x64.dll")));
        const QString why = wine.prepare(QStringLiteral(NORVANE_WINE_BUILD));
        QVERIFY2(why.isEmpty(), qPrintable(why));
        XRoot root;
        QVERIFY(root.paintPattern());
        screen = QSize(root.width(), root.height());
    }

    void sendStopAndClose_data()
    {
        QTest::addColumn<int>("dpi");
        QTest::newRow("100%") << 96;
        QTest::newRow("150%") << 144;
        QTest::newRow("200%") << 192;
    }

    void sendStopAndClose()
    {
        QFETCH(int, dpi);
        const qreal scale = dpi / 96.0;
        QVERIFY(wine.setLogPixels(dpi));
        // The sender is made when the window opens, and listens from then on.
        const QList<int> portsBefore = WinePrefix::listeningPorts();
        UserSession user;
        QVERIFY2(user.start(wine.wine(), wine.environment(), {exe}),
                 user.standardError().constData());
        QCOMPARE(user.windowRect().size(), size * scale);
        const QImage idle = UserSession::look(user.windowRect());
        const QString unlike = unlikeUnscaledLook(idleWindow, idle, dpi == 96);
        QVERIFY2(unlike.isEmpty(), qPrintable(unlike));
        const int port = WinePrefix::newListeningPort(portsBefore, UserSession::startMs);
        QVERIFY2(port, "the program listens on no port: no sender");

        const QPoint sendButton = user.inWindow(sendButtonCentre * scale);
        QVERIFY(user.clickAt(sendButton));
        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        QVERIFY(receiver.connectToAddress("127.0.0.1:" + std::to_string(port)));
        QVERIFY2(receiver.receiveFrame(20000), "no frame after the click on send");

        // Under Wine a rich picture arrives at a few frames a second (README, "Building for
        // Windows"): that frames come is what is asked.
        const NdiReceiver::Watch seen = receiver.watch(screen.width(), screen.height(), 3000, 0);
        qInfo("received %d frames from %s", seen.frames, qPrintable(exe));
        QVERIFY(seen.frames > 0);
        QCOMPARE(seen.wrong, 0);

        const PatternMatch match =
            receivePattern(receiver, user.windowRect().adjusted(-40, -40, 40, 40), 24);
        qInfo("%d pixels checked; largest colour difference from the screen: %d", match.checked,
              match.worst);
        QVERIFY2(match.firstFault.isEmpty(), qPrintable(match.firstFault));
        QVERIFY(match.checked > 500);

        QVERIFY(user.clickAt(sendButton));
        QVERIFY2(receiver.ended(), "frames still came after the stop");

        // taskkill without /f posts WM_CLOSE to the program's windows.
        QProcess taskkill;
        taskkill.setProcessEnvironment(wine.environment());
        taskkill.start(wine.wine(), {"taskkill", "/im", "norvane.exe"});
        QVERIFY(taskkill.waitForFinished(30000));
        QVERIFY2(user.waitForExit(20000), "the program did not end on WM_CLOSE");
        QCOMPARE(user.program().exitStatus(), QProcess::NormalExit);
        QCOMPARE(user.program().exitCode(), 0);
        QVERIFY2(wine.waitForEnd(30000), "processes of the Wine prefix were left behind");
    }

    void cleanupTestCase()
    {
        if (!wine.path().isEmpty()) {
            wine.setLogPixels(96);
            wine.stop();
        }
    }

private:
    const QString exe = QStringLiteral(NORVANE_WINDOWS_EXE);
    WinePrefix wine;
    QSize screen;
    QImage idleWindow; // the 100% row's look
};

QTEST_MAIN(TestAcceptanceWine)
#include "tst_acceptance_wine.moc"
