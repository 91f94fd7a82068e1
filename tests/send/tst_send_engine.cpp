// The send engine on a fake NDI table paced like clocked video, fed by the real capture engine
// with a fake screen copy. The frame counter is process-wide and never reset, so the test
// functions run in order and each one starts where the previous one left the count.
#include "ExitSignal.h"
#include "FakeNdi.h"
#include "FakeScreenCopy.h"
#include "NdiRuntime.h"
#include "ProcessCpu.h"
#include "SendThread.h"
#include "XCaptureThread.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>
#include <limits>
#include <mutex>
#include <thread>

namespace {

struct Report
{
    float fps;
    std::int64_t countBefore; // sentFrameCount when the report was made
    int runFrame;             // sends of this run so far (the fake's count)
};

// The rate the engine must report for `frames` frames at the fake's virtual step.
float expectedFps(int frames)
{
    const std::int64_t ns = std::int64_t(frames) * 33370000;
    return 10.0f / (static_cast<float>(ns) / 1.0e9f);
}

} // namespace

class TestSendEngine : public QObject
{
    Q_OBJECT

    FakeNdi &ndi = FakeNdi::instance();
    FakeScreenCopy *copy = nullptr;
    SendThread *engine = nullptr;
    std::mutex reportMutex;
    std::vector<Report> reports;

    void watch(SendThread *e)
    {
        // Direct: runs on the send thread, where sentFrameCount may be read.
        connect(
            e, &SendThread::sendCurFPS, this,
            [this](float fps) {
                std::lock_guard<std::mutex> lock(reportMutex);
                reports.push_back({fps, sentFrameCount, ndi.videoCount()});
            },
            Qt::DirectConnection);
    }
    std::vector<Report> takeReports()
    {
        std::lock_guard<std::mutex> lock(reportMutex);
        return std::exchange(reports, {});
    }

    // Stops the engine while the fake holds the send of one frame, so that the run ends at an
    // exact count: the hold is released only once the stop has reached the capture engine,
    // that is after the running flag was cleared.
    void stopWhileHeld(SendThread *e)
    {
        const int endsBefore = copy->endCount();
        std::thread releaser([&] {
            while (copy->endCount() == endsBefore)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            ndi.releaseHold();
        });
        e->stopSend();
        releaser.join();
    }

    static void checkConstantFields(const FakeNdi::Video &v, int w, int h)
    {
        QCOMPARE(v.instance, FakeNdi::senderHandle());
        QCOMPARE(v.xres, w);
        QCOMPARE(v.yres, h);
        QCOMPARE(v.fourCC, NDIlib_FourCC_type_BGRX);
        QCOMPARE(v.frameRateN, 30000);
        QCOMPARE(v.frameRateD, 1001);
        QCOMPARE(v.pictureAspectRatio, 0.0f);
        QCOMPARE(v.frameFormat, NDIlib_frame_format_type_progressive);
        QCOMPARE(v.timecode, std::numeric_limits<std::int64_t>::max());
        QVERIFY(v.data != nullptr);
        QCOMPARE(v.lineStride, 0);
        QVERIFY(v.metadata == nullptr);
        QCOMPARE(v.timestamp, std::int64_t(0));
        // The whole captured frame reached the send buffer: one stamp in every pixel.
        QVERIFY(v.uniform);
    }

private slots:
    void initTestCase()
    {
        NdiRuntime::install(ndi.api());
        SendThread::setClock(&FakeNdi::virtualClockNs);
        auto fake = std::make_unique<FakeScreenCopy>();
        copy = fake.get();
        XCaptureThread::instance().setScreenCopy(std::move(fake));
        engine = new SendThread(this);
        watch(engine);
    }

    void cleanupTestCase()
    {
        delete engine;
        SendThread::setClock(nullptr);
        NdiRuntime::install(nullptr);
    }

