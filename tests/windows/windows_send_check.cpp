// Drives the Windows screen copy and the runtime loader the way the send engine does, so that
// the Windows path can be checked under Wine from the Linux side (tst_windows_send). Qt-free.
//
//   windows_send_check load
//       Loads the runtime; prints "loaded <path>" (exit 0) or the loader's not-found line on
//       standard error (exit 3).
//   windows_send_check send <W>x<H>+<L>+<T>:<frames> [...]
//       Creates the sender "NDI" with clocked video, prints "ready", waits up to 30 s for a
//       receiver, then per run: starts the copy of that rectangle, sends that many frames,
//       stops. Prints "run <W>x<H>+<L>+<T> frames <n> ms <elapsed>" after each run.
//   windows_send_check gdi-cycles <n>
//       Starts and stops copies of changing sizes n times, with a fresh copy object now and
//       then, and prints "gdi <method> before <a> after <b>"; exit 0 when nothing leaked.

#include "GdiScreenCopy.h"
#include "NdiExtras.h"
#include "NdiRuntime.h"
#include "NdiSettings.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Rect
{
    int width = 0;
    int height = 0;
    int left = 0;
    int top = 0;
    int frames = 0;
};

bool parseRun(const char *text, Rect &run)
{
    char tail = 0;
    return std::sscanf(text, "%dx%d+%d+%d:%d%c", &run.width, &run.height, &run.left, &run.top,
                       &run.frames, &tail) == 5 &&
           run.width >= 0 && run.height >= 0 && run.frames >= 0;
}

int load()
{
    if (!NdiRuntime::api())
        return 3; // the loader has said why on standard error
    std::printf("loaded %s\n", NdiRuntime::loadedFrom().c_str());
    std::fflush(stdout);
    return 0;
}

// The send engine's steps: one sender named "NDI" with clocked video, the same videoFrame
// values, a fresh buffer per captured frame copied into the run's send buffer.
int send(const std::vector<Rect> &runs)
{
    const NdiApi *ndi = NdiRuntime::api();
    if (!ndi)
        return 3;
    if (!ndi->initialize()) {
        std::fprintf(stderr, "NDIlib_initialize failed\n");
        return 4;
    }
    const NDIlib_send_create_t create = NdiSettings::sender();
    NDIlib_send_instance_t sender = ndi->send_create(&create);
    if (!sender) {
        std::fprintf(stderr, "NDIlib_send_create failed\n");
        return 4;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    if (const NdiExtras *extras = ndiExtras(); extras && extras->send_get_no_connections) {
        if (extras->send_get_no_connections(sender, 30000) <= 0) {
            std::fprintf(stderr, "no receiver connected\n");
            return 5;
        }
    }

    NDIlib_video_frame_v2_t videoFrame = NdiSettings::video(0, 0, nullptr);

    std::unique_ptr<ScreenCopy> screen = createPlatformScreenCopy();
    for (const Rect &run : runs) {
        const size_t frameBytes = static_cast<size_t>(run.width) * run.height * 4;
        if (!screen->begin(run.width, run.height, run.left, run.top)) {
            std::fprintf(stderr, "begin failed for %dx%d\n", run.width, run.height);
            return 6;
        }
        std::unique_ptr<unsigned char[]> sendBuffer(new unsigned char[frameBytes]);
        videoFrame.xres = run.width;
        videoFrame.yres = run.height;
        videoFrame.p_data = sendBuffer.get();

        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < run.frames; ++i) {
            std::unique_ptr<unsigned char[]> frame(new unsigned char[frameBytes]);
            screen->copy(frame.get());
            std::memcpy(sendBuffer.get(), frame.get(), frameBytes);
            ndi->send_send_video_v2(sender, &videoFrame);
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        screen->end();
        std::printf("run %dx%d+%d+%d frames %d ms %lld\n", run.width, run.height, run.left, run.top,
                    run.frames, static_cast<long long>(ms));
        std::fflush(stdout);
    }
    // Lets the receiver take the last frames before the connection goes.
    Sleep(500);
    return 0;
}

// How many more GDI objects this process can make before the handle table is full. Wine
// answers GetGuiResources with 0, so there the headroom is what shows a leak.
long gdiHeadroom()
{
    std::vector<HGDIOBJ> made;
    for (;;) {
        HGDIOBJ brush = CreateSolidBrush(RGB(1, 2, 3));
        if (!brush)
            break;
        made.push_back(brush);
    }
    for (HGDIOBJ object : made)
        DeleteObject(object);
    return static_cast<long>(made.size());
}

int gdiCycles(int cycles)
{
    // A warm-up run, so that what GDI and the loader keep for good once used is not counted.
    {
        GdiScreenCopy warm;
        std::vector<unsigned char> buffer(8 * 8 * 4);
        warm.begin(8, 8, 0, 0);
        warm.copy(buffer.data());
        warm.end();
    }
    const bool counted = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS) > 0;
    auto measure = [counted] {
        return counted ? static_cast<long>(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
                       : -gdiHeadroom();
    };
    const long before = measure();

    std::vector<unsigned char> buffer(97 * 61 * 4);
    std::unique_ptr<GdiScreenCopy> screen;
    int failures = 0;
    for (int i = 0; i < cycles; ++i) {
        if (i % 16 == 0) {
            screen.reset(); // one copy object at a time, as the capture engine holds
            screen = std::make_unique<GdiScreenCopy>();
        }
        // Another size every time, a second begin() without end() now and then, and an
        // end() without begin(): each must give back what the previous run held. Copies
        // report success, and an empty one leaves the buffer alone.
        // Every eleventh run is empty: valid, with nothing to copy and no bitmap.
        const int width = i % 11 == 3 ? 0 : 1 + (i * 37) % 97;
        const int height = 1 + (i * 13) % 61;
        if (!screen->begin(width, height, i % 50, i % 30))
            ++failures;
        buffer[0] = 0xA5;
        if (!screen->copy(buffer.data()) || (width == 0 && buffer[0] != 0xA5))
            ++failures;
        if (i % 5 == 0 && !screen->begin(height, width, 0, 0))
            ++failures;
        screen->end();
        if (i % 7 == 0)
            screen->end();
    }
    screen.reset();
    const long after = measure();
    std::printf("gdi %s before %ld after %ld failures %d\n", counted ? "objects" : "headroom",
                counted ? before : -before, counted ? after : -after, failures);
    return before == after && failures == 0 ? 0 : 1;
}

int usage()
{
    std::fprintf(stderr, "usage: windows_send_check load | send WxH+L+T:frames... | "
                         "gdi-cycles n\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    if (command == "load")
        return load();
    if (command == "send") {
        std::vector<Rect> runs;
        for (int i = 2; i < argc; ++i) {
            Rect run;
            if (!parseRun(argv[i], run))
                return usage();
            runs.push_back(run);
        }
        return runs.empty() ? usage() : send(runs);
    }
    if (command == "gdi-cycles" && argc == 3)
        return gdiCycles(std::atoi(argv[2]));
    return usage();
}
