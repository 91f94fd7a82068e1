// The sending half of the Wine benchmark (bench_wine drives it from Linux): a Windows console
// program, cross-built with the program's own engines, run under Wine with the Windows runtime.
//
//   bench_wine_sender engine <W>x<H>   the capture and send engines, as the program runs them
//   bench_wine_sender peer <W>x<H>     the bare runtime, same DLL, sending one copy of the
//                                      screen over and over (a band changes per frame)
//       Both print "ready" once sending, then measure between "mark" and "stop" lines on
//       standard input and print one line of key=value figures.
//   bench_wine_sender copy <W>x<H> <n> n GDI copies of the rectangle; prints their cost.
//
// Every send call goes through a table that times it and then calls the runtime's own.
#include "GdiScreenCopy.h"
#include "NdiRuntime.h"
#include "NdiSettings.h"
#include "SendThread.h"

#include <QCoreApplication>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

namespace {

double nowMs()
{
    return std::chrono::duration<double, std::milli>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// User and kernel time of this process, as Wine accounts it.
double processCpuMs()
{
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return double(std::uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4;
    };
    return ms(kernel) + ms(user);
}

// ---- the timing table -------------------------------------------------------------------
NdiApi timedTable;
const NdiApi *realTable = nullptr;
std::atomic<bool> measuring{false};
std::vector<double> callMs, callStarts; // written only by the sending thread

void timedSend(NDIlib_send_instance_t sender, const NDIlib_video_frame_v2_t *frame)
{
    const double start = nowMs();
    realTable->send_send_video_v2(sender, frame);
    if (measuring) {
        callMs.push_back(nowMs() - start);
        callStarts.push_back(start);
    }
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * v.size()))];
}

// Waits for "mark", measures until "stop", prints the figures. `labels` are the rates the
// engine reported meanwhile (empty for the peer).
template <typename Stop> void measure(const std::vector<float> &labels, Stop stopSending)
{
    std::string line;
    while (std::getline(std::cin, line) && line.rfind("mark", 0) != 0) {
    }
    const double cpu0 = processCpuMs(), t0 = nowMs();
    measuring = true;
    while (std::getline(std::cin, line) && line.rfind("stop", 0) != 0) {
    }
    measuring = false;
    const double seconds = (nowMs() - t0) / 1e3, cpu = processCpuMs() - cpu0;
    stopSending();
    double labelSum = 0;
    for (float f : labels)
        labelSum += f;
    double longestGap = 0;
    for (std::size_t i = 1; i < callStarts.size(); ++i)
        longestGap = std::max(longestGap, callStarts[i] - callStarts[i - 1]);
    std::printf("calls=%zu seconds=%.3f call_fps=%.2f label_fps=%.2f call_p50_ms=%.2f "
                "call_p95_ms=%.2f call_gap_max_ms=%.1f cpu_ms=%.1f\n",
                callMs.size(), seconds, callMs.size() / seconds,
                labels.empty() ? -1.0 : labelSum / labels.size(), percentile(callMs, 0.5),
                percentile(callMs, 0.95), longestGap, cpu);
    std::fflush(stdout);
}

bool installTimedTable()
{
    realTable = NdiRuntime::api();
    if (!realTable)
        return false;
    timedTable = *realTable;
    timedTable.send_send_video_v2 = &timedSend;
    NdiRuntime::install(&timedTable);
    return true;
}

int runEngine(int w, int h)
{
    if (!installTimedTable())
        return 3;
    SendThread engine(nullptr);
    if (!engine.initNDI())
        return 3;
    std::vector<float> labels; // appended on the send thread only while measuring
    QObject::connect(
        &engine, &SendThread::sendCurFPS, &engine,
        [&labels](float fps) {
            if (measuring)
                labels.push_back(fps);
        },
        Qt::DirectConnection);
    engine.startSend(w, h, 0, 0);
    std::printf("ready\n");
    std::fflush(stdout);
    measure(labels, [&engine] { engine.stopSend(); });
    return 0;
}

int runPeer(int w, int h)
{
    if (!installTimedTable())
        return 3;
    const NdiApi *ndi = NdiRuntime::api();
    if (!ndi->initialize())
        return 3;
    const NDIlib_send_create_t create = NdiSettings::sender();
    NDIlib_send_instance_t sender = ndi->send_create(&create);
    if (!sender)
        return 3;
    // The screen's picture, copied once: the same content as the engine sends, so the encoder
    // has the same work, without a copy per frame.
    std::vector<std::uint8_t> frame(std::size_t(w) * h * 4, 0x80);
    {
        GdiScreenCopy copy;
        if (copy.begin(w, h, 0, 0))
            copy.copy(frame.data());
    }
    std::atomic<bool> running{true};
    std::thread loop([&] {
        const NDIlib_video_frame_v2_t v = NdiSettings::video(w, h, frame.data());
        for (std::uint8_t n = 0; running; ++n) {
            // A changing band, so frames differ as a screen's do.
            std::memset(frame.data(), n, std::size_t(w) * 4 * 16);
            ndi->send_send_video_v2(sender, &v);
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    measure({}, [&] {
        running = false;
        loop.join();
    });
    return 0;
}

int runCopy(int w, int h, int n)
{
    GdiScreenCopy copy;
    if (!copy.begin(w, h, 0, 0))
        return 3;
    std::vector<unsigned char> buffer(std::size_t(w) * h * 4);
    std::vector<double> each;
    const double cpu0 = processCpuMs();
    int failed = 0;
    for (int i = 0; i < n; ++i) {
        const double t = nowMs();
        failed += copy.copy(buffer.data()) ? 0 : 1;
        each.push_back(nowMs() - t);
    }
    std::printf("copies=%d failed=%d copy_p50_ms=%.2f copy_p95_ms=%.2f cpu_ms_per_copy=%.2f\n", n,
                failed, percentile(each, 0.5), percentile(each, 0.95), (processCpuMs() - cpu0) / n);
    std::fflush(stdout);
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int w = 0, h = 0, n = 0;
    if (argc >= 3 && std::sscanf(argv[2], "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
        if (std::strcmp(argv[1], "engine") == 0)
            return runEngine(w, h);
        if (std::strcmp(argv[1], "peer") == 0)
            return runPeer(w, h);
        if (std::strcmp(argv[1], "copy") == 0 && argc == 4 && (n = std::atoi(argv[3])) > 0)
            return runCopy(w, h, n);
    }
    std::fprintf(stderr, "usage: bench_wine_sender engine|peer <W>x<H> | copy <W>x<H> <n>\n");
    return 2;
}
