// The Windows zip where users are: unpacked into a new Wine prefix and started from there.
// Without the runtime the window opens and the first press of send says why nothing is sent;
// with Processing.NDI.Lib.x64.dll put next to norvane.exe, as the zip's read-me says, a click
// sends, and a receiver on the Linux runtime gets screen-sized frames of the painted colour.
#include "NdiReceiver.h"
#include "UserSession.h"
#include "Wine.h"
#include "XRoot.h"
#include "XTools.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using namespace MainWindowPlaces;

namespace {

const std::uint32_t painted = 0x8f4f2f;

// Wine's shell (explorer.exe) shows the tray and its notifications as windows of its own.
QStringList shellWindows()
{
    return runTool(QStringLiteral("xdotool"),
                   {"search", "--onlyvisible", "--classname", "^explorer\\.exe$"})
        .split('\n', Qt::SkipEmptyParts);
}

// The shell's windows once the program's tray icon shows; empty when it does not.
QStringList shellWindowsWithTrayIcon()
{
    QStringList shown;
    return QTest::qWaitFor([&] { return !(shown = shellWindows()).isEmpty(); }, 30000)
               ? shown
               : QStringList();
}

} // namespace

class TestPackageZip : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(QFile::exists(zip), qPrintable(zip + " is missing: scripts/package builds it"));
        QVERIFY(scratch.isValid());
        const QString why = wine.prepare(scratch.path());
        QVERIFY2(why.isEmpty(), qPrintable(why));
        QProcess unzip;
        unzip.setWorkingDirectory(wine.path() + "/drive_c");
        unzip.start(QStringLiteral(NORVANE_CMAKE), {"-E", "tar", "xf", zip});
        QVERIFY(unzip.waitForFinished(60000) && unzip.exitCode() == 0);
        exe = wine.path() + "/drive_c/" NORVANE_ZIP_FOLDER "/norvane.exe";
        QVERIFY(QFile::exists(exe));
        XRoot root;
        QVERIFY(root.connected());
        QVERIFY(root.paintFlat(painted));
        screen = QSize(root.width(), root.height());
    }

    void withoutRuntimeSaysWhy()
    {
        UserSession user;
        QVERIFY2(user.start(wine.wine(), wine.environment(), {exe}),
                 user.standardError().constData());
        const QStringList before = shellWindowsWithTrayIcon();
        QVERIFY2(!before.isEmpty(), "no tray icon");
        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));
        // The notification: a further window of the shell.
        QTRY_VERIFY_WITH_TIMEOUT(shellWindows().size() > before.size(), 30000);
        QVERIFY(closeProgram(user));
        QVERIFY2(user.standardError().contains("NDI runtime not found"),
                 user.standardError().constData());
    }

    void withRuntimeBesideSends()
    {
        const QString dll = QFileInfo(exe).dir().filePath("Processing.NDI.Lib.x64.dll");
        QVERIFY(QFile::copy(QStringLiteral(NORVANE_NDI_DIR "/win_x64/Processing.NDI.Lib.x64.dll"),
                            dll));
        const QList<int> portsBefore = WinePrefix::listeningPorts();
        UserSession user;
        QVERIFY2(user.start(wine.wine(), wine.environment(), {exe}),
                 user.standardError().constData());
        const int port = WinePrefix::newListeningPort(portsBefore, UserSession::startMs);
        QVERIFY2(port, "the program listens on no port: no sender");
        const QStringList before = shellWindowsWithTrayIcon();
        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        QVERIFY(receiver.connectToAddress("127.0.0.1:" + std::to_string(port)));
        const QString wrong = paintedScreenArrives(receiver, screen, user.windowRect(), painted);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
        QCOMPARE(shellWindows(), before); // nothing to tell
        QVERIFY(closeProgram(user));
    }

    void cleanupTestCase()
    {
        if (!wine.path().isEmpty())
            wine.stop();
    }

private:
    // taskkill without /f posts WM_CLOSE, as closing the program from Windows does.
    bool closeProgram(UserSession &user)
    {
        QProcess taskkill;
        taskkill.setProcessEnvironment(wine.environment());
        taskkill.start(wine.wine(), {"taskkill", "/im", "norvane.exe"});
        return taskkill.waitForFinished(30000) && user.waitForExit(20000) &&
               user.program().exitCode() == 0 && wine.waitForEnd(30000);
    }

    const QString zip = QStringLiteral(NORVANE_ZIP);
    QTemporaryDir scratch;
    WinePrefix wine;
    QString exe;
    QSize screen;
};

QTEST_MAIN(TestPackageZip)
#include "tst_package_zip.moc"
