// The built program on a machine without the NDI runtime, used from outside: the window opens
// as usual, the send button changes its look when pressed, no source appears on the network,
// the rate stays "0", the program says once on stderr that the runtime is missing, and "退出"
// in the tray menu ends it with status 0.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "TrayHost.h"
#include "UserSession.h"

#include <QFileInfo>
#include <QtTest>

#include <dlfcn.h>

namespace {

const QPoint sendButtonCentre(10 + 332 + 44, 5 + 275 + 13);
const QRect sendButtonArea(10 + 332, 5 + 275, 88, 26);
const QRect rateLabelArea(10 + 232, 5 + 190, 21, 21);

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
    }

    void windowWorksAndSaysOnceWhatIsMissing()
    {
        QProcessEnvironment env = UserSession::programEnvironment();
        env.remove(QStringLiteral("NDI_RUNTIME_DIR_V6"));
        env.remove(QStringLiteral("NDI_RUNTIME_DIR_V5"));
        env.insert(QStringLiteral("LD_LIBRARY_PATH"), QString());
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), env));
        const QRect window = user.windowRect();
        const QRect button = sendButtonArea.translated(window.topLeft());
        const QRect label = rateLabelArea.translated(window.topLeft());
        const QImage idleButton = UserSession::look(button);
        const QImage idleLabel = UserSession::look(label);

        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));
        QTRY_VERIFY_WITH_TIMEOUT(UserSession::look(button) != idleButton, 30000);

        // This process has a runtime (from the test's environment) and listens: the program
        // publishes nothing, so no rate ever shows.
        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        QVERIFY(!receiver.connect(NdiReceiver::localSourceName(), 3000));
        QCOMPARE(UserSession::look(label), idleLabel);

        QVERIFY(user.quitFromTray());
        QVERIFY2(user.waitForExit(30000), "the program did not end after 退出");
        QCOMPARE(user.program().exitStatus(), QProcess::NormalExit);
        QCOMPARE(user.program().exitCode(), 0);

        const QList<QByteArray> lines = user.standardError().trimmed().split('\n');
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith("norvane: NDI runtime not found; looked for "),
                 lines.first().constData());
        QVERIFY(lines.first().contains("libndi.so.6 (system loader)"));
    }

    void cleanupTestCase() { tray.stop(); }

private:
    TrayHost tray;
};

QTEST_MAIN(TestAcceptanceNoRuntime)
#include "tst_acceptance_noruntime.moc"
