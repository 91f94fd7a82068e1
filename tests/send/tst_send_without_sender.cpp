// When initNDI() fails there is no sender: the engine must not call the runtime with a null
// handle. Frames are taken and dropped, nothing is counted and no rate is reported. Covers the
// three ways to fail: no runtime at all, initialize() false, and no sender created.
#include "FakeNdi.h"
#include "FakeScreenCopy.h"
#include "NdiRuntime.h"
#include "SendThread.h"
#include "XCaptureThread.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

using Handler = void (*)(int);

Handler handlerOf(int signal)
{
    struct sigaction current;
    sigaction(signal, nullptr, &current);
    return current.sa_handler;
}

// What the process started with (the test runner may ignore SIGINT, say).
Handler startSigint = nullptr;
Handler startSigterm = nullptr;

bool handlerInstalled(int signal)
{
    return handlerOf(signal) != (signal == SIGINT ? startSigint : startSigterm);
}

} // namespace

class TestSendWithoutSender : public QObject
{
    Q_OBJECT

    FakeNdi &ndi = FakeNdi::instance();
    FakeScreenCopy *copy = nullptr;

    // Runs a started engine for a while and checks that frames were taken but went nowhere.
    void checkFramesDropped(SendThread &engine)
    {
        QSignalSpy reports(&engine, &SendThread::sendCurFPS);
        const int copiesBefore = copy->copyCount();
        engine.startSend(64, 32, 0, 0);
        QTest::qWait(600);
        engine.stopSend();
        const int copies = copy->copyCount() - copiesBefore;
        // More copies than the queue holds: the loop took frames off it.
        QVERIFY2(copies > 6, qPrintable(QString("only %1 frames captured").arg(copies)));
        // Dropped at about the frame rate, not as fast as the screen can be copied.
        QVERIFY2(copies < 60, qPrintable(QString("%1 frames captured in 0.6 s").arg(copies)));
        QCOMPARE(sentFrameCount, std::int64_t(0));
        QCOMPARE(reports.count(), 0);
    }

private slots:
    void initTestCase()
    {
        startSigint = handlerOf(SIGINT);
        startSigterm = handlerOf(SIGTERM);
        auto fake = std::make_unique<FakeScreenCopy>();
        copy = fake.get();
        XCaptureThread::instance().setScreenCopy(std::move(fake));
    }

    // Runs first, before anything has loaded a runtime.
    void withoutRuntimeNothingIsCalled()
    {
        QTemporaryDir empty;
        qputenv("NDI_RUNTIME_DIR_V6", empty.path().toUtf8());
        qunsetenv("NDI_RUNTIME_DIR_V5");
        SendThread engine(nullptr);
        QVERIFY(!engine.initNDI());
        QVERIFY(engine.senderStatus() == SendThread::SenderStatus::NoRuntime);
        QVERIFY(NdiRuntime::api() == nullptr);
        QVERIFY(!handlerInstalled(SIGINT));
        checkFramesDropped(engine);
    }

    void initializeFailureInstallsNoHandlerAndCreatesNoSender()
    {
        ndi.reset();
        ndi.setInitializeResult(false);
        NdiRuntime::install(ndi.api());
        SendThread engine(nullptr);
        QVERIFY(!engine.initNDI());
        QVERIFY(engine.senderStatus() == SendThread::SenderStatus::InitializeFailed);
        QCOMPARE(ndi.calls(), std::vector<std::string>{"initialize"});
        QVERIFY(!handlerInstalled(SIGINT));
        QVERIFY(!handlerInstalled(SIGTERM));
        checkFramesDropped(engine);
        QCOMPARE(ndi.calls().size(), std::size_t(1));
    }

    void missingSenderSendsNothingAndReportsNothing()
    {
        ndi.reset();
        ndi.setCreateFails(true);
        NdiRuntime::install(ndi.api());
        SendThread engine(nullptr);
        QVERIFY(!engine.initNDI());
        QVERIFY(engine.senderStatus() == SendThread::SenderStatus::CreateFailed);
        QCOMPARE(ndi.calls(), (std::vector<std::string>{"initialize", "send_create"}));
        // initialize() succeeded, so the handlers are in place.
        QVERIFY(handlerInstalled(SIGINT));
        QVERIFY(handlerInstalled(SIGTERM));
        checkFramesDropped(engine);
        QCOMPARE(ndi.videoCount(), 0);
        NdiRuntime::install(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestSendWithoutSender)
#include "tst_send_without_sender.moc"
