// The capture engine's queue, lock and life cycle, driven by a fake screen copy.
#include "FakeScreenCopy.h"
#include "ProcessCpu.h"
#include "XCaptureThread.h"

#include <QElapsedTimer>
#include <QtTest>

#include <thread>

namespace {

std::uint32_t stampOf(const FramePtr &f)
{
    return FakeScreenCopy::stampOf(f->bytes.get(), f->byteCount());
}

} // namespace

class TestCaptureQueue : public QObject
{
    Q_OBJECT

    XCaptureThread &engine = XCaptureThread::instance();
    FakeScreenCopy *fake = nullptr;

    FramePtr nextFrame()
    {
        FramePtr f = engine.waitFrame(5000);
        if (!f)
            qWarning("no frame within 5 s");
        return f;
    }

private slots:
    void init()
    {
        auto copy = std::make_unique<FakeScreenCopy>();
        fake = copy.get();
        engine.setScreenCopy(std::move(copy));
    }
    void cleanup() { engine.stopCapture(); }

    // Runs first: nothing has started the process-wide engine yet.
    void stopBeforeAnyStartReleasesNothing()
    {
        QVERIFY(!engine.popFrame());
        QElapsedTimer t;
        t.start();
        engine.stopCapture();
        engine.stopCapture();
        QVERIFY(t.elapsed() < 1000);
        QCOMPARE(fake->endCount(), 0);
        QCOMPARE(fake->copyCount(), 0);
        QVERIFY(!engine.popFrame());
        QVERIFY(!engine.isRunning());
    }

    void stopTwiceAfterRunReleasesOnce()
    {
        engine.startCapture(8, 4, 0, 0);
        QTRY_COMPARE(fake->copyCount(), 3);
        engine.stopCapture();
        engine.stopCapture();
        QCOMPARE(fake->endCount(), 1);
        QVERIFY(!engine.isRunning());
        QVERIFY(!engine.popFrame());
    }

    // The queue is full at three and the capture thread then sleeps: no fourth copy and
    // next to no CPU while nobody takes a frame.
    void fullQueueHoldsThreeAndSleeps()
    {
        engine.startCapture(64, 32, 10, 20);
        QTRY_COMPARE(fake->copyCount(), 3);
        const double cpuBefore = processCpuMs();
        QTest::qSleep(300);
        const double cpuSpent = processCpuMs() - cpuBefore;
        QCOMPARE(fake->copyCount(), 3);
        // A loop turning on the mutex would take most of the 300 ms.
        QVERIFY2(cpuSpent < 60, qPrintable(QString("%1 ms CPU in 300 ms").arg(cpuSpent)));

        // A place freed is refilled at once, and the bound holds again.
        FramePtr first = engine.popFrame();
        QVERIFY(first);
        QTRY_COMPARE(fake->copyCount(), 4);
        QTest::qSleep(50);
        QCOMPARE(fake->copyCount(), 4);
        QCOMPARE(first->width, 64);
        QCOMPARE(first->height, 32);
        QCOMPARE(first->byteCount(), 64 * 32 * 4);
        QVERIFY((fake->begins() == std::vector<FakeScreenCopy::Rect>{{64, 32, 10, 20}}));
    }

    // A slow consumer gets every frame, oldest first, and never finds more than three
    // captured ahead of it.
    void slowConsumerGetsFramesInCaptureOrder()
    {
        engine.startCapture(32, 16, 0, 0);
        for (int n = 1; n <= 12; ++n) {
            QTest::qSleep(15);
            QVERIFY(fake->copyCount() <= (n - 1) + 3);
            FramePtr f = nextFrame();
            QVERIFY(f);
            QCOMPARE(FakeScreenCopy::seqOf(stampOf(f)), n);
            QVERIFY(FakeScreenCopy::isUniform(f->bytes.get(), f->byteCount()));
        }
    }

    void fastConsumerGetsFramesInCaptureOrder()
    {
        fake->setCopyDelayMs(2);
        engine.startCapture(16, 16, 0, 0);
        for (int n = 1; n <= 50; ++n) {
            FramePtr f = nextFrame();
            QVERIFY(f);
            QCOMPARE(FakeScreenCopy::seqOf(stampOf(f)), n);
        }
    }

    // Once startCapture() returns, only frames of the new rectangle come out.
    void restartWithNewRectangle()
    {
        engine.startCapture(64, 32, 0, 0);
        QTRY_COMPARE(fake->copyCount(), 3);
        engine.startCapture(16, 8, -10, -5);
        QCOMPARE(fake->endCount(), 1);
        for (int n = 1; n <= 10; ++n) {
            FramePtr f = nextFrame();
            QVERIFY(f);
            QCOMPARE(f->width, 16);
            QCOMPARE(f->height, 8);
            QCOMPARE(FakeScreenCopy::runOf(stampOf(f)), 2);
            QCOMPARE(FakeScreenCopy::seqOf(stampOf(f)), n);
            QVERIFY(FakeScreenCopy::isUniform(f->bytes.get(), f->byteCount()));
        }
        const auto begins = fake->begins();
        QCOMPARE(begins.size(), std::size_t(2));
        QVERIFY(begins[1] == (FakeScreenCopy::Rect{16, 8, -10, -5}));
    }

    void emptyRectangles_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("zero width") << 0 << 1080;
        QTest::newRow("zero height") << 1920 << 0;
        QTest::newRow("both zero") << 0 << 0;
        QTest::newRow("negative width") << -4 << 10;
        QTest::newRow("beyond an int of bytes") << 70000 << 70000;
    }
    void emptyRectangles()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        engine.startCapture(width, height, 0, 0);
        for (int n = 0; n < 5; ++n) {
            FramePtr f = nextFrame();
            QVERIFY(f);
            QCOMPARE(f->byteCount(), 0);
        }
        engine.stopCapture();
        QVERIFY(!engine.popFrame());
    }

    // A stop during a (slow) copy waits for it, empties the queue, and nothing follows.
    void nothingAppendedAfterStop()
    {
        fake->setCopyDelayMs(40);
        engine.startCapture(8, 8, 0, 0);
        QTRY_VERIFY(fake->copyCount() >= 1);
        QTest::qSleep(10); // most likely in the middle of the second copy
        engine.stopCapture();
        const int copiesAtStop = fake->copyCount();
        QVERIFY(!engine.isRunning());
        QVERIFY(!engine.popFrame());
        QTest::qSleep(100);
        QVERIFY(!engine.popFrame());
        QCOMPARE(fake->copyCount(), copiesAtStop);
        QCOMPARE(fake->copiesOutsideRun(), 0);
        QCOMPARE(fake->endCount(), 1);
    }

    void waitFrameWakesForFrameAndForStop()
    {
        fake->setCopyDelayMs(50);
        engine.startCapture(4, 4, 0, 0);
        QVERIFY(engine.waitFrame(5000));

        // A consumer waiting on an empty queue is released by a stop, not by its timeout.
        engine.stopCapture();
        QElapsedTimer t;
        t.start();
        FramePtr got;
        std::thread consumer([&] { got = engine.waitFrame(60000); });
        QTest::qSleep(100);
        engine.stopCapture();
        consumer.join();
        QVERIFY(!got);
        QVERIFY2(t.elapsed() < 30000, "waitFrame slept through the stop");

        // On an idle engine with nothing to wake it, it waits out its timeout and no more.
        t.restart();
        QVERIFY(!engine.waitFrame(50));
        QVERIFY(t.elapsed() >= 45);
    }
};

QTEST_GUILESS_MAIN(TestCaptureQueue)
#include "tst_capture_queue.moc"
