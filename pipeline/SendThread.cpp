#include "SendThread.h"

#include "ExitSignal.h"
#include "FrameHeap.h"
#include "NdiRuntime.h"
#include "NdiSettings.h"
#include "Report.h"
#include "XCaptureThread.h"

#include <chrono>
#include <cstring>
#include <new>

std::int64_t sentFrameCount = 0;

namespace {

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::atomic<SendThread::ClockNs> clockNs{&steadyNs};

// How long the loop waits for a frame before looking at its flags again. Short, so that a
// stop is noticed quickly even if nothing wakes the wait.
constexpr unsigned long framePollMs = 30;
// A pause after each frame handed to NDI, so that even a runtime that returns at once (one that
// does not pace, or drops frames) leaves the capture thread and the rest of the machine room.
constexpr unsigned long pauseAfterSendMs = 10;
// After the interrupt signal the loop only waits for its stop; a stop wakes it at once.
constexpr unsigned long idleWaitMs = 1000;
// Without a sender, frames are dropped at about the frame rate, as a clocked sender would
// take them, rather than as fast as the screen can be copied.
constexpr unsigned long dropPeriodMs = 33;

} // namespace

void SendThread::setClock(ClockNs clock)
{
    clockNs.store(clock ? clock : &steadyNs);
}

SendThread::SendThread(QObject *parent)
    : QThread(parent), videoFrame(NdiSettings::video(0, 0, nullptr))
{
}

SendThread::~SendThread()
{
    // Both worker threads end before the send buffer goes.
    stopSend();
}

bool SendThread::initNDI()
{
    if (sender)
        return true;
    // The loader has already said on standard error when there is no runtime.
    ndi = NdiRuntime::api();
    if (!ndi) {
        status = SenderStatus::NoRuntime;
        return false;
    }
    if (!runtimeStarted) {
        if (!ndi->initialize()) {
            const bool sse42 = NdiRuntime::processorHasSse42();
            status = sse42 ? SenderStatus::InitializeFailed : SenderStatus::NoSse42;
            Report::once("ndi-initialize",
                         sse42 ? "The NDI runtime refused to start (NDIlib_initialize failed); "
                                 "nothing will be sent."
                               : "The NDI runtime needs a processor with SSE4.2, which this one "
                                 "lacks; nothing will be sent.");
            return false;
        }
        runtimeStarted = true;
        ExitSignal::installHandlers();
    }

    const NDIlib_send_create_t create = NdiSettings::sender();
    sender = ndi->send_create(&create);
    if (!sender) {
        status = SenderStatus::CreateFailed;
        Report::once("ndi-send-create",
                     "The NDI sender \"NDI\" could not be created; most likely another program "
                     "on this machine is already sending under that name. Nothing will be "
                     "sent.");
        return false;
    }
    status = SenderStatus::Created;
    return true;
}

void SendThread::startSend(int width, int height, int left, int top)
{
    // The window never starts twice, but a buffer must not be replaced under a running loop.
    if (isRunning())
        stopSend();

    keepFreedFrames(true);
    XCaptureThread &capture = XCaptureThread::instance();
    const int run = ++runs;
    capture.setFailureListener([this, run](CopyFailure failure) {
        // Heard on any thread, told on this object's; news of a run that has ended since stays
        // untold.
        QMetaObject::invokeMethod(
            this,
            [this, run, failure] {
                if (run == runs && running)
                    emit captureFailed(failure);
            },
            Qt::QueuedConnection);
    });
    capture.startCapture(width, height, left, top);
    allocateSendBuffer(width, height);

    {
        std::lock_guard<std::mutex> lock(mutex);
        running = true;
        loopActive = true;
    }
    start(QThread::InheritPriority);
}

void SendThread::moveCapture(int width, int height, int left, int top)
{
    // The send buffer follows the frames' size by itself.
    if (running)
        XCaptureThread::instance().moveCapture(width, height, left, top);
}

