#pragma once

#include "NdiRuntime.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// An NDI function table without a runtime. It records every call and its arguments and holds
// each video send like a runtime asked for clocked video: a call returns no earlier than one
// frame time (frame_rate_D / frame_rate_N) after the previous one. Process-wide, because the
// table holds plain function pointers; reset() between tests.
class FakeNdi
{
public:
    struct Create
    {
        bool hasName = false;
        std::string name;
        bool hasGroups = false;
        std::string groups;
        bool clockVideo = false;
        bool clockAudio = false;
    };

    // Every field of one NDIlib_video_frame_v2_t as handed over, and what p_data held.
    struct Video
    {
        NDIlib_send_instance_t instance = nullptr;
        int xres = 0;
        int yres = 0;
        NDIlib_FourCC_type_e fourCC = NDIlib_FourCC_type_UYVY;
        int frameRateN = 0;
        int frameRateD = 0;
        float pictureAspectRatio = -1.0f;
        NDIlib_frame_format_type_e frameFormat = NDIlib_frame_format_type_interleaved;
        std::int64_t timecode = 0;
        const std::uint8_t *data = nullptr;
        int lineStride = -1;
        const char *metadata = nullptr;
        std::int64_t timestamp = -1;
        // The first four bytes of p_data (a pixel), and whether every pixel equals it.
        std::uint32_t firstPixel = 0;
        bool uniform = false;
        std::uint64_t checksum = 0;
    };

    static FakeNdi &instance();

    // The table to install with NdiRuntime::install().
    const NdiApi *api() const { return &table; }

    // Forgets every record and goes back to: initialize succeeds, a sender is created,
    // sends are paced, no hold, virtual clock at 0 with a step of one 29.97 fps frame time.
    void reset();

    void setInitializeResult(bool ok);
    void setCreateFails(bool fails);
    void setPaced(bool paced);

    // The call with this number (from 1, video sends since reset) blocks after it has been
    // recorded until releaseHold(). 0 turns it off.
    void holdAtVideo(int number);
    bool waitUntilHeld(int timeoutMs);
    void releaseHold();

    // "initialize", "send_create", "send_send_video_v2" in the order of the calls.
    std::vector<std::string> calls() const;
    std::vector<Create> creates() const;
    std::vector<Video> videos() const;
    int videoCount() const;
    // Waits (on a condition, not spinning) until at least n video sends have been recorded.
    bool waitForVideos(int n, int timeoutMs) const;

    // The sender handle send_create returns.
    static NDIlib_send_instance_t senderHandle();

    // A clock for SendThread::setClock() that stands still between sends and moves on by
    // virtualStepNs with every send (before the call returns).
    static std::int64_t virtualClockNs();
    void setVirtualStepNs(std::int64_t step);

private:
    FakeNdi();
    static bool initialize();
    static NDIlib_send_instance_t sendCreate(const NDIlib_send_create_t *create);
    static void sendVideo(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t *frame);

    NdiApi table;
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool initializeResult = true;
    bool createFails = false;
    bool paced = true;
    int holdNumber = 0;
    bool held = false;
    bool released = false;
    std::vector<std::string> callLog;
    std::vector<Create> createLog;
    std::vector<Video> videoLog;
    std::int64_t nextDueNs = 0;
    std::int64_t clockNs = 0;
    std::int64_t stepNs = 0;
};
