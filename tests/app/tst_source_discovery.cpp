// Whether the sender is announced: true only while org.freedesktop.Avahi is owned on the system
// bus, looked up afresh each time; false without a bus, and false for a name that is only
// activatable (Debian's activation file for it runs /bin/false).
#include "SourceDiscovery.h"
#include "SystemBus.h"

#include <QDir>
#include <QtTest>

class TestSourceDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void followsTheBus()
    {
        SystemBus bus(QDir::tempPath() + "/norvane-discovery-bus");
        QVERIFY(!sendersAreAnnounced()); // no bus at all

        QVERIFY(bus.addService("org.freedesktop.Avahi", "/bin/false"));
        QVERIFY(bus.start());
        QVERIFY(!sendersAreAnnounced()); // only activatable

        QVERIFY(bus.own("org.freedesktop.Avahi"));
        QVERIFY(sendersAreAnnounced());
        QVERIFY(bus.release("org.freedesktop.Avahi"));
        QVERIFY(!sendersAreAnnounced()); // gone again
    }
};

QTEST_GUILESS_MAIN(TestSourceDiscovery)
#include "tst_source_discovery.moc"
