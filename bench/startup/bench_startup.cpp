// Start-up benchmark: starts the built program on the X server, measures the time from the
// start until its window is mapped, its resident memory once idle, again after 5 s of sending
// the 1920x1080 screen to a receiver on loopback (with the CPU that sending takes), once idle
// after that run, and once idle after a number of short runs more. Each figure is the median
// of several starts. The peers, in the same run: the same program with Qt's default GLX
// integration, which it would load without its own QT_XCB_GL_INTEGRATION=none; the same
// program as it was before it tuned glibc's heap (its mallopt() and malloc_trim() made no-ops
// by a preloaded library), whose memory grows with every run; and, without the tuning, glibc's
// mmap threshold fixed at 1 MiB (MALLOC_MMAP_THRESHOLD_), the other way to keep that memory,
// which gives every frame its own mapping and fresh pages.
//
//   bench_startup [--runs N] [--toggles N]
// Run inside scripts/ns-run (scripts/bench-startup).
#include "NdiReceiver.h"
#include "XTools.h"
#include "XcbConnection.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QThread>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

bool mapsLibrary(qint64 pid, const char *name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/maps");
    std::string line;
    while (std::getline(in, line)) {
        if (line.find(name) != std::string::npos)
            return true;
    }
    return false;
}

// The X server tells of every top-level window mapped (the program's has no window manager to
// go through); the one whose _NET_WM_PID is the program's is its window.
class MapWatch
{
public:
    MapWatch()
    {
        if (!x)
            return;
        const std::uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(x.get(), x.screen()->root, XCB_CW_EVENT_MASK, &events);
        xcb_intern_atom_reply_t *atom =
            xcb_intern_atom_reply(x.get(), xcb_intern_atom(x.get(), 0, 11, "_NET_WM_PID"), nullptr);
        if (atom)
            pidAtom = atom->atom;
        std::free(atom);
        xcb_flush(x.get());
    }
    // Waits until a window of pid is mapped; its id, or 0 after timeoutMs.
    xcb_window_t waitForWindowOf(qint64 pid, int timeoutMs)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < timeoutMs) {
            std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> e(
                xcb_poll_for_event(x.get()), &std::free);
            if (!e) {
                QThread::usleep(500);
                continue;
            }
            if ((e->response_type & 0x7f) != XCB_MAP_NOTIFY)
                continue;
            const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(e.get());
            if (pidOf(map->window) == pid)
                return map->window;
        }
        return 0;
    }

