// The whole program in one process on Xvfb with the real NDI runtime: a real click on the
// window's send button publishes the primary screen, a receiver on loopback gets it, and the
// window shows a rate; a second click ends the stream.
#include "NdiReceiver.h"
#include "NdiRuntime.h"

#include "Norvane.h"
#include "ZImageButton.h"

#include <QLabel>
#include <QScreen>
#include <QtTest>

#include <dlfcn.h>

#include <memory>

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void publishesThePrimaryScreen()
    {
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        Norvane w;
        // The runtime is never shut down; kept mapped, its allocations at exit can be named.
        QVERIFY(!NdiRuntime::loadedFrom().empty());
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *button = w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("sendButton"));
        auto *rate = w.findChild<QLabel *>(QStringLiteral("fpsLable"));

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(isSending);

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        receiver.setKeepPixels(false);
        QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 30000));
        QVERIFY(receiver.receiveFrame(10000));
        const QSize screen = QGuiApplication::primaryScreen()->geometry().size();
        QCOMPARE(QSize(receiver.lastFrame().width, receiver.lastFrame().height), screen);
        QCOMPARE(receiver.lastFrame().rateN, 30000);
        QCOMPARE(receiver.lastFrame().rateD, 1001);

        // Frames flow, of the screen's size, and the window shows a rate report.
        const NdiReceiver::Watch seen = receiver.watch(screen.width(), screen.height(), 2000, 0);
        qInfo("received %d frames in 2 s; the window shows %s", seen.frames,
              qPrintable(rate->text()));
        QVERIFY2(seen.flowing(), qPrintable(QString::number(seen.perSecond)));
        QCOMPARE(seen.wrong, 0);
        QTRY_VERIFY_WITH_TIMEOUT(rate->text().toInt() > 0, 10000);

        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(!isSending);
        QVERIFY2(receiver.ended(), "frames still came after the stop");
        QTRY_COMPARE(rate->text(), QStringLiteral("0"));
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
