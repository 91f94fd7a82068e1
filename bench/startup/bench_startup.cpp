// Start-up benchmark: starts the built program on the X server, measures the time from the
// start until its window is mapped, its resident memory once idle, and again after 5 s of
// sending the 1920x1080 screen to a receiver on loopback. Each figure is the median of several
// starts. The peer, in the same run, is the same program with Qt's default GLX integration,
// which it would load without its own QT_XCB_GL_INTEGRATION=none.
//
//   bench_startup [--runs N]
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
    bool mesa = false;
    int frames = 0;
};

Run startOnce(const QString &glIntegration)
{
    Run run;
    MapWatch watch;
    QProcess app;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("QT_QPA_PLATFORM");
    if (glIntegration.isEmpty())
        env.remove("QT_XCB_GL_INTEGRATION");
    else
        env.insert("QT_XCB_GL_INTEGRATION", glIntegration);
    app.setProcessEnvironment(env);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    app.start(QStringLiteral(NORVANE_EXE), QStringList());
    if (!app.waitForStarted(5000))
        return run;
    const xcb_window_t window = watch.waitForWindowOf(app.processId(), 20000);
    run.startMs = clock.nsecsElapsed() / 1e6;
    if (window) {
        QThread::msleep(2000);
        run.idleKb = statusKb(app.processId(), "VmRSS:");
        run.mesa =
            mapsLibrary(app.processId(), "swrast_dri") || mapsLibrary(app.processId(), "libLLVM");
        // The send button: frame at (10, 5), the button at (332, 275), 88 x 26.
        runTool("xdotool",
                {"mousemove", "--window", QString::number(window), "386", "293", "click", "1"});
        NdiReceiver receiver;
        receiver.setKeepPixels(false);
        if (receiver.connect(NdiReceiver::localSourceName(), 20000)) {
            run.frames = receiver.receiveFor(5000);
            run.sendingKb = statusKb(app.processId(), "VmRSS:");
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
    int runs = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
    }
    struct Variant
    {
        const char *name;
        QString gl;
        std::vector<Run> runs;
    } variants[] = {{"as shipped (no OpenGL)", QString(), {}},
                    {"Qt's default (GLX, Mesa)", QStringLiteral("xcb_glx"), {}}};
    // Alternating, so that a machine busy for a while costs both alike.
    for (int i = 0; i < runs; ++i) {
        for (auto &v : variants)
            v.runs.push_back(startOnce(v.gl));
    }

    std::printf("%-26s %12s %12s %14s %8s %6s\n", "", "window (ms)", "idle RSS MB",
                "sending RSS MB", "frames/5s", "Mesa");
    double figures[2][3] = {};
    for (int k = 0; k < 2; ++k) {
        auto &v = variants[k];
        std::vector<double> ms, idle, sending, frames;
        bool mesa = false;
        for (const Run &r : v.runs) {
            ms.push_back(r.startMs);
            idle.push_back(r.idleKb / 1024.0);
            sending.push_back(r.sendingKb / 1024.0);
            frames.push_back(r.frames);
            mesa = mesa || r.mesa;
        }
        figures[k][0] = median(ms);
        figures[k][1] = median(idle);
        figures[k][2] = median(sending);
        std::printf("%-26s %12.0f %12.1f %14.1f %8.0f %6s\n", v.name, figures[k][0], figures[k][1],
                    figures[k][2], median(frames), mesa ? "yes" : "no");
    }
    std::printf("%-26s %12.2f %12.2f %14.2f\n", "ratio shipped / default",
                figures[0][0] / figures[1][0], figures[0][1] / figures[1][1],
                figures[0][2] / figures[1][2]);
    std::printf("(medians of %d starts each, 1920x1080 Xvfb, the sending figure after 5 s with "
                "a receiver on loopback)\n",
                runs);
    return 0;
}
