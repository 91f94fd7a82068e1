#include "NdiReceiver.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

std::int64_t NdiReceiver::steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::uint32_t NdiReceiver::Frame::rgb(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height || pixels.empty())
        return 0;
    const std::uint8_t *p = pixels.data() + (std::size_t(y) * width + x) * 4;
    return std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

int NdiReceiver::deviation(std::uint32_t a, std::uint32_t b)
{
    int largest = 0;
    for (int shift = 0; shift < 24; shift += 8)
        largest = std::max(largest, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
    return largest;
}

NdiReceiver::NdiReceiver(const NdiApi *api) : ndi(api), extras(api ? ndiExtras() : nullptr) {}

NdiReceiver::~NdiReceiver()
{
    if (receiver)
        extras->recv_destroy(receiver);
    if (finder)
        extras->find_destroy(finder);
}

bool NdiReceiver::usable() const
{
    return ndi && ndi->initialize && extras && extras->canReceive();
}

std::string NdiReceiver::localSourceName(const std::string &sender)
{
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    std::string name = host;
    for (char &c : name)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return name + " (" + sender + ")";
}

const NDIlib_source_t *NdiReceiver::listed(const std::string &name)
{
    uint32_t count = 0;
    const NDIlib_source_t *sources = extras->find_get_current_sources(finder, &count);
    for (uint32_t i = 0; i < count; ++i) {
        if (sources[i].p_ndi_name && name == sources[i].p_ndi_name)
            return &sources[i];
    }
    return nullptr;
}

bool NdiReceiver::find(const std::string &name, int timeoutMs)
{
    if (!usable() || !ndi->initialize())
        return false;
    if (!finder) {
        NDIlib_find_create_t settings;
        settings.show_local_sources = true;
        settings.p_groups = nullptr;
        settings.p_extra_ips = extraIps.empty() ? nullptr : extraIps.c_str();
        finder = extras->find_create_v2(&settings);
        if (!finder)
            return false;
    }
    const std::int64_t deadline = steadyNs() + std::int64_t(timeoutMs) * 1000000;
    while (!listed(name)) {
        const std::int64_t left = (deadline - steadyNs()) / 1000000;
        if (left <= 0)
            return false;
        // Sleeps in the runtime until the list changes or the time is up.
        extras->find_wait_for_sources(finder, uint32_t(std::min<std::int64_t>(left, 500)));
    }
    return true;
}

bool NdiReceiver::connect(const std::string &name, int timeoutMs)
{
    if (!find(name, timeoutMs) || !createReceiver(*listed(name)))
        return false;
    source = name;
    return true;
}

bool NdiReceiver::connectToAddress(const std::string &url)
{
    if (!usable() || !ndi->initialize())
        return false;
    if (!createReceiver(NDIlib_source_t(nullptr, url.c_str())))
        return false;
    source = url;
    return true;
}

bool NdiReceiver::createReceiver(const NDIlib_source_t &from)
{
    if (receiver)
        extras->recv_destroy(receiver);
    NDIlib_recv_create_v3_t create;
    create.source_to_connect_to = from;
    create.color_format = NDIlib_recv_color_format_BGRX_BGRA;
    create.bandwidth = NDIlib_recv_bandwidth_highest;
    create.allow_video_fields = false;
    create.p_ndi_name = "norvane test receiver";
    receiver = extras->recv_create_v3(&create);
    return receiver != nullptr;
}

bool NdiReceiver::receiveFrame(int timeoutMs)
{
    if (!receiver)
        return false;
    const std::int64_t deadline = steadyNs() + std::int64_t(timeoutMs) * 1000000;
    for (;;) {
        const std::int64_t left = (deadline - steadyNs()) / 1000000;
        if (left <= 0)
            return false;
        NDIlib_video_frame_v2_t video;
        const NDIlib_frame_type_e type =
            extras->recv_capture_v2(receiver, &video, nullptr, nullptr, uint32_t(left));
        if (type == NDIlib_frame_type_error)
            return false;
        if (type != NDIlib_frame_type_video)
            continue; // status changes and the like; the wait goes on
        const std::int64_t arrival = steadyNs();
        ++frames;
        last.width = video.xres;
        last.height = video.yres;
        last.rateN = video.frame_rate_N;
        last.rateD = video.frame_rate_D;
        last.fourCC = video.FourCC;
        last.formatType = video.frame_format_type;
        last.pixels.clear();
        if (keepPixels && video.p_data && video.xres > 0 && video.yres > 0) {
            const std::size_t row = std::size_t(video.xres) * 4;
            const std::size_t stride =
                video.line_stride_in_bytes > 0 ? std::size_t(video.line_stride_in_bytes) : row;
            last.pixels.resize(row * std::size_t(video.yres));
            for (int y = 0; y < video.yres; ++y)
                std::memcpy(last.pixels.data() + row * y, video.p_data + stride * y, row);
        }
        if (onFrame)
            onFrame(video, arrival);
        extras->recv_free_video_v2(receiver, &video);
        return true;
    }
}

NdiReceiver::Watch NdiReceiver::watch(int width, int height, int ms, int settleMs)
{
    const bool keep = keepPixels;
    keepPixels = false;
    receiveFor(settleMs);
    Watch w;
    auto previous = std::move(onFrame);
    onFrame = [&](const NDIlib_video_frame_v2_t &video, std::int64_t) {
        if (video.xres != width || video.yres != height ||
            video.FourCC != NDIlib_FourCC_type_BGRX || video.frame_rate_N != 30000 ||
            video.frame_rate_D != 1001)
            ++w.wrong;
    };
    w.frames = receiveFor(ms);
    w.perSecond = w.frames * 1000.0 / ms;
    onFrame = std::move(previous);
    keepPixels = keep;
    return w;
}

int NdiReceiver::receiveFor(int ms)
{
    const int before = frames;
    const std::int64_t deadline = steadyNs() + std::int64_t(ms) * 1000000;
    for (;;) {
        const std::int64_t left = (deadline - steadyNs()) / 1000000;
        if (left <= 0)
            break;
        receiveFrame(int(left));
    }
    return frames - before;
}

bool NdiReceiver::ended(int quietMs, int timeoutMs)
{
    const std::int64_t deadline = steadyNs() + std::int64_t(timeoutMs) * 1000000;
    while (steadyNs() < deadline) {
        if (!receiveFrame(quietMs))
            return true;
    }
    return false;
}

bool waitForSenderNameFree(const std::string &name, int timeoutMs)
{
    const std::string path = "/tmp/NTK_SEND_" + name;
    const std::int64_t deadline = NdiReceiver::steadyNs() + std::int64_t(timeoutMs) * 1000000;
    for (;;) {
        bool free = true;
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            struct flock probe = {};
            probe.l_type = F_WRLCK;
            probe.l_whence = SEEK_SET;
            free = fcntl(fd, F_GETLK, &probe) != 0 || probe.l_type == F_UNLCK;
            close(fd);
        }
        if (free)
            return true;
        if (NdiReceiver::steadyNs() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
}