void SendThread::stopSend()
{
    // Before the frames still queued or being sent are freed.
    keepFreedFrames(false);
    // Lock order: this engine's mutex, then (inside stopCapture) the capture engine's. The send
    // thread takes this engine's mutex only in its pauses and at its end, never while it holds
    // the capture engine's (waitFrame() has returned by then), so neither wait below can block
    // the other.
    {
        std::lock_guard<std::mutex> lock(mutex);
        running = false;
        wake.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(mutex);
        XCaptureThread::instance().stopCapture();
    }
    // The run's end as the send thread marks it, under the mutex, so that what it wrote is seen
    // here; QThread::wait() then only joins a thread that is done.
    {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [this] { return !loopActive; });
    }
    wait();
    XCaptureThread::instance().setFailureListener(nullptr);
    returnFreedFrames();
}

void SendThread::sendBlackFrame()
{
    // Also after the interrupt signal: receivers keep the last frame they were given.
    if (!sender || !sendBuffer)
        return;
    std::memset(sendBuffer.get(), 0, sendBufferBytes);
    ndi->send_send_video_v2(sender, &videoFrame);
}

void SendThread::pauseUntilStopped(unsigned long ms)
{
    std::unique_lock<std::mutex> lock(mutex);
    wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !running; });
}

void SendThread::run()
{
    sendFrames();
    std::lock_guard<std::mutex> lock(mutex);
    loopActive = false;
    wake.notify_all();
}

void SendThread::sendFrames()
{
    std::int64_t windowStart = clockNs.load()();
    if (!running)
        return;
    XCaptureThread &capture = XCaptureThread::instance();
    bool sentInRun = false;
    do {
        if (exitRequested) {
            // Nothing more is sent in this run or any later one; sleep until the stop.
            while (running)
                pauseUntilStopped(idleWaitMs);
            break;
        }
        // Sleeps on the capture engine's condition while the queue is empty.
        FramePtr frame = capture.waitFrame(framePollMs);
        if (!frame)
            continue;
        // Receivers get the size the frames have (the stream's, where the platform decides).
        if (frame->width != videoFrame.xres || frame->height != videoFrame.yres)
            allocateSendBuffer(frame->width, frame->height);
        const std::size_t frameBytes = static_cast<std::size_t>(frame->byteCount());
        const bool sendable = sender && frameBytes == sendBufferBytes && sendBufferBytes > 0;
        if (!sendable || exitRequested) {
            // No sender (initNDI() failed), or no buffer (an empty rectangle, or the
            // allocation failed): the frame goes nowhere and is neither counted nor reported.
            // The runtime is never handed a null sender or a null picture.
            frame.reset();
            pauseUntilStopped(dropPeriodMs);
            continue;
        }
        std::memcpy(sendBuffer.get(), frame->bytes.get(), frameBytes);
        ndi->send_send_video_v2(sender, &videoFrame);
        sentInRun = true;
        if (sentFrameCount != 0 && sentFrameCount % 10 == 0) {
            const std::int64_t now = clockNs.load()();
            const float seconds = static_cast<float>(now - windowStart) / 1.0e9f;
            const float fps = 10.0f / seconds;
            windowStart = now;
            emit sendCurFPS(fps);
        }
        frame.reset();
        ++sentFrameCount;
        msleep(pauseAfterSendMs);
    } while (running);
    // The runtime keeps serving the last frame it was handed to receivers that connect later.
    if (sentInRun)
        sendBlackFrame();
}

void SendThread::allocateSendBuffer(int width, int height)
{
    videoFrame.xres = width;
    videoFrame.yres = height;
    videoFrame.FourCC = NDIlib_FourCC_type_BGRX;

    sendBuffer.reset();
    sendBufferBytes = 0;
    const int bytes = frameByteCount(width, height);
    if (bytes > 0) {
        sendBuffer.reset(new (std::nothrow) uint8_t[static_cast<std::size_t>(bytes)]);
        if (sendBuffer)
            sendBufferBytes = static_cast<std::size_t>(bytes);
    }
    videoFrame.p_data = sendBuffer.get();
}
