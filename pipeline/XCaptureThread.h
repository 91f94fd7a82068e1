#pragma once

#include "ScreenCopy.h"

#include <QThread>

#include <array>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

// One captured picture: height rows top to bottom, width * 4 bytes each with no gap, every
// pixel blue, green, red and an unused fourth byte (NDI's BGRX).
struct FrameBuffer
{
    int width = 0;
    int height = 0;
    std::unique_ptr<unsigned char[]> bytes;
    int byteCount() const { return width * height * 4; }
};
using FramePtr = std::unique_ptr<FrameBuffer>;

// Bytes of one width x height frame, or 0 for a size that is empty, negative, or too large for
// the int byte count of the layout (no screen is 23,170 pixels square). The capture and send
// engines must agree on it, or every frame would be refused as the wrong size.
inline int frameByteCount(int width, int height)
{
    if (width <= 0 || height <= 0)
        return 0;
    const long long bytes = 4LL * width * height;
    return bytes <= INT_MAX ? static_cast<int>(bytes) : 0;
}

// A picture of this size that NDI cannot carry: it trims odd sizes to even ones (a side of one
// pixel to nothing), and frames past the int byte count are never made. An empty size is not
// one of these: it is a valid, if pointless, capture rectangle.
inline bool unsendableSize(int width, int height)
{
    return width > 0 && height > 0 && (width < 2 || height < 2 || !frameByteCount(width, height));
}

// The capture engine: one process-wide thread that copies the capture rectangle into a new
// frame buffer whenever the frame queue holds fewer than three.
class XCaptureThread : public QThread
{
public:
    static XCaptureThread &instance();
    ~XCaptureThread() override;

    void startCapture(int width, int height, int left, int top);
    void stopCapture();
    // A new rectangle for the run in progress (its screen moved or changed size): frames
    // captured from now on have its size. Nothing happens while idle.
    void moveCapture(int width, int height, int left, int top);

    // The oldest queued frame, or null when the queue is empty; never waits.
    FramePtr popFrame();
    // As popFrame(), but waits up to timeoutMs for a frame when the queue is empty. A stop
    // wakes it early (it then returns null), so a consumer never sleeps through a stop.
    FramePtr waitFrame(unsigned long timeoutMs);

    // Replaces the platform screen copy, e.g. with a test's fake. Only while idle.
    void setScreenCopy(std::unique_ptr<ScreenCopy> copy);

    // Why the current run gives receivers no picture of the screen; None when it does, and
    // while idle.
    CopyFailure copyFailure();
    // Called, on whichever thread noticed, with the run's new failure whenever it turns to
    // one. It must not call back into the engine; a window posts itself a message.
    using FailureListener = std::function<void(CopyFailure)>;
    void setFailureListener(FailureListener listener);

protected:
    void run() override;

private:
    XCaptureThread();
    // Detaches the front buffer and wakes the capture thread; the caller holds the mutex.
    FramePtr takeFront();
    // Gives the screen copy the wake-up for its frames; the caller holds the mutex.
    void adoptScreenCopy(std::unique_ptr<ScreenCopy> copy);
    // Takes the rectangle for the run; the caller holds the mutex.
    void setRectangleLocked(int width, int height, int left, int top);
    // The caller holds the mutex: the run's failure, and whether it turned to a failure the
    // listener has not heard of (then the caller tells it, once the mutex is released).
    CopyFailure failureLocked() const;
    bool failureChangedLocked(CopyFailure &news);
    void tellFailureListener(CopyFailure failure);

    static constexpr int capacity = 3;
    // The frame queue, oldest first: a ring of records, so that queueing a frame allocates
    // nothing on the capture thread but the frame's pixels. Records and list nodes made there
    // split the holes that freed frames leave in its heap, which then grew by a frame; a frame's
    // record is made as it is taken (takeFront()), on the consumer's thread.
    class FrameRing
    {
    public:
        bool empty() const { return count == 0; }
        std::size_t size() const { return count; }
        void push(FrameBuffer frame);
        FrameBuffer pop();
        void clear();

    private:
        std::array<FrameBuffer, capacity> places;
        std::size_t first = 0;
        std::size_t count = 0;
    };

    std::atomic<bool> stopFlag{false};
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    FrameRing frames;
    // std::mutex rather than QMutex: Qt's mutex sits on futexes inside the uninstrumented
    // libQt5Core, so ThreadSanitizer cannot see it and reports every guarded access as a race.
    // The pthread-based standard primitives are understood by it.
    std::mutex mutex;
    // Wakes the capture thread when a place in the queue frees up, the screen copy may have a
    // frame, or a stop arrives, so a full queue or a copy with nothing to hand out costs no
    // CPU.
    std::condition_variable captureWake;
    // Wakes waitFrame() when a frame is appended or a stop arrives.
    std::condition_variable frameAdded;
    // Counts stops, so that waitFrame() can tell a stop from a spurious wake-up.
    std::uint64_t stopCount = 0;
    std::unique_ptr<ScreenCopy> screenCopy;
    // begin() was called on screenCopy and end() is still due (the "image" of a run).
    bool copyPrepared = false;
    // The screen copy said it may have a frame since the capture thread last asked.
    bool copyMayHaveFrame = false;
    // The capture rectangle, or the frames the copy gives, have a size NDI cannot carry.
    bool rectangleUnsendable = false;
    bool unusableSize = false;
    CopyFailure heardFailure = CopyFailure::None;
    FailureListener failureListener;
};
