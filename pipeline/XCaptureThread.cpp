#include "XCaptureThread.h"

#include "Report.h"

#include <chrono>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace {
// How long the capture waits before it tries again after a frame buffer could not be had.
constexpr int allocationRetryMs = 50;

void reportUnsendable(int width, int height)
{
    Report::once("unsendable-size", "Frames of " + std::to_string(width) + "x" +
                                        std::to_string(height) +
                                        " pixels cannot be sent over NDI (a side under 2 "
                                        "pixels, or more than 2 GiB a frame); receivers get no "
                                        "picture.");
}
} // namespace

XCaptureThread &XCaptureThread::instance()
{
    // Made on first use, when sending first starts or stops, so a program that never sends never
    // opens the platform's screen; the language makes the first use safe from two threads.
    static XCaptureThread engine;
    return engine;
}

XCaptureThread::XCaptureThread() : QThread(nullptr)
{
    std::lock_guard<std::mutex> lock(mutex);
    adoptScreenCopy(createPlatformScreenCopy());
}

void XCaptureThread::adoptScreenCopy(std::unique_ptr<ScreenCopy> copy)
{
    screenCopy = std::move(copy);
    if (screenCopy) {
        screenCopy->setWakeUp([this] {
            bool changed = false;
            CopyFailure news = CopyFailure::None;
            {
                std::lock_guard<std::mutex> lock(mutex);
                copyMayHaveFrame = true;
                captureWake.notify_all();
                changed = failureChangedLocked(news);
            }
            if (changed)
                tellFailureListener(news);
        });
    }
}

XCaptureThread::~XCaptureThread()
{
    // The send engine stops the capture before exit; should it not have, a QThread destroyed
    // while running would abort the process.
    stopCapture();
}

void XCaptureThread::startCapture(int width, int height, int left, int top)
{
    stopCapture();
    bool failed = false;
    CopyFailure news = CopyFailure::None;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopFlag = false;
        setRectangleLocked(width, height, left, top);
        if (screenCopy) {
            // A failed preparation leaves the buffers as allocated; the copy's failure() says
            // why.
            screenCopy->begin(this->width, this->height, left, top);
            copyPrepared = true;
        }
        failed = failureChangedLocked(news);
    }
    if (failed)
        tellFailureListener(news);
    start(QThread::InheritPriority);
}

void XCaptureThread::moveCapture(int width, int height, int left, int top)
{
    bool failed = false;
    CopyFailure news = CopyFailure::None;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!copyPrepared)
            return;
        setRectangleLocked(width, height, left, top);
        unusableSize = false;
        screenCopy->moveTo(this->width, this->height, left, top);
        failed = failureChangedLocked(news);
    }
    if (failed)
        tellFailureListener(news);
}

void XCaptureThread::setRectangleLocked(int width, int height, int left, int top)
{
    // A negative or unusable size is treated as empty, as a zero one is: it must not become a
    // negative or overflowing allocation.
    const bool usable = frameByteCount(width, height) > 0;
    rectangleUnsendable = unsendableSize(width, height);
    if (rectangleUnsendable)
        reportUnsendable(width, height);
    this->width = usable ? width : 0;
    this->height = usable ? height : 0;
    this->left = left;
    this->top = top;
}

void XCaptureThread::stopCapture()
{
    bool endDue = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopFlag = true;
        frames.clear();
        endDue = copyPrepared;
        copyPrepared = false;
        unusableSize = false;
        // The next run's failure is news again, even if it is the same.
        heardFailure = CopyFailure::None;
        ++stopCount;
        captureWake.notify_all();
        frameAdded.notify_all();
    }
    // The mutex is released before the wait, so the capture thread can take it, find the
    // stop flag set and end.
    wait();
    // Outside the mutex, with no copy running: a copy fed by the platform joins its own
    // threads here, which may be waking the engine meanwhile.
    if (endDue)
        screenCopy->end();
}

void XCaptureThread::FrameRing::push(FrameBuffer frame)
{
    places[(first + count) % places.size()] = std::move(frame);
    ++count;
}

FrameBuffer XCaptureThread::FrameRing::pop()
{
    FrameBuffer frame = std::move(places[first]);
    first = (first + 1) % places.size();
    --count;
    return frame;
}

void XCaptureThread::FrameRing::clear()
{
    while (count > 0)
        pop();
}