private:
    qint64 pidOf(xcb_window_t w)
    {
        xcb_get_property_reply_t *r = xcb_get_property_reply(
            x.get(), xcb_get_property(x.get(), 0, w, pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        qint64 pid = -1;
        if (r && xcb_get_property_value_length(r) == 4)
            pid = *static_cast<std::uint32_t *>(xcb_get_property_value(r));
        std::free(r);
        return pid;
    }

    XcbConnection x;
    xcb_atom_t pidAtom = XCB_ATOM_NONE;
};

struct Run
{
    double startMs = 0;
    long idleKb = 0;
    long sendingKb = 0;
    double sendingCpuPercent = 0; // of one core
    long idleAfterOneKb = 0;
    long idleAfterManyKb = 0;
    bool mesa = false;
    int frames = 0;
};

struct Variant
{
    const char *name;
    QString gl;            // QT_XCB_GL_INTEGRATION, or empty for the program's own choice
    QString preload;       // LD_PRELOAD
    QString mmapThreshold; // MALLOC_MMAP_THRESHOLD_
    std::vector<Run> runs;
};

Run startOnce(const Variant &variant, int toggles)
{
    Run run;
    MapWatch watch;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    if (variant.gl.isEmpty())
        env.remove("QT_XCB_GL_INTEGRATION");
    else
        env.insert("QT_XCB_GL_INTEGRATION", variant.gl);
    if (!variant.preload.isEmpty())
        env.insert("LD_PRELOAD", variant.preload);
    if (variant.mmapThreshold.isEmpty())
        env.remove("MALLOC_MMAP_THRESHOLD_");
    else
        env.insert("MALLOC_MMAP_THRESHOLD_", variant.mmapThreshold);
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    app.start(QStringLiteral(NORVANE_EXE), QStringList());
    if (!app.waitForStarted(5000))
        return run;
    const xcb_window_t window = watch.waitForWindowOf(app.processId(), 20000);
    run.startMs = clock.nsecsElapsed() / 1e6;
    // The send button: frame at (10, 5), the button at (332, 275), 88 x 26.
    const auto clickSend = [&] {
        runTool("xdotool",
                {"mousemove", "--window", QString::number(window), "386", "293", "click", "1"});
    };
    const auto rssKb = [&] { return statusKb(app.processId(), "VmRSS:"); };
    if (window) {
        QThread::msleep(2000);
        run.idleKb = rssKb();
        run.mesa =
            mapsLibrary(app.processId(), "swrast_dri") || mapsLibrary(app.processId(), "libLLVM");
        clickSend();
        NdiReceiver receiver;
        receiver.setKeepPixels(false);
        if (receiver.connect(NdiReceiver::localSourceName(), 20000)) {
            const double cpuBefore = cpuMsOf(app.processId());
            QElapsedTimer sending;
            sending.start();
            run.frames = receiver.receiveFor(5000);
            run.sendingCpuPercent =
                100.0 * (cpuMsOf(app.processId()) - cpuBefore) / double(sending.elapsed());
            run.sendingKb = rssKb();
            clickSend();
            QThread::msleep(2000);
            run.idleAfterOneKb = rssKb();
            // Short runs, as a user toggling: each captures and sends a few frames.
            for (int i = 0; i < toggles; ++i) {
                clickSend();
                receiver.receiveFor(300);
                clickSend();
                QThread::msleep(300);
            }
            QThread::msleep(2000);
            run.idleAfterManyKb = rssKb();
        }
    }
    app.terminate();
    if (!app.waitForFinished(5000)) {
        app.kill();
        app.waitForFinished(5000);
    }
    return run;
}

template <typename T> T median(std::vector<T> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? T() : v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int runs = 3;
    int toggles = 20;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--toggles") == 0)
            toggles = std::max(1, std::atoi(argv[i + 1]));
    }
    Variant variants[] = {
        {"as shipped (no OpenGL)", QString(), QString(), QString(), {}},
        {"Qt's default (GLX, Mesa)", QStringLiteral("xcb_glx"), QString(), QString(), {}},
        {"before: glibc's own heap",
         QString(),
         QStringLiteral(NORVANE_NOOP_HEAP_TUNING),
         QString(),
         {}},
        {"an mmap per frame",
         QString(),
         QStringLiteral(NORVANE_NOOP_HEAP_TUNING),
         QStringLiteral("1048576"),
         {}}};
    constexpr int variantCount = sizeof(variants) / sizeof(variants[0]);
    // Alternating, so that a machine busy for a while costs all alike.
    for (int i = 0; i < runs; ++i) {
        for (auto &v : variants)
            v.runs.push_back(startOnce(v, toggles));
    }

    const QString afterMany = QStringLiteral("idle, %1 runs").arg(toggles + 1);
    std::printf("%-27s %9s %8s %9s %10s %10s %12s %9s %5s\n", "", "window ms", "idle MB", "sending",
                "CPU sending", "idle, 1 run", qPrintable(afterMany), "frames/5s", "Mesa");
    enum { Start, Idle, Sending, Cpu, AfterOne, AfterMany, Count };
    double figures[variantCount][Count] = {};
    for (int k = 0; k < variantCount; ++k) {
        const auto &v = variants[k];
        std::vector<double> f[Count], frames;
        bool mesa = false;
        for (const Run &r : v.runs) {
            f[Start].push_back(r.startMs);
            f[Idle].push_back(r.idleKb / 1024.0);
            f[Sending].push_back(r.sendingKb / 1024.0);
            f[Cpu].push_back(r.sendingCpuPercent);
            f[AfterOne].push_back(r.idleAfterOneKb / 1024.0);
            f[AfterMany].push_back(r.idleAfterManyKb / 1024.0);
            frames.push_back(r.frames);
            mesa = mesa || r.mesa;
        }
        for (int i = 0; i < Count; ++i)
            figures[k][i] = median(f[i]);
        std::printf("%-27s %9.0f %8.1f %9.1f %9.1f%% %11.1f %12.1f %9.0f %5s\n", v.name,
                    figures[k][Start], figures[k][Idle], figures[k][Sending], figures[k][Cpu],
                    figures[k][AfterOne], figures[k][AfterMany], median(frames),
                    mesa ? "yes" : "no");
    }
    const char *ratioNames[] = {"", "ratio shipped / Qt default", "ratio shipped / before",
                                "ratio shipped / mmap"};
    for (int k = 1; k < variantCount; ++k) {
        std::printf("%-27s %9.2f %8.2f %9.2f %10.2f %11.2f %12.2f\n", ratioNames[k],
                    figures[0][Start] / figures[k][Start], figures[0][Idle] / figures[k][Idle],
                    figures[0][Sending] / figures[k][Sending], figures[0][Cpu] / figures[k][Cpu],
                    figures[0][AfterOne] / figures[k][AfterOne],
                    figures[0][AfterMany] / figures[k][AfterMany]);
    }
    std::printf("idle after %d runs / after 1 run: shipped %.2f (target at most 1.10), before "
                "%.2f; sending at 1080p: shipped %.1f MB (target at most 95)\n",
                toggles + 1, figures[0][AfterMany] / figures[0][AfterOne],
                figures[2][AfterMany] / figures[2][AfterOne], figures[0][Sending]);
    std::printf("(medians of %d starts each, 1920x1080 Xvfb; sending: after 5 s with a receiver "
                "on loopback; then %d runs of 0.3 s, 0.3 s apart)\n",
                runs, toggles);
    return 0;
}
