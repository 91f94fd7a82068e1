// Whether the sender is announced: true only while org.freedesktop.Avahi is owned on the system
// bus, looked up afresh each time; false without a bus, and false for a name that is only
// activatable (Debian's activation file for it runs /bin/false).
#include "SourceDiscovery.h"

#include <QDBusConnection>
#include <QDir>
#include <QProcess>
#include <QtTest>

class TestSourceDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void followsTheBus()
    {
        const QString dir = QDir::tempPath() + "/norvane-discovery-bus";
        QVERIFY(QDir(dir).removeRecursively() && QDir().mkpath(dir + "/services"));
        const QString address = "unix:path=" + dir + "/socket";
        // Set before the first connection: the bus library reads it once.
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        QVERIFY(!sendersAreAnnounced()); // no bus at all

        QFile service(dir + "/services/org.freedesktop.Avahi.service");
        QVERIFY(service.open(QIODevice::WriteOnly));
        service.write("[D-BUS Service]\nName=org.freedesktop.Avahi\nExec=/bin/false\n");
        service.close();
        QFile config(dir + "/bus.conf");
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(
            QStringLiteral("<busconfig><type>system</type><listen>%1</listen>"
                           "<servicedir>%2/services</servicedir>"
                           "<policy context=\"default\"><allow user=\"*\"/><allow own=\"*\"/>"
                           "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/>"
                           "</policy></busconfig>\n")
                .arg(address, dir)
                .toUtf8());
        config.close();
        QProcess bus;
        bus.start("dbus-daemon", {"--nofork", "--config-file=" + config.fileName()});
        QVERIFY(QTest::qWaitFor([&] { return QFile::exists(dir + "/socket"); }, 5000));
        QVERIFY(!sendersAreAnnounced()); // only activatable

        QDBusConnection daemon = QDBusConnection::connectToBus(address, "daemon");
        QVERIFY(daemon.registerService("org.freedesktop.Avahi"));
        QVERIFY(sendersAreAnnounced());
        QVERIFY(daemon.unregisterService("org.freedesktop.Avahi"));
        QVERIFY(!sendersAreAnnounced()); // gone again

        QDBusConnection::disconnectFromBus("daemon");
        bus.terminate();
        bus.waitForFinished(5000);
    }
};

QTEST_GUILESS_MAIN(TestSourceDiscovery)
#include "tst_source_discovery.moc"