FramePtr XCaptureThread::takeFront()
{
    auto frame = std::make_unique<FrameBuffer>(frames.pop());
    captureWake.notify_one();
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
    std::unique_ptr<ScreenCopy> old;
    {
        std::lock_guard<std::mutex> lock(mutex);
        old = std::move(screenCopy);
        adoptScreenCopy(std::move(copy));
    }
    // Destroyed outside the mutex, for the same reason as end().
    old.reset();
}

CopyFailure XCaptureThread::copyFailure()
{
    std::lock_guard<std::mutex> lock(mutex);
    return failureLocked();
}

void XCaptureThread::setFailureListener(FailureListener listener)
{
    std::lock_guard<std::mutex> lock(mutex);
    failureListener = std::move(listener);
}

CopyFailure XCaptureThread::failureLocked() const
{
    if (!copyPrepared)
        return CopyFailure::None;
    if (unusableSize)
        return CopyFailure::UnusableSize;
    return screenCopy ? screenCopy->failure() : CopyFailure::None;
}

bool XCaptureThread::failureChangedLocked(CopyFailure &news)
{
    const CopyFailure now = failureLocked();
    if (now == heardFailure)
        return false;
    heardFailure = now;
    news = now;
    return now != CopyFailure::None;
}

void XCaptureThread::tellFailureListener(CopyFailure failure)
{
    FailureListener listener;
    {
        std::lock_guard<std::mutex> lock(mutex);
        listener = failureListener;
    }
    if (listener)
        listener(failure);
}

void XCaptureThread::run()
{
    if (stopFlag)
        return;
    // Told outside the mutex, at the top of the next turn.
    bool failureNews = false;
    CopyFailure news = CopyFailure::None;
    for (;;) {
        if (failureNews) {
            failureNews = false;
            tellFailureListener(news);
        }
        {
            std::unique_lock<std::mutex> lock(mutex);
            // No copy once stopCapture() has released the copy's resources.
            if (stopFlag)
                return;
            int frameWidth = width;
            int frameHeight = height;
            copyMayHaveFrame = false;
            if (frames.size() >= static_cast<std::size_t>(capacity)) {
                // Full: sleep until popFrame()/waitFrame() frees a place or a stop arrives,
                // then capture in the very next turn.
                captureWake.wait(lock, [&] {
                    return stopFlag || frames.size() < static_cast<std::size_t>(capacity);
                });
                continue;
            }
            if (screenCopy && !screenCopy->frameReady(frameWidth, frameHeight)) {
                // Nothing to hand out (a stream before its first picture, or refused): sleep
                // until the copy has a frame or a stop arrives.
                captureWake.wait(lock, [&] { return stopFlag || copyMayHaveFrame; });
                continue;
            }
            // Found at the first frame, and whenever a stream's pictures change size.
            const bool unsendable = rectangleUnsendable || unsendableSize(frameWidth, frameHeight);
            if (unsendable != unusableSize) {
                unusableSize = unsendable;
                if (unusableSize && !rectangleUnsendable)
                    reportUnsendable(frameWidth, frameHeight);
                failureNews = failureChangedLocked(news);
            }
            // The mutex is held for the whole copy, so a popFrame() or stopCapture() arriving
            // meanwhile waits until the copy is done.
            const int bytes = frameByteCount(frameWidth, frameHeight);
            FrameBuffer frame;
            frame.width = bytes > 0 ? frameWidth : 0;
            frame.height = bytes > 0 ? frameHeight : 0;
            frame.bytes.reset(new (std::nothrow) unsigned char[static_cast<std::size_t>(bytes)]);
            if (!frame.bytes) {
                // Out of memory: this frame is skipped, not the program. Try again a little
                // later rather than at once; a stop still ends the wait.
                captureWake.wait_for(lock, std::chrono::milliseconds(allocationRetryMs),
                                     [&] { return bool(stopFlag); });
                continue;
            }
            // The buffer is fresh heap memory: a failed copy must not hand on whatever it held
            // before. Cleared only then, so a good copy costs no extra pass.
            if (!screenCopy || !screenCopy->copy(frame.bytes.get()))
                std::memset(frame.bytes.get(), 0, static_cast<std::size_t>(bytes));
            // A copy made on demand finds its own failures (a lost display, a refused blit),
            // and recovers from them, in the copy itself.
            failureNews = failureChangedLocked(news) || failureNews;
            frames.push(std::move(frame));
            frameAdded.notify_one();
        }
        if (stopFlag)
            return;
    }
}
