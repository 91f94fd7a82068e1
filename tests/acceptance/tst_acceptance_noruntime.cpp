// The built program where it cannot send, used from outside: the window opens as usual, and
// every press of send says why nothing goes out (a notification of the tray icon), however often
// the user stops and tries again: with no runtime (and then the rate stays "0", no source
// appears, one line on stderr says what is missing, and "退出" ends it with status 0); with a
// runtime cut short by an interrupted copy (no crash: it is named as damaged); and while another
// program (a copy of this one, say) holds the name "NDI". Once the cause is gone (the runtime
// installed while the program runs, the other program quit) the next press sends.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "TrayHost.h"
#include "UserSession.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <dlfcn.h>

using namespace MainWindowPlaces;

namespace {

const QString runtime = qEnvironmentVariable("NDI_RUNTIME_DIR_V6") + "/libndi.so.6";

} // namespace

class TestAcceptanceNoRuntime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Nothing may hand the program a runtime: not the system loader (this process runs
        // with an empty LD_LIBRARY_PATH and has not loaded one yet), not its own folder.
        for (const char *name : {"libndi.so.6", "libndi.so.5"}) {
            if (void *found = dlopen(name, RTLD_NOW | RTLD_LOCAL)) {
                dlclose(found);
                QSKIP(qPrintable(QStringLiteral("%1 is installed on this machine").arg(name)));
            }
            const QString beside =
                QFileInfo(QStringLiteral(NORVANE_EXE)).absolutePath() + '/' + name;
            QVERIFY2(!QFileInfo::exists(beside), qPrintable(beside));
        }
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        QVERIFY(tray.start());
        // Kept mapped to the end, so the runtime's allocations at exit can be named.
        QVERIFY(NdiRuntime::api());
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
    }

    void everyPressSaysWhy_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<QString>("saying");
        QTest::newRow("no runtime") << "none"
                                    << "NDI runtime not found; looked for ";
        QTest::newRow("runtime cut short, then installed") << "64k"
                                                           << "damaged";
        QTest::newRow("another program sends as NDI, then quits") << "other"
                                                                  << "could not be created";
    }
    void everyPressSaysWhy()
    {
        QFETCH(QString, cause);
        QFETCH(QString, saying);
        QTemporaryDir folder;
        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        QProcessEnvironment env = UserSession::programEnvironment();
        env.remove(QStringLiteral("NDI_RUNTIME_DIR_V5"));
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString());
        QProcess other;
        if (cause == "other") {
            other.setProcessEnvironment(env);
            other.start(QStringLiteral(NORVANE_LAN_PEER), {"send", "600"});
            QVERIFY(other.waitForReadyRead(30000) && other.readLine() == "sending\n");
        } else {
            env.insert(QStringLiteral("NDI_RUNTIME_DIR_V6"), folder.path());
            QFile cut(folder.filePath("libndi.so.6"));
            QVERIFY(cause == "none" || (cut.open(QIODevice::WriteOnly) &&
                                        cut.write(readRuntime().left(64 << 10)) == 64 << 10));
        }
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), env));
        const QRect window = user.windowRect();
        const QImage idleButton = UserSession::look(sendButtonArea.translated(window.topLeft()));
        const QImage idleLabel = UserSession::look(rateLabelArea.translated(window.topLeft()));
        const QPoint send = user.inWindow(sendButtonCentre);

        for (int press = 0; press < 2; ++press) {
            QVERIFY(user.clickAt(send));
            const QRect bubble = user.waitForNotification(30000);
            QVERIFY2(!bubble.isEmpty(), "a press sent nothing and said nothing");
            QTRY_VERIFY_WITH_TIMEOUT(
                UserSession::look(sendButtonArea.translated(window.topLeft())) != idleButton,
                30000);
            QVERIFY(user.clickAt(bubble.center()));
            QTRY_VERIFY_WITH_TIMEOUT(user.waitForNotification(300).isEmpty(), 5000);
            QVERIFY(user.clickAt(send)); // stop
        }
        QCOMPARE(UserSession::look(rateLabelArea.translated(window.topLeft())), idleLabel);
        const QList<QByteArray> lines = user.standardError().trimmed().split('\n');
        QCOMPARE(lines.count(), 1);
        QVERIFY2(lines.first().contains(saying.toUtf8()), lines.first().constData());

        if (cause == "none") {
            QVERIFY(!receiver.connect(NdiReceiver::localSourceName(), 3000));
            QVERIFY(user.quitFromTray());
            QVERIFY2(user.waitForExit(30000), "the program did not end after 退出");
            QCOMPARE(user.program().exitCode(), 0);
            QVERIFY(lines.first().contains("libndi.so.6 (system loader)"));
            return;
        }
        // The cause goes while the program runs: the next press sends.
        if (cause == "other") {
            other.terminate();
            QVERIFY(other.waitForFinished(10000));
        } else {
            QFile::remove(folder.filePath("libndi.so.6"));
            QVERIFY(QFile::copy(runtime, folder.filePath("libndi.so.6")));
        }
        QVERIFY(user.clickAt(send));
        QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 20000));
        QVERIFY(receiver.receiveFrame(20000));
        user.program().terminate();
        QVERIFY(user.waitForExit(30000));
        QCOMPARE(user.program().exitCode(), 0);
    }

    void cleanupTestCase() { tray.stop(); }

private:
    static QByteArray readRuntime()
    {
        QFile file(runtime);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    TrayHost tray;
};

QTEST_MAIN(TestAcceptanceNoRuntime)
#include "tst_acceptance_noruntime.moc"
