#include "XCaptureThread.h"

#include <chrono>
#include <cstring>
#include <new>
#include <utility>

namespace {
// How long the capture waits before it tries again after a frame buffer could not be had.
constexpr int allocationRetryMs = 50;
} // namespace

XCaptureThread &XCaptureThread::instance()
{
    // A function-local static: constructed by the first call, safely against concurrent first
    // calls, and destroyed at process exit.
    static XCaptureThread engine;
    return engine;
}

XCaptureThread::XCaptureThread() : QThread(nullptr), screenCopy(createPlatformScreenCopy()) {}

XCaptureThread::~XCaptureThread()
{
    // The send engine stops the capture before exit; should it not have, a QThread destroyed
    // while running would abort the process.
    stopCapture();
}

void XCaptureThread::startCapture(int width, int height, int left, int top)
{
    stopCapture();
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopFlag = false;
        // A negative or unusable size is treated as empty, as a zero one is: it must not
        // become a negative or overflowing allocation.
        const bool usable = frameByteCount(width, height) > 0;
        this->width = usable ? width : 0;
        this->height = usable ? height : 0;
        this->left = left;
        this->top = top;
        if (screenCopy) {
            // A failed preparation leaves the buffers as allocated; nothing reports it.
            screenCopy->begin(this->width, this->height, left, top);
            copyPrepared = true;
        }
        frameBytes = this->width * this->height * 4;
    }
    start(QThread::InheritPriority);
}

void XCaptureThread::stopCapture()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopFlag = true;
        while (!frames.empty())
            frames.pop_front();
        if (copyPrepared) {
            screenCopy->end();
            copyPrepared = false;
        }
        ++stopCount;
        placeFreed.notify_all();
        frameAdded.notify_all();
    }
    // The mutex is released before the wait, so the capture thread can take it, find the
    // stop flag set and end.
    wait();
}

FramePtr XCaptureThread::takeFront()
{
    FramePtr frame = std::move(frames.front());
    frames.pop_front();
    placeFreed.notify_one();
    return frame;
}

FramePtr XCaptureThread::popFrame()
{
    std::lock_guard<std::mutex> lock(mutex);
    if (frames.empty())
        return nullptr;
    return takeFront();
}

FramePtr XCaptureThread::waitFrame(unsigned long timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    const std::uint64_t stopsBefore = stopCount;
    frameAdded.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [&] { return !frames.empty() || stopCount != stopsBefore; });
    if (frames.empty())
        return nullptr;
    return takeFront();
}

void XCaptureThread::setScreenCopy(std::unique_ptr<ScreenCopy> copy)
{
    stopCapture();
    std::lock_guard<std::mutex> lock(mutex);
    screenCopy = std::move(copy);
}

void XCaptureThread::run()
{
    if (stopFlag)
        return;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            // No copy once stopCapture() has released the copy's resources.
            if (stopFlag)
                return;
            if (frames.size() < static_cast<std::size_t>(capacity)) {
                // The mutex is held for the whole copy, so a popFrame() or stopCapture()
                // arriving meanwhile waits until the copy is done.
                auto frame = std::make_unique<FrameBuffer>();
                frame->width = width;
                frame->height = height;
                frame->bytes.reset(
                    new (std::nothrow) unsigned char[static_cast<std::size_t>(frameBytes)]);
                if (!frame->bytes) {
                    // Out of memory: this frame is skipped, not the program. Try again a
                    // little later rather than at once; a stop still ends the wait.
                    placeFreed.wait_for(lock, std::chrono::milliseconds(allocationRetryMs),
                                        [&] { return bool(stopFlag); });
                    continue;
                }
                // The buffer is fresh heap memory: a failed copy must not hand on whatever it
                // held before. Cleared only then, so a good copy costs no extra pass.
                if (!screenCopy || !screenCopy->copy(frame->bytes.get()))
                    std::memset(frame->bytes.get(), 0, static_cast<std::size_t>(frameBytes));
                frames.push_back(std::move(frame));
                frameAdded.notify_one();
            } else {
                // Full: sleep until popFrame()/waitFrame() frees a place or a stop arrives,
                // then capture in the very next turn.
                placeFreed.wait(lock, [&] {
                    return stopFlag || frames.size() < static_cast<std::size_t>(capacity);
                });
            }
        }
        if (stopFlag)
            return;
    }
}
