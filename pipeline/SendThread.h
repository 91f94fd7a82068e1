#pragma once

#include <Processing.NDI.Lib.h>

#include "ScreenCopy.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

struct NdiApi;

// Frames handed to NDI since the process started; never reset, so the rate report keeps its
// tenth-frame rhythm across stops and starts. Touched only by the send thread (and read by
// tests once it has ended).
extern std::int64_t sentFrameCount;

// The send engine: takes the oldest captured frame, hands it to the NDI sender as one
// progressive BGRX frame at 30000/1001 and reports the achieved rate every ten frames.
class SendThread : public QThread
{
    Q_OBJECT
public:
    explicit SendThread(QObject *parent);
    ~SendThread() override;

    // Makes the sender. Once made it lives to the end; until then every call tries again, so
    // that a runtime installed meanwhile, or a name another program has let go of, serves.
    bool initNDI();
    void startSend(int width, int height, int left, int top);
    void stopSend();
    // The screen being sent has moved or changed size: the capture takes the new rectangle,
    // and frames the new size. Nothing happens while not sending.
    void moveCapture(int width, int height, int left, int top);

    // Whether initNDI() made a sender, and if not, why.
    enum class SenderStatus {
        NotInitialised,
        Created,
        NoRuntime,
        NoSse42,
        InitializeFailed,
        CreateFailed
    };
    SenderStatus senderStatus() const { return status; }

    // A steady clock in nanoseconds. Tests put in their own to get exact figures; null puts
    // the real steady clock back. Only while no engine is sending.
    using ClockNs = std::int64_t (*)();
    static void setClock(ClockNs clock);

signals:
    void sendCurFPS(float);
    // The running capture gives receivers no picture of the screen, and why. Emitted on this
    // object's thread, only for the run in progress.
    void captureFailed(CopyFailure failure);

protected:
    void run() override;

private:
    // The loop of run(), until running is cleared.
    void sendFrames();
    // Sleeps up to ms milliseconds, or until stopSend() clears running.
    void pauseUntilStopped(unsigned long ms);
    // Hands NDI one black frame of the run's size, so that the sender, which serves its last
    // frame to every receiver that connects later, no longer holds a picture of the screen.
    void sendBlackFrame();
    // Gives videoFrame this size and a send buffer to match (none when it cannot be had).
    void allocateSendBuffer(int width, int height);

    NDIlib_video_frame_v2_t videoFrame;
    NDIlib_send_instance_t sender = nullptr;
    std::atomic<bool> running{false};
    // Guards the writes of running and loopActive. Standard primitives, as in the capture engine
    // (XCaptureThread.h says why).
    std::mutex mutex;
    // Wakes the send thread's pauses at a stop, and stopSend() when the thread's run is over.
    std::condition_variable wake;
    // From startSend() until run() has done its last step; stopSend() waits for it to clear.
    bool loopActive = false;

    // The runtime's table as initNDI() found it; null when there is none.
    const NdiApi *ndi = nullptr;
    // What videoFrame.p_data points to: one block per run, reused for every frame; replaced
    // only when a frame of another size arrives (a stream whose size the platform decides).
    std::unique_ptr<uint8_t[]> sendBuffer;
    std::size_t sendBufferBytes = 0;
    SenderStatus status = SenderStatus::NotInitialised;
    bool runtimeStarted = false;
    // Counts the runs, so that news of one that has ended is not taken for the current one's.
    // Touched on this object's thread only.
    int runs = 0;
};
