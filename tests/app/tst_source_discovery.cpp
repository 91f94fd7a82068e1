// Whether the sender is announced: true only while org.freedesktop.Avahi is owned on the system
// bus, followed while watching; false without a bus, and false for a name that is only
// activatable (Debian's activation file for it runs /bin/false).
#include "SourceDiscovery.h"
#include "SystemBus.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

class TestSourceDiscovery : public QObject
{
    Q_OBJECT

private slots:
    void followsTheBus()
    {
        SystemBus bus(QDir::tempPath() + "/norvane-discovery-bus");
        AnnouncementWatch watch;
        QSignalSpy news(&watch, &AnnouncementWatch::announcedChanged);
        QVERIFY(!watch.start()); // no bus at all

        QVERIFY(bus.addService("org.freedesktop.Avahi", "/bin/false"));
        QVERIFY(bus.start());
        QVERIFY(!watch.start()); // only activatable

        // The daemon starts, stops and starts again while watching.
        for (const bool owned : {true, false, true}) {
            QVERIFY(owned ? bus.own("org.freedesktop.Avahi")
                          : bus.release("org.freedesktop.Avahi"));
            QTRY_COMPARE(news.size(), 1);
            QCOMPARE(news.takeFirst().at(0).toBool(), owned);
        }
        QVERIFY(watch.start());
    }
};

QTEST_GUILESS_MAIN(TestSourceDiscovery)
#include "tst_source_discovery.moc"
