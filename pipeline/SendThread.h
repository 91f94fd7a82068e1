#pragma once

#include <Processing.NDI.Lib.h>

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
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

    bool initNDI();
    void startSend(int width, int height, int left, int top);
    void stopSend();

    // Whether initNDI() made a sender, and if not, why.
    enum class SenderStatus { NotInitialised, Created, NoRuntime, InitializeFailed, CreateFailed };
    SenderStatus senderStatus() const { return status; }

    // A steady clock in nanoseconds. Tests put in their own to get exact figures; null puts
    // the real steady clock back. Only while no engine is sending.
    using ClockNs = std::int64_t (*)();
    static void setClock(ClockNs clock);

signals:
    void sendCurFPS(float);

protected:
    void run() override;

private:
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
    QMutex mutex;

    // The runtime's table as initNDI() found it; null when there is none.
    const NdiApi *ndi = nullptr;
    // What videoFrame.p_data points to: one block per run, reused for every frame; replaced
    // only when a frame of another size arrives (a stream whose size the platform decides).
    std::unique_ptr<uint8_t[]> sendBuffer;
    std::size_t sendBufferBytes = 0;
    SenderStatus status = SenderStatus::NotInitialised;
    // The send thread handed a picture to NDI in this run; read by stopSend() once the thread
    // has ended.
    bool sentInRun = false;
    // Wakes the send thread's pauses when stopSend() clears running.
    QWaitCondition stopped;
    // Taken by run() as its very last step and by stopSend() after wait(): the same hand-over
    // as QThread::wait(), but on a lock ThreadSanitizer can see (Qt's own runs on futexes
    // inside the uninstrumented library).
    std::mutex runEnded;
};
