// The engines with a screen copy fed by the platform, as the Wayland portal's stream is:
// nothing to hand out before its first picture (the engines sleep, send nothing and stop at
// once), then pictures of the stream's size, which the receiver gets whatever the rectangle.
#include "FakeNdi.h"
#include "NdiRuntime.h"
#include "SendThread.h"
#include "XCaptureThread.h"

#include <QElapsedTimer>
#include <QtTest>

#include <atomic>
#include <cstring>
#include <mutex>

namespace {

class StreamCopy : public ScreenCopy
{
public:
    bool begin(int, int, int, int) override { return true; }
    bool frameReady(int &w, int &h) override
    {
        ++asked;
        std::lock_guard<std::mutex> lock(mutex);
        if (width == 0)
            return false;
        w = width;
        h = height;
        return true;
    }
    void setWakeUp(std::function<void()> w) override { wake = std::move(w); }
    bool copy(unsigned char *buffer) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        std::memset(buffer, 0x5a, std::size_t(width) * height * 4);
        return true;
    }
    void end() override {}

    // A picture of this size arrives (0 x 0: none yet).
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
    int width = 0;
    int height = 0;
    std::function<void()> wake;
};

} // namespace

class TestStreamCopy : public QObject
{
    Q_OBJECT

    XCaptureThread &capture = XCaptureThread::instance();
    StreamCopy *stream = nullptr;

private slots:
    void init()
    {
        auto copy = std::make_unique<StreamCopy>();
        stream = copy.get();
        capture.setScreenCopy(std::move(copy));
    }

    void captureSleepsUntilTheFirstPictureThenTakesItsSize()
    {
        capture.startCapture(64, 32, 0, 0);
        QVERIFY(!capture.waitFrame(300));
        // Asked once, maybe twice at the start, then asleep: not a loop asking again and again.
        QVERIFY2(stream->asked <= 2, qPrintable(QString::number(stream->asked)));

        stream->give(40, 20);
        FramePtr f = capture.waitFrame(5000);
        QVERIFY(f);
        QCOMPARE(f->width, 40);
        QCOMPARE(f->height, 20);
        QCOMPARE(f->bytes[f->byteCount() - 1], static_cast<unsigned char>(0x5a));
        capture.stopCapture();

        // A stop while the engine waits for a picture is prompt, and no frame follows it.
        stream->give(0, 0);
        capture.startCapture(64, 32, 0, 0);
        QTest::qWait(100);
        QElapsedTimer t;
        t.start();
        capture.stopCapture();
        QVERIFY(t.elapsed() < 1000);
        QVERIFY(!capture.popFrame());
    }

    void sendEngineSendsNothingBeforeThePictureThenItsSize()
    {
        FakeNdi &ndi = FakeNdi::instance();
        ndi.reset();
        NdiRuntime::install(ndi.api());
        {
            SendThread engine(nullptr);
            QVERIFY(engine.initNDI());
            engine.startSend(64, 32, 0, 0);
            QTest::qWait(300);
            QCOMPARE(ndi.videoCount(), 0);

            stream->give(40, 20);
            QVERIFY(ndi.waitForVideos(2, 20000));
            stream->give(20, 10);
            const int before = ndi.videoCount();
            QVERIFY(ndi.waitForVideos(before + 5, 20000));
            engine.stopSend();
            const auto videos = ndi.videos();
            QCOMPARE(videos.front().xres, 40);
            QCOMPARE(videos.front().yres, 20);
            QCOMPARE(videos.back().xres, 20);
            QCOMPARE(videos.back().yres, 10);
            // The last send is the black frame of the stop; the one before it is the picture.
            const auto &picture = videos[videos.size() - 2];
            QCOMPARE(picture.xres, 20);
            QVERIFY(picture.uniform);
            QCOMPARE(picture.firstPixel, 0x5a5a5a5au);
        }
        NdiRuntime::install(nullptr);
    }

    void cleanup() { capture.stopCapture(); }
};

QTEST_GUILESS_MAIN(TestStreamCopy)
#include "tst_stream_copy.moc"
