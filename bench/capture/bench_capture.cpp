// Capture benchmark, run on an X server of its own (scripts/bench-capture):
//  - frames per second the engine fills while a consumer takes them as fast as it can, and
//    the CPU each frame costs this process and the X server;
//  - CPU of this process while the queue is full and nobody takes a frame;
//  - the same figures for ffmpeg's x11grab (MIT-SHM as well) on the same screen, and the
//    ratios.
#include "XCaptureThread.h"
#include "XcbConnection.h"

#include "BenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <xcb/xcb.h>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char **environ;

namespace {

double childrenCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}

// The X server is the Xvfb that scripts/ns-run started beside this process: a child of the
// same parent. NORVANE_XSERVER_PID names it when the bench runs elsewhere.
long xServerPid()
{
    if (const char *given = std::getenv("NORVANE_XSERVER_PID"))
        return std::atol(given);
    const QDir proc("/proc");
    for (const QString &entry : proc.entryList(QDir::Dirs)) {
        bool isPid = false;
        const long pid = entry.toLong(&isPid);
        if (!isPid)
            continue;
        QFile f(QString("/proc/%1/stat").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray stat = f.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        if (stat.contains("(Xvfb)") && fields.size() > 1 && fields[1].toLong() == getppid())
            return pid;
    }
    return 0;
}

bool rootSize(int &width, int &height)
{
    const XcbConnection x;
    if (!x)
        return false;
    width = x.screen()->width_in_pixels;
    height = x.screen()->height_in_pixels;
    return true;
}

struct Figures
{
    int frames = 0;
    double seconds = 0;
    double processMs = 0;
    double serverMs = 0;
    double fps() const { return frames / seconds; }
    double processPerFrame() const { return processMs / frames; }
    double serverPerFrame() const { return serverMs / frames; }
    double totalPerFrame() const { return (processMs + serverMs) / frames; }
};

Figures benchEngine(int width, int height, int frames, long xpid)
{
    XCaptureThread &engine = XCaptureThread::instance();
    // Warm up: the first frames pay for the segment and the first page faults.
    engine.startCapture(width, height, 0, 0);
    for (int i = 0; i < 5; ++i)
        engine.waitFrame(5000);

    Figures f;
    const double processBefore = cpuMsOf(getpid());
    const double serverBefore = cpuMsOf(xpid);
    QElapsedTimer timer;
    timer.start();
    while (f.frames < frames) {
        if (engine.waitFrame(5000))
            ++f.frames;
        else
            break;
    }
    f.seconds = timer.nsecsElapsed() / 1e9;
    f.processMs = cpuMsOf(getpid()) - processBefore;
    f.serverMs = cpuMsOf(xpid) - serverBefore;
    engine.stopCapture();
    return f;
}

// Percent of one core this process uses over `seconds` while the queue is full.
double idleWhileFull(int width, int height, double seconds)
{
    XCaptureThread &engine = XCaptureThread::instance();
    engine.startCapture(width, height, 0, 0);
    QThread::msleep(500); // three frames are captured, then the capture thread sleeps
    const double before = cpuMsOf(getpid());
    QElapsedTimer timer;
    timer.start();
    QThread::msleep(static_cast<unsigned long>(seconds * 1000));
    const double spent = cpuMsOf(getpid()) - before;
    const double wall = timer.elapsed();
    engine.stopCapture();
    return 100.0 * spent / wall;
}

// ffmpeg's x11grab as fast as it can (the frame rate asked for is far above what it reaches),
// rawvideo bgr0 to the null muxer, `frames` frames plus its start-up.
bool benchX11grab(int width, int height, int frames, long xpid, const std::string &display,
                  Figures &f)
{
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string count = std::to_string(frames);
    const std::string input = display + "+0,0";
    std::vector<std::string> args{"ffmpeg", "-nostdin",   "-hide_banner", "-loglevel",
                                  "error",  "-f",         "x11grab",      "-draw_mouse",
                                  "0",      "-framerate", "1000",         "-video_size",
                                  size,     "-i",         input,          "-frames:v",
                                  count,    "-c:v",       "rawvideo",     "-pix_fmt",
                                  "bgr0",   "-f",         "null",         "-"};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const double childrenBefore = childrenCpuMs();
    const double serverBefore = cpuMsOf(xpid);
    QElapsedTimer timer;
    timer.start();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    waitpid(pid, &status, 0);
    f.seconds = timer.nsecsElapsed() / 1e9;
    f.processMs = childrenCpuMs() - childrenBefore;
    f.serverMs = cpuMsOf(xpid) - serverBefore;
    f.frames = frames;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void printRow(const char *name, const Figures &f)
{
    std::printf("  %-22s %7.1f fps  %7.2f ms/frame process  %7.2f ms/frame X server  %7.2f "
                "ms/frame together\n",
                name, f.fps(), f.processPerFrame(), f.serverPerFrame(), f.totalPerFrame());
}

} // namespace

int main(int argc, char **argv)
{
    const char *displayEnv = std::getenv("DISPLAY");
    int width = 0, height = 0;
    if (!displayEnv || !rootSize(width, height)) {
        std::fprintf(stderr, "bench_capture: no X server (run it inside scripts/ns-run)\n");
        return 1;
    }
    const std::string display = displayEnv;
    const long xpid = xServerPid();
    if (xpid <= 0) {
        std::fprintf(stderr, "bench_capture: cannot find the X server's pid for %s\n",
                     display.c_str());
        return 1;
    }
    // Enough frames for a few seconds of either; fewer for 4K, which is four times the work.
    int frames = width * height > 1920 * 1080 ? 150 : 400;
    if (argc > 1)
        frames = std::atoi(argv[1]);

    std::printf("screen %dx%d, %d frames each\n", width, height, frames);
    const Figures engine = benchEngine(width, height, frames, xpid);
    Figures grab;
    const bool grabbed = benchX11grab(width, height, frames, xpid, display, grab);
    printRow("capture engine", engine);
    if (grabbed)
        printRow("ffmpeg x11grab", grab);
    else
        std::printf("  ffmpeg x11grab: did not run\n");
    const double idle = idleWhileFull(width, height, 3.0);

    if (grabbed) {
        std::printf("  ratio engine/x11grab: CPU per frame %.2f (target <= 1.5), fps %.2f\n",
                    engine.totalPerFrame() / grab.totalPerFrame(), engine.fps() / grab.fps());
    }
    std::printf("  idle CPU while the queue is full: %.2f %% of a core (target < 1 %%)\n", idle);
    return 0;
}
