// The Wayland backend's parts that need no desktop: which session gets it from the factory, how
// a stream's picture in each layout PipeWire may give becomes BGRX, and the engines with a copy
// fed by a stream (asleep before its first picture, then frames of the stream's size).
#include "BgrxConversion.h"
#include "CursorMode.h"
#include "DesktopSession.h"
#include "FakeNdi.h"
#include "NdiRuntime.h"
#include "PortalScreenCopy.h"
#include "SendThread.h"
#include "X11ScreenCopy.h"
#include "XCaptureThread.h"

#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

// A stream: nothing until give(), then pictures of the given size, every byte 0x5a.
class StreamCopy : public ScreenCopy
{
public:
    bool begin(int, int, int, int) override { return true; }
    bool frameReady(int &w, int &h) override
    {
        ++asked;
        std::lock_guard<std::mutex> lock(mutex);
        w = width;
        h = height;
        return width > 0;
    }
    void setWakeUp(std::function<void()> w) override { wake = std::move(w); }
    bool copy(unsigned char *buffer) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::memset(buffer, 0x5a, std::size_t(width) * height * 4);
        return true;
    }
    void end() override {}
    void give(int w, int h)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            width = w;
            height = h;
        }
        wake();
    }
    std::atomic<int> asked{0};

private:
    std::mutex mutex;
    int width = 0, height = 0;
    std::function<void()> wake;
};

} // namespace

class TestPortalCopy : public QObject
{
    Q_OBJECT

private slots:
    void backendFollowsTheSession_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay"); // "-" for unset
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("X11 session") << QByteArray("-") << QByteArray("x11") << false;
        QTest::newRow("display set empty") << QByteArray("") << QByteArray("tty") << false;
        QTest::newRow("Wayland display") << QByteArray("wayland-0") << QByteArray("-") << true;
        QTest::newRow("session type only") << QByteArray("-") << QByteArray("wayland") << true;
    }
    void backendFollowsTheSession()
    {
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QFETCH(bool, wayland);
        for (auto [name, value] : {std::pair{"WAYLAND_DISPLAY", waylandDisplay},
                                   std::pair{"XDG_SESSION_TYPE", sessionType}}) {
            if (value == "-")
                qunsetenv(name);
            else
                qputenv(name, value);
        }
        const std::unique_ptr<ScreenCopy> copy = createPlatformScreenCopy();
        QCOMPARE(dynamic_cast<PortalScreenCopy *>(copy.get()) != nullptr, wayland);
        QCOMPARE(dynamic_cast<X11ScreenCopy *>(copy.get()) != nullptr, !wayland);
    }

    void pictureBecomesBgrx_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<QByteArray>("pixel"); // the frame's pixel from the bytes 1 2 3 4
        QTest::newRow("BGRx") << int(PixelOrder::BGRx) << QByteArray("\x01\x02\x03\x04", 4);
        QTest::newRow("BGRA") << int(PixelOrder::BGRA) << QByteArray("\x01\x02\x03\x04", 4);
        QTest::newRow("RGBx") << int(PixelOrder::RGBx) << QByteArray("\x03\x02\x01\x04", 4);
        QTest::newRow("RGBA") << int(PixelOrder::RGBA) << QByteArray("\x03\x02\x01\x04", 4);
    }
    // A 1 x 2 picture with rows 8 bytes apart (padding 0xee) into a 2 x 2 frame: the picture
    // in the left column, black beside it.
    void pictureBecomesBgrx()
    {
        QFETCH(int, order);
        QFETCH(QByteArray, pixel);
        const unsigned char src[12] = {1, 2, 3, 4, 0xee, 0xee, 0xee, 0xee, 1, 2, 3, 4};
        const PictureView view{src, 8, 1, 2, static_cast<PixelOrder>(order)};
        unsigned char frame[2 * 2 * 4];
        std::memset(frame, 0x77, sizeof frame);
        copyToBgrx(view, frame, 2, 2);
        const QByteArray black(4, '\0');
        for (int i = 0; i < 4; ++i)
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame + 4 * i), 4),
                     i % 2 ? black : pixel);
    }

    // The portal's cursor modes as bits: Hidden 1, Embedded 2, Metadata 4 (sway offers 3,
    // GNOME and KDE 7). Never one that is not offered.
    void cursorModeLeavesThePointerOut_data()
    {
        QTest::addColumn<uint>("available");
        QTest::addColumn<uint>("asked");
        QTest::newRow("all") << 7u << 1u;
        QTest::newRow("hidden, embedded") << 3u << 1u;
        QTest::newRow("embedded, metadata") << 6u << 4u;
        QTest::newRow("embedded only") << 2u << 2u;
        QTest::newRow("none said") << 0u << 0u;
    }
    void cursorModeLeavesThePointerOut()
    {
        QFETCH(uint, available);
        QFETCH(uint, asked);
        QCOMPARE(cursorModeFor(available), asked);
    }

    // Before the first picture the capture sleeps (asked once or twice, not again and again)
    // and nothing is sent; then the receiver gets the stream's size, following its changes.
    void enginesWaitForTheStreamAndFollowItsSize()
    {
        auto owned = std::make_unique<StreamCopy>();
        StreamCopy *stream = owned.get();
        XCaptureThread::instance().setScreenCopy(std::move(owned));
        FakeNdi &ndi = FakeNdi::instance();
        ndi.reset();
        NdiRuntime::install(ndi.api());
        {
            SendThread engine(nullptr);
            QVERIFY(engine.initNDI());
            engine.startSend(64, 32, 0, 0);
            QTest::qWait(300);
            QCOMPARE(ndi.videoCount(), 0);
            QVERIFY2(stream->asked <= 2, qPrintable(QString::number(stream->asked)));

            stream->give(40, 20);
            QVERIFY(ndi.waitForVideos(2, 20000));
            stream->give(20, 10);
            QVERIFY(ndi.waitForVideos(ndi.videoCount() + 5, 20000));
            engine.stopSend();
            const auto videos = ndi.videos();
            QCOMPARE(QSize(videos.front().xres, videos.front().yres), QSize(40, 20));
            // The stop's black frame comes last; the picture before it has the new size.
            const auto &picture = videos[videos.size() - 2];
            QCOMPARE(QSize(picture.xres, picture.yres), QSize(20, 10));
            QCOMPARE(picture.firstPixel, 0x5a5a5a5au);
        }
        NdiRuntime::install(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestPortalCopy)
#include "tst_portal_copy.moc"