    void stopBeforeAnyStartReturnsAtOnce()
    {
        QElapsedTimer t;
        t.start();
        engine->stopSend();
        QVERIFY2(t.elapsed() < 1000, "stopSend() of an idle engine must not wait");
        QVERIFY(ndi.calls().empty());
    }

    void initCreatesOneClockedSenderNamedNdi()
    {
        QVERIFY(engine->initNDI());
        QCOMPARE(ndi.calls(), (std::vector<std::string>{"initialize", "send_create"}));
        const auto creates = ndi.creates();
        QCOMPARE(creates.size(), std::size_t(1));
        QVERIFY(creates[0].hasName);
        QCOMPARE(creates[0].name, std::string("NDI"));
        QVERIFY(!creates[0].hasGroups);
        QVERIFY(creates[0].clockVideo);
        QVERIFY(creates[0].clockAudio);
    }

    // One run of 37 frames: every field of every frame, frames in capture order, and the
    // rate reports with the 11th, 21st and 31st frame of the process. The stop hands one more
    // frame, black and uncounted, so the sender keeps no picture of the screen.
    void firstRunSendsEveryFrameAndReportsFromThe11th()
    {
        ndi.reset();
        ndi.holdAtVideo(37);
        engine->startSend(64, 48, 10, 20);
        QVERIFY(ndi.waitUntilHeld(20000));
        stopWhileHeld(engine);

        QCOMPARE(sentFrameCount, std::int64_t(37));
        QVERIFY(!XCaptureThread::instance().isRunning());
        const auto videos = ndi.videos();
        QCOMPARE(videos.size(), std::size_t(38));
        for (std::size_t i = 0; i < videos.size(); ++i) {
            checkConstantFields(videos[i], 64, 48);
            QCOMPARE(videos[i].data, videos[0].data); // one send buffer for the run
            if (i < 37)
                QCOMPARE(FakeScreenCopy::seqOf(videos[i].firstPixel), int(i) + 1);
        }
        QCOMPARE(videos.back().firstPixel, 0u);
        for (const auto &c : ndi.calls())
            QCOMPARE(c, std::string("send_send_video_v2"));
        QCOMPARE(copy->begins().back(), (FakeScreenCopy::Rect{64, 48, 10, 20}));

        const auto r = takeReports();
        QCOMPARE(r.size(), std::size_t(3));
        QCOMPARE(r[0].countBefore, std::int64_t(10));
        QCOMPARE(r[1].countBefore, std::int64_t(20));
        QCOMPARE(r[2].countBefore, std::int64_t(30));
        // The first covers the run from its start: 11 frames.
        QCOMPARE(r[0].fps, expectedFps(11));
        // Later ones cover ten frames: 10 / 0.3337 s.
        QCOMPARE(r[1].fps, expectedFps(10));
        QCOMPARE(r[2].fps, expectedFps(10));
        QVERIFY(qAbs(r[1].fps - 29.967f) < 0.001f);
    }

    // After the stop at 37 the next report comes with the new run's 4th frame (count 40) and
    // covers only the new run; the frames follow the new rectangle.
    void nextRunReportsWithItsFourthFrameAndFollowsTheNewSize()
    {
        ndi.reset();
        ndi.holdAtVideo(5);
        engine->startSend(32, 16, -32, 0);
        QVERIFY(ndi.waitUntilHeld(20000));
        stopWhileHeld(engine);

        QCOMPARE(sentFrameCount, std::int64_t(42));
        auto videos = ndi.videos();
        QCOMPARE(videos.size(), std::size_t(6));
        QCOMPARE(videos.back().firstPixel, 0u);
        videos.pop_back();
        const int run = FakeScreenCopy::runOf(videos[0].firstPixel);
        for (const auto &v : videos) {
            checkConstantFields(v, 32, 16);
            QCOMPARE(FakeScreenCopy::runOf(v.firstPixel), run); // nothing left from run 1
        }
        QCOMPARE(copy->begins().back(), (FakeScreenCopy::Rect{32, 16, -32, 0}));

        const auto r = takeReports();
        QCOMPARE(r.size(), std::size_t(1));
        QCOMPARE(r[0].countBefore, std::int64_t(40));
        QCOMPARE(r[0].runFrame, 4);
        QCOMPARE(r[0].fps, expectedFps(4));
    }

