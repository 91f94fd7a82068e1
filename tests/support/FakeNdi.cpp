#include "FakeNdi.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// 1001/30000 s, rounded to the nanosecond figure tests use (10 frames in 0.3337 s).
constexpr std::int64_t defaultStepNs = 33370000;

int senderObject;

} // namespace

FakeNdi &FakeNdi::instance()
{
    static FakeNdi fake;
    return fake;
}

FakeNdi::FakeNdi()
{
    table.initialize = &FakeNdi::initialize;
    table.send_create = &FakeNdi::sendCreate;
    table.send_send_video_v2 = &FakeNdi::sendVideo;
    reset();
}

void FakeNdi::reset()
{
    std::lock_guard<std::mutex> lock(mutex);
    initializeResult = true;
    createFails = false;
    paced = true;
    holdNumber = 0;
    held = false;
    // Frees a send still held by a previous test.
    released = true;
    changed.notify_all();
    callLog.clear();
    createLog.clear();
    videoLog.clear();
    nextDueNs = 0;
    clockNs = 0;
    stepNs = defaultStepNs;
}

void FakeNdi::setInitializeResult(bool ok)
{
    std::lock_guard<std::mutex> lock(mutex);
    initializeResult = ok;
}

void FakeNdi::setCreateFails(bool fails)
{
    std::lock_guard<std::mutex> lock(mutex);
    createFails = fails;
}

void FakeNdi::setPaced(bool on)
{
    std::lock_guard<std::mutex> lock(mutex);
    paced = on;
}

void FakeNdi::holdAtVideo(int number)
{
    std::lock_guard<std::mutex> lock(mutex);
    holdNumber = number;
    held = false;
    released = false;
}

bool FakeNdi::waitUntilHeld(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return held; });
}

void FakeNdi::releaseHold()
{
    std::lock_guard<std::mutex> lock(mutex);
    released = true;
    changed.notify_all();
}

std::vector<std::string> FakeNdi::calls() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return callLog;
}

std::vector<FakeNdi::Create> FakeNdi::creates() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return createLog;
}

std::vector<FakeNdi::Video> FakeNdi::videos() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return videoLog;
}

int FakeNdi::videoCount() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return static_cast<int>(videoLog.size());
}

bool FakeNdi::waitForVideos(int n, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(mutex);
    return changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return static_cast<int>(videoLog.size()) >= n; });
}

NDIlib_send_instance_t FakeNdi::senderHandle()
{
    return reinterpret_cast<NDIlib_send_instance_t>(&senderObject);
}

std::int64_t FakeNdi::virtualClockNs()
{
    FakeNdi &f = instance();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.clockNs;
}

void FakeNdi::setVirtualStepNs(std::int64_t step)
{
    std::lock_guard<std::mutex> lock(mutex);
    stepNs = step;
}

bool FakeNdi::initialize()
{
    FakeNdi &f = instance();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.callLog.push_back("initialize");
    return f.initializeResult;
}

NDIlib_send_instance_t FakeNdi::sendCreate(const NDIlib_send_create_t *create)
{
    FakeNdi &f = instance();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.callLog.push_back("send_create");
    Create c;
    if (create) {
        c.hasName = create->p_ndi_name != nullptr;
        c.name = c.hasName ? create->p_ndi_name : "";
        c.hasGroups = create->p_groups != nullptr;
        c.groups = c.hasGroups ? create->p_groups : "";
        c.clockVideo = create->clock_video;
        c.clockAudio = create->clock_audio;
    }
    f.createLog.push_back(c);
    return f.createFails ? nullptr : senderHandle();
}

void FakeNdi::sendVideo(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t *frame)
{
    FakeNdi &f = instance();
    Video v;
    v.instance = sender;
    if (frame) {
        v.xres = frame->xres;
        v.yres = frame->yres;
        v.fourCC = frame->FourCC;
        v.frameRateN = frame->frame_rate_N;
        v.frameRateD = frame->frame_rate_D;
        v.pictureAspectRatio = frame->picture_aspect_ratio;
        v.frameFormat = frame->frame_format_type;
        v.timecode = frame->timecode;
        v.data = frame->p_data;
        v.lineStride = frame->line_stride_in_bytes;
        v.metadata = frame->p_metadata;
        v.timestamp = frame->timestamp;
        // Reads every byte, as a runtime would: a stale or short buffer shows up under ASan.
        const std::size_t pixels = frame->xres > 0 && frame->yres > 0
                                       ? std::size_t(frame->xres) * std::size_t(frame->yres)
                                       : 0;
        if (frame->p_data && pixels > 0) {
            std::memcpy(&v.firstPixel, frame->p_data, 4);
            v.uniform = true;
            std::uint64_t sum = 1469598103934665603ull;
            for (std::size_t i = 0; i < pixels; ++i) {
                std::uint32_t px;
                std::memcpy(&px, frame->p_data + i * 4, 4);
                v.uniform = v.uniform && px == v.firstPixel;
                sum = (sum ^ px) * 1099511628211ull;
            }
            v.checksum = sum;
        }
    }

    std::int64_t dueNs = 0;
    {
        std::unique_lock<std::mutex> lock(f.mutex);
        f.callLog.push_back("send_send_video_v2");
        f.videoLog.push_back(v);
        f.clockNs += f.stepNs;
        const int number = static_cast<int>(f.videoLog.size());
        f.changed.notify_all();
        if (f.paced && frame && frame->frame_rate_N > 0 && frame->frame_rate_D > 0) {
            // Clocked video: one frame time after the previous frame left, or now if late.
            const std::int64_t period =
                std::int64_t(1000000000) * frame->frame_rate_D / frame->frame_rate_N;
            const std::int64_t now = nowNs();
            f.nextDueNs = f.nextDueNs > now ? f.nextDueNs : now;
            dueNs = f.nextDueNs;
            f.nextDueNs += period;
        }
        if (number == f.holdNumber) {
            f.held = true;
            f.changed.notify_all();
            f.changed.wait(lock, [&f] { return f.released; });
        }
    }
    if (dueNs > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(dueNs - nowNs()));
}
