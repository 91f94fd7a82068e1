// End to end on Xvfb with the real NDI runtime: the capture and send engines publish a known
// picture painted on the root window, and a receiver on loopback checks what arrives.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "SendThread.h"
#include "XCaptureThread.h"
#include "XRoot.h"

#include <QSignalSpy>
#include <QtTest>

namespace {

constexpr int W = 320, H = 240, L = 100, T = 60;
constexpr std::uint32_t quadrant[4] = {0xe03020, 0x20c040, 0x3050e0, 0xf0f0f0};

bool near(std::uint32_t got, std::uint32_t want, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int a = int(got >> shift & 0xff), b = int(want >> shift & 0xff);
        if (qAbs(a - b) > tolerance)
            return false;
    }
    return true;
}

QString hex(std::uint32_t v)
{
    return QString::number(v, 16).rightJustified(6, '0');
}

} // namespace

class TestSendNdiEndToEnd : public QObject
{
    Q_OBJECT

    XRoot painter;

    void paint(std::uint32_t topLeft)
    {
        painter.fill(0, 0, 1920, 1080, 0x808080);
        painter.fill(L, T, W / 2, H / 2, topLeft);
        painter.fill(L + W / 2, T, W / 2, H / 2, quadrant[1]);
        painter.fill(L, T + H / 2, W / 2, H / 2, quadrant[2]);
        painter.fill(L + W / 2, T + H / 2, W / 2, H / 2, quadrant[3]);
        painter.sync();
    }

    // Checks the centre of each quadrant of the last frame, within the codec's tolerance.
    static void checkColours(const NdiReceiver::Frame &f, std::uint32_t topLeft)
    {
        const std::uint32_t want[4] = {topLeft, quadrant[1], quadrant[2], quadrant[3]};
        const int xs[4] = {W / 4, 3 * W / 4, W / 4, 3 * W / 4};
        const int ys[4] = {H / 4, H / 4, 3 * H / 4, 3 * H / 4};
        for (int i = 0; i < 4; ++i) {
            const std::uint32_t got = f.rgb(xs[i], ys[i]);
            QVERIFY2(near(got, want[i], 12), qPrintable(QString("quadrant %1: got %2, painted %3")
                                                            .arg(i)
                                                            .arg(hex(got))
                                                            .arg(hex(want[i]))));
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(painter.connected(), "no X server: run inside scripts/ns-run");
        QVERIFY2(NdiRuntime::api() != nullptr, "no NDI runtime: is NDI_RUNTIME_DIR_V6 set?");
    }

    // The real runtime comes from the folder in NDI_RUNTIME_DIR_V6, with the receiving side.
    void loaderFindsTheRuntimeWithEverythingTestsNeed()
    {
        const QByteArray dir = qgetenv("NDI_RUNTIME_DIR_V6");
        QCOMPARE(QString::fromStdString(NdiRuntime::loadedFrom()),
                 QString::fromUtf8(dir) + "/libndi.so.6");
        QVERIFY(NdiReceiver().usable());
        QVERIFY(ndiExtras() && ndiExtras()->version != nullptr);
        qInfo("runtime %s", ndiExtras()->version());
    }

    void receiverSeesThePaintedScreenUntilTheStop()
    {
        paint(quadrant[0]);
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        SendThread engine(nullptr);
        QVERIFY(engine.initNDI());
        QSignalSpy rates(&engine, &SendThread::sendCurFPS);
        engine.startSend(W, H, L, T);

        NdiReceiver receiver;
        QVERIFY(receiver.connect(NdiReceiver::localSourceName(), 30000));
        QVERIFY(receiver.receiveFrame(15000));
        // The first frames may come before the codec has settled; judge a later one.
        receiver.receiveFor(1000);
        const NdiReceiver::Frame &f = receiver.lastFrame();
        QCOMPARE(f.width, W);
        QCOMPARE(f.height, H);
        QCOMPARE(f.rateN, 30000);
        QCOMPARE(f.rateD, 1001);
        QVERIFY(f.fourCC == NDIlib_FourCC_type_BGRX || f.fourCC == NDIlib_FourCC_type_BGRA);
        checkColours(f, quadrant[0]);

        // A change on the screen reaches the receiver: the frames are live.
        paint(0x00ffff);
        receiver.receiveFor(1000);
        checkColours(receiver.lastFrame(), 0x00ffff);

        QTRY_VERIFY_WITH_TIMEOUT(rates.count() > 0, 5000);
        QVERIFY(rates.first().first().toFloat() > 0.0f);

        engine.stopSend();
        QVERIFY(!XCaptureThread::instance().isRunning());
        QVERIFY2(receiver.ended(), "frames still came after the stop");

        // The runtime serves its last frame to whoever connects after the stop: black, not
        // the last picture of the screen.
        NdiReceiver late;
        QVERIFY(late.connect(NdiReceiver::localSourceName(), 30000));
        QVERIFY(late.receiveFrame(10000));
        const NdiReceiver::Frame &b = late.lastFrame();
        for (int y = 0; y < H; y += 8)
            for (int x = 0; x < W; x += 8)
                QVERIFY2(near(b.rgb(x, y), 0, 12), qPrintable(hex(b.rgb(x, y))));
    }
};

QTEST_GUILESS_MAIN(TestSendNdiEndToEnd)
#include "tst_send_ndi_e2e.moc"
