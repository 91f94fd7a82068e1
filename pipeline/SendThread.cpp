#include "SendThread.h"

#include "ExitSignal.h"
#include "NdiRuntime.h"
#include "NdiSettings.h"
#include "XCaptureThread.h"

#include <QMutexLocker>

#include <chrono>
#include <climits>
#include <cstdio>
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
// The pause after a frame handed to NDI.
constexpr unsigned long pauseAfterSendMs = 10;
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
    // The loader has already said on standard error when there is no runtime.
    ndi = NdiRuntime::api();
    if (!ndi) {
        status = SenderStatus::NoRuntime;
        return false;
    }
    if (!ndi->initialize()) {
        status = SenderStatus::InitializeFailed;
        std::fprintf(stderr, "The NDI runtime could not be initialised (it needs a processor "
                             "with SSE4.2); nothing will be sent.\n");
        return false;
    }
    ExitSignal::installHandlers();

    const NDIlib_send_create_t create = NdiSettings::sender();
    sender = ndi->send_create(&create);
    if (!sender) {
        status = SenderStatus::CreateFailed;
        std::fprintf(stderr,
                     "The NDI sender \"NDI\" could not be created; most likely another program "
                     "on this machine is already sending under that name. Nothing will be "
                     "sent.\n");
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

    XCaptureThread::instance().startCapture(width, height, left, top);
    allocateSendBuffer(width, height);
    sentInRun = false;

    {
        QMutexLocker lock(&mutex);
        running = true;
    }
    start(QThread::InheritPriority);
}

void SendThread::stopSend()
{
    {
        QMutexLocker lock(&mutex);
        running = false;
        stopped.wakeAll();
    }
    {
        // Lock order: this engine's mutex, then (inside stopCapture) the capture engine's.
        QMutexLocker lock(&mutex);
        XCaptureThread::instance().stopCapture();
    }
    wait();
    std::lock_guard<std::mutex> ended(runEnded);
    if (sentInRun)
        sendBlackFrame();
    sentInRun = false;
}

void SendThread::sendBlackFrame()
{
    // After the interrupt signal nothing more is sent; the process is ending and its sender
    // with it.
    if (!sender || !sendBuffer || exitRequested)
        return;
    std::memset(sendBuffer.get(), 0, sendBufferBytes);
    ndi->send_send_video_v2(sender, &videoFrame);
}

void SendThread::pauseUntilStopped(unsigned long ms)
{
    QMutexLocker lock(&mutex);
    if (running)
        stopped.wait(&mutex, ms);
}

void SendThread::run()
{
    struct EndMark
    {
        std::mutex &m;
        ~EndMark() { std::lock_guard<std::mutex> lock(m); }
    } endMark{runEnded};

    std::int64_t windowStart = clockNs.load()();
    if (!running)
        return;
    XCaptureThread &capture = XCaptureThread::instance();
    do {
        if (exitRequested) {
            // Nothing more is sent in this run or any later one; sleep until the stop.
            while (running)
                pauseUntilStopped(ULONG_MAX);
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
