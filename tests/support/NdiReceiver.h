#pragma once

#include "NdiExtras.h"
#include "NdiRuntime.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// A receiver on the real NDI runtime, through the loader's table: finds a source by its exact
// name on loopback (extra IP 127.0.0.1, no mDNS needed) or as set, connects in BGRX/BGRA and
// counts what arrives. Not thread-safe: use one receiver from one thread.
class NdiReceiver
{
public:
    struct Frame
    {
        int width = 0;
        int height = 0;
        int rateN = 0;
        int rateD = 0;
        NDIlib_FourCC_type_e fourCC = NDIlib_FourCC_type_UYVY;
        NDIlib_frame_format_type_e formatType = NDIlib_frame_format_type_progressive;
        // Rows packed, width * 4 bytes each, blue, green, red, fourth byte. Empty when pixels
        // are not kept.
        std::vector<std::uint8_t> pixels;

        // The pixel at (x, y) as 0xRRGGBB; 0 when outside or not kept.
        std::uint32_t rgb(int x, int y) const;
    };
    // The largest difference of one colour between two 0xRRGGBB pixels.
    static int deviation(std::uint32_t a, std::uint32_t b);

    explicit NdiReceiver(const NdiApi *api = NdiRuntime::api());
    ~NdiReceiver();
    NdiReceiver(const NdiReceiver &) = delete;
    NdiReceiver &operator=(const NdiReceiver &) = delete;

    // True when the table has everything a receiver needs.
    bool usable() const;

    // What receivers list a sender of this machine as: "HOSTNAME (sender)", the hostname in
    // capitals, as the runtime writes it.
    static std::string localSourceName(const std::string &sender = "NDI");

    // Where the receiver looks besides mDNS, as the runtime takes it ("127.0.0.1" unless set;
    // empty: mDNS alone). Before the first connect().
    void setExtraIps(const std::string &ips) { extraIps = ips; }
    // Waits up to timeoutMs for the source of this exact name and connects to it. Other
    // sources (another machine's "(NDI)" on the same network) are passed over.
    bool connect(const std::string &name = localSourceName(), int timeoutMs = 20000);
    // Waits up to timeoutMs for the source; true when it is listed. Does not connect.
    bool find(const std::string &name, int timeoutMs);
    // Connects straight to a sender's address, e.g. "127.0.0.1:5961", without discovery (which
    // finds nothing between Wine and Linux).
    bool connectToAddress(const std::string &url);
    const std::string &sourceName() const { return source; }

    // Waits up to timeoutMs for the next video frame; true when one arrived.
    bool receiveFrame(int timeoutMs);
    // Receives until ms have passed; returns the frames received meanwhile.
    int receiveFor(int ms);
    // True once no frame has come for quietMs, within timeoutMs: the stream has ended. Frames
    // already on their way still come first, for longer on a loaded machine.
    bool ended(int quietMs = 1500, int timeoutMs = 30000);

    // What a connected stream brings in ms milliseconds, after settleMs for it to settle: the
    // frames, and how many of them were not width x height BGRX at 30000/1001. Pixels are not
    // kept meanwhile.
    struct Watch
    {
        int frames = 0;
        int wrong = 0;
        double perSecond = 0;
        // Frames flow: at least flowingPerSecond. How fast is the benchmarks' business.
        bool flowing() const { return perSecond >= flowingPerSecond; }
    };
    // A still screen is sent at 29.97 frames a second on a quiet machine; a two-core machine
    // at a load of 4-5 gave 20. Tests ask only for a few a second.
    static constexpr double flowingPerSecond = 3;
    Watch watch(int width, int height, int ms, int settleMs = 1000);

    int frameCount() const { return frames; }
    const Frame &lastFrame() const { return last; }

    // Copying 4K pixels for every frame costs a benchmark dearly; off, only sizes are kept.
    void setKeepPixels(bool keep) { keepPixels = keep; }
    // Called with every video frame (its data valid only during the call) and its arrival on
    // the steady clock in nanoseconds.
    std::function<void(const NDIlib_video_frame_v2_t &, std::int64_t)> onFrame;

    static std::int64_t steadyNs();

private:
    bool createReceiver(const NDIlib_source_t &from);

    const NdiApi *ndi;
    const NdiExtras *extras;
    NDIlib_find_instance_t finder = nullptr;
    NDIlib_recv_instance_t receiver = nullptr;
    // The listed source of this name, or null.
    const NDIlib_source_t *listed(const std::string &name);

    std::string extraIps = "127.0.0.1";
    std::string source;
    int frames = 0;
    bool keepPixels = true;
    Frame last;
};

// The Linux runtime lets one process per machine send under a given name: it locks
// /tmp/NTK_SEND_<name>, and a second sender of that name, even in another network namespace,
// is refused. Waits (polling every 200 ms) until no other process holds that lock; true when
// free. For tests and benchmarks that may run beside another sender named "NDI".
bool waitForSenderNameFree(const std::string &name, int timeoutMs);
