#pragma once

#include "ScreenCopy.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <deque>
#include <memory>

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

// The capture engine: one process-wide thread that copies the capture rectangle into a new
// frame buffer whenever the frame queue holds fewer than three.
class XCaptureThread : public QThread
{
public:
    static XCaptureThread &instance();
    ~XCaptureThread() override;

    void startCapture(int width, int height, int left, int top);
    void stopCapture();

    // The oldest queued frame, or null when the queue is empty; never waits.
    FramePtr popFrame();
    // As popFrame(), but waits up to timeoutMs for a frame when the queue is empty.
    FramePtr waitFrame(unsigned long timeoutMs);

    // Replaces the platform screen copy, e.g. with a test's fake. Only while idle.
    void setScreenCopy(std::unique_ptr<ScreenCopy> copy);

protected:
    void run() override;

private:
    XCaptureThread();
    // (members are the implementer's; see the capture engine issue)
};