    // With the queue empty (the capture engine stopped under a running send thread) the loop
    // sends, counts and reports nothing, and sleeps rather than spins.
    void emptyQueueChangesNothingAndCostsNoCpu()
    {
        ndi.reset();
        const std::int64_t countBefore = sentFrameCount;
        engine->startSend(16, 16, 0, 0);
        QVERIFY(ndi.waitForVideos(2, 20000));
        XCaptureThread::instance().stopCapture();
        QTest::qWait(100); // let a send in flight finish
        const int sends = ndi.videoCount();
        takeReports();

        const double cpu0 = processCpuMs();
        QTest::qWait(500);
        const double cpu = processCpuMs() - cpu0;
        QCOMPARE(ndi.videoCount(), sends);
        QVERIFY(takeReports().empty());
        engine->stopSend();
        QCOMPARE(sentFrameCount, countBefore + sends);
        QVERIFY2(cpu < 150, qPrintable(QString("%1 ms CPU in 500 ms idle").arg(cpu)));
    }

    void destroyingWhileSendingEndsBothThreadsFirst()
    {
        ndi.reset();
        auto *second = new SendThread(nullptr);
        QVERIFY(second->initNDI());
        second->startSend(48, 32, 0, 0);
        QVERIFY(ndi.waitForVideos(3, 20000));
        // A QThread destroyed while running aborts the process; a send after the buffer was
        // released shows up under the address sanitizer.
        delete second;
        QVERIFY(!XCaptureThread::instance().isRunning());
        const int sends = ndi.videoCount();
        QTest::qWait(200);
        QCOMPARE(ndi.videoCount(), sends);
    }

    // Runs last: the flag is never cleared. SIGTERM reaches the GUI thread as a Qt signal; no
    // picture is sent after it, in this run or a later one, and the loop sleeps meanwhile. The
    // stop still hands over the black frame, or receivers would keep the last picture.
    void terminateSignalEndsSendingForGood()
    {
        ndi.reset();
        takeReports();
        engine->startSend(16, 16, 0, 0);
        QVERIFY(ndi.waitForVideos(2, 20000));

        QThread *raisedOn = nullptr;
        QObject receiver; // the connection ends with this function, before raisedOn does
        connect(ExitSignal::instance(), &ExitSignal::raised, &receiver,
                [&] { raisedOn = QThread::currentThread(); });
        QSignalSpy spy(ExitSignal::instance(), &ExitSignal::raised);
        std::raise(SIGTERM);
        QVERIFY(exitRequested);
        QVERIFY(spy.wait(5000));
        QCOMPARE(raisedOn, QThread::currentThread());

        QTest::qWait(100); // a send already under way when the signal came may finish
        const int sends = ndi.videoCount();
        const double cpu0 = processCpuMs();
        QTest::qWait(500);
        const double cpu = processCpuMs() - cpu0;
        QCOMPARE(ndi.videoCount(), sends);
        QVERIFY2(cpu < 150, qPrintable(QString("%1 ms CPU in 500 ms").arg(cpu)));

        QElapsedTimer t;
        t.start();
        engine->stopSend();
        QVERIFY(t.elapsed() < 2000);
        QCOMPARE(ndi.videoCount(), sends + 1);
        QCOMPARE(ndi.videos().back().firstPixel, 0u);

        engine->startSend(16, 16, 0, 0);
        QTest::qWait(300);
        engine->stopSend();
        QCOMPARE(ndi.videoCount(), sends + 1);
        QVERIFY(takeReports().empty());
    }
};

QTEST_GUILESS_MAIN(TestSendEngine)
#include "tst_send_engine.moc"
