// The Debian package where users are: a pristine Debian 12 and Debian 13 (debootstrap
// minbase, scripts/debian-rootfs) each get `apt-get install ./norvane_<version>_amd64.deb`,
// which resolves its dependencies from Debian's archive; the runtime goes where README.Debian
// says (/usr/local/lib, then ldconfig). The installed /usr/bin/norvane then runs in that system
// on this test's Xvfb (loopback only, scripts/ns-run); a click sends, and a receiver here gets
// screen-sized frames of the painted colour. The package's own tests (debian/tests) pass under
// Debian's autopkgtest in that system, before the runtime is there, and `apt-get purge norvane`
// must leave none of the package's files behind.
#include "NdiReceiver.h"
#include "UserSession.h"
#include "XRoot.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <unistd.h>

using namespace MainWindowPlaces;

namespace {

const std::uint32_t painted = 0x2f8f4f;

// Runs scripts/debian-rootfs; its output goes to the test's log.
bool rootfs(const QStringList &arguments, int timeoutMs = 600000)
{
    QProcess script;
    script.setProcessChannelMode(QProcess::MergedChannels);
    script.start(QStringLiteral(NORVANE_SOURCE "/scripts/debian-rootfs"), arguments);
    const bool ended = script.waitForFinished(timeoutMs);
    const QByteArray said = script.readAll().trimmed();
    if (!said.isEmpty())
        qInfo("%s", said.constData());
    return ended && script.exitStatus() == QProcess::NormalExit && script.exitCode() == 0;
}

// autopkgtest's chroot runner on the system, for the package installed there: given a copy of
// debian/ marked as built (debian/files), it builds nothing.
bool autopkgtest(const QString &system)
{
    QTemporaryDir scratch;
    const QString tree = scratch.path() + "/norvane/";
    const bool copied = QDir().mkpath(tree) &&
                        QProcess::execute("cp", {"-r", NORVANE_SOURCE "/debian", tree}) == 0 &&
                        QFile(tree + "debian/files").open(QIODevice::WriteOnly);
    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(QStringLiteral("autopkgtest"), {tree, "--", "chroot", system});
    const bool passed = copied && run.waitForFinished(300000) &&
                        run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0;
    // Its summary when the tests passed, everything it said when not.
    const QByteArray said = run.readAll();
    qInfo("%s",
          (passed ? said.mid(said.lastIndexOf("@@@ summary") + 12) : said).trimmed().constData());
    return passed;
}

} // namespace

class TestPackageDeb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // Only root can unpack a system with its owners and run dpkg in it.
        QFile map(QStringLiteral("/proc/self/uid_map"));
        QVERIFY(map.open(QIODevice::ReadOnly));
        if (geteuid() != 0 || !map.readAll().simplified().startsWith("0 0 "))
            QSKIP("needs root, not a user namespace's");
        QVERIFY2(QFile::exists(deb), qPrintable(deb + " is missing: scripts/package builds it"));
        QVERIFY(waitForSenderNameFree("NDI", 120000));
        XRoot root;
        QVERIFY(root.connected());
        QVERIFY(root.paintFlat(painted));
        screen = QSize(root.width(), root.height());
    }

    void installRunPurge_data()
    {
        QTest::addColumn<QString>("suite");
        QTest::newRow("Debian 12") << QStringLiteral("bookworm");
        QTest::newRow("Debian 13") << QStringLiteral("trixie");
    }

    void installRunPurge()
    {
        QFETCH(QString, suite);
        const QString dir = QStringLiteral(NORVANE_BINARY_DIR "/debian-") + suite;
        QElapsedTimer took;
        took.start();
        const auto removed = qScopeGuard([&] { rootfs({"remove", dir}); });
        QVERIFY2(rootfs({"unpack", suite, dir}),
                 "no pristine system: scripts/test fetches it (scripts/debian-rootfs fetch)");
        QVERIFY(rootfs({"install", dir, deb}));
        qInfo("unpacked and installed in %.1f s", took.elapsed() / 1000.0);
        // Its own tests, before there is a runtime.
        QVERIFY(autopkgtest(dir));

        // Where README.Debian tells users to put the runtime.
        QVERIFY(QFile::copy(QStringLiteral(NORVANE_NDI_DIR "/lib/libndi.so.6"),
                            dir + "/usr/local/lib/libndi.so.6"));
        QVERIFY(rootfs({"exec", dir, "ldconfig"}));
        QVERIFY(QDir().mkpath(dir + "/tmp/xdg"));
        QVERIFY(QFile::setPermissions(dir + "/tmp/xdg",
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));

        // Nothing of this machine reaches the program but the X server (through its abstract
        // socket, which this network namespace shares).
        UserSession user;
        QProcessEnvironment bare;
        for (const char *name : {"PATH", "HOME"})
            bare.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
        QVERIFY2(user.start(QStringLiteral(NORVANE_SOURCE "/scripts/debian-rootfs"), bare,
                            {"exec", dir, "/usr/bin/env", "-i",
                             "DISPLAY=" + qEnvironmentVariable("DISPLAY"), "HOME=/root",
                             "LANG=C.UTF-8", "XDG_RUNTIME_DIR=/tmp/xdg", "/usr/bin/norvane"}),
                 user.standardError().constData());
        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        QVERIFY2(receiver.connect(), user.standardError().constData());
        const QString wrong = paintedScreenArrives(receiver, screen, user.windowRect(), painted);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong));

        user.program().terminate();
        QVERIFY(user.waitForExit(10000));
        QCOMPARE(user.program().exitStatus(), QProcess::NormalExit);
        QCOMPARE(user.program().exitCode(), 0);

        QVERIFY(rootfs({"purge", dir, "norvane"}));
        qInfo("Debian %s: %.1f s in all", qPrintable(suite), took.elapsed() / 1000.0);
    }

private:
    const QString deb = QStringLiteral(NORVANE_DEB);
    QSize screen;
};

QTEST_MAIN(TestPackageDeb)
#include "tst_package_deb.moc"
