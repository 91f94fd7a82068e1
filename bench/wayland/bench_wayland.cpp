// Wayland benchmark, run inside scripts/wayland-session (scripts/bench-wayland): the built
// program publishing a 1920x1080 screen through the desktop portal and PipeWire (headless
// sway), and, in the same run, through the X11 copy on an Xvfb of the same size started here.
// Each start of the program is used as a person would: its resident memory once idle with the
// window shown; a click on send, and a receiver on loopback, for which the runtime compresses;
// CPU per delivered frame, read from /proc for the program, for the display server (sway or
// Xvfb) and, on Wayland, for the portal's screen-copy service and PipeWire, which carry the
// pictures there; resident memory at the end of sending; a click on stop, and resident memory
// once idle again. Each path runs on a still screen (the compositor then sends one picture and
// nothing more) and with a full-screen window repainting every 16 ms. The runs alternate
// between the paths; the figures are medians with their range, the ratios medians of each
// run's Wayland/X11 ratio.
//
//   bench_wayland [--seconds N] [--warmup N] [--runs N]
#include "NdiReceiver.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QRasterWindow>
#include <QSize>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

const int width = 1920;
const int height = 1080;
// The send button's centre in the window (its frame sits at 10,5).
const QPoint sendButton(10 + 332 + 44, 5 + 275 + 13);
// How long the program is left alone before its memory is read.
const int settleMs = 2000;

// The processes of this PID namespace whose command name starts with name.
std::vector<qint64> pidsNamed(const QByteArray &name)
{
    std::vector<qint64> found;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        QFile comm(QString("/proc/%1/comm").arg(entry));
        if (isPid && comm.open(QIODevice::ReadOnly) && comm.readAll().startsWith(name))
            found.push_back(pid);
    }
    return found;
}

double cpuMsOfAll(const std::vector<qint64> &pids)
{
    double sum = 0;
    for (qint64 pid : pids)
        sum += cpuMsOf(pid);
    return sum;
}

// Runs a tool on the program's display: its output, and in ok whether it succeeded.
QString runTool(const QProcessEnvironment &env, const QString &program,
                const QStringList &arguments, int timeoutMs, bool &ok)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, arguments);
    const bool finished = p.waitForFinished(timeoutMs);
    if (!finished)
        p.kill();
    p.waitForFinished(5000);
    ok = finished && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

// The built program on one of the two displays, its window found and clicked as each display
// allows: on sway, moved to the output's corner and clicked through a virtual pointer; on the
// Xvfb, which has no window manager, found by its process and clicked with xdotool.
class Program
{
public:
    Program(bool wayland, const QProcessEnvironment &env) : wayland(wayland), env(env)
    {
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    }
    ~Program()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished(5000);
    }
    bool start()
    {
        process.start(QStringLiteral(NORVANE_EXE), QStringList());
        if (!process.waitForStarted(5000))
            return false;
        bool ok = false;
        if (!wayland) {
            window = runTool(env, "xdotool",
                             {"search", "--sync", "--onlyvisible", "--pid",
                              QString::number(process.processId())},
                             20000, ok)
                         .section('\n', 0, 0);
            return ok && !window.isEmpty();
        }
        // Found once sway can move it.
        for (int i = 0; i < 200 && !ok; ++i) {
            runTool(env, "swaymsg", {"-q", "[app_id=\"norvane\"]", "move", "position", "0", "0"},
                    5000, ok);
            if (!ok)
                QThread::msleep(100);
        }
        return ok;
    }
    bool clickSend()
    {
        bool ok = false;
        const QString x = QString::number(sendButton.x()), y = QString::number(sendButton.y());
        if (wayland)
            runTool(env, QStringLiteral(NORVANE_VIRTUAL_POINTER),
                    {x, y, QString::number(width), QString::number(height)}, 15000, ok);
        else
            runTool(env, "xdotool", {"mousemove", "--window", window, x, y, "click", "1"}, 15000,
                    ok);
        return ok;
    }
    qint64 pid() const { return process.processId(); }
    double residentMb() const { return statusKb(pid(), "VmRSS:") / 1024.0; }

private:
    bool wayland;
    QProcessEnvironment env;
    QProcess process;
    QString window;
};

// A full-screen window that changes colour every 16 ms, on the session's display.
class Animation : public QRasterWindow
{
protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter(this).fillRect(QRect(QPoint(), size()),
                                QColor::fromHsv(int(++turn * 7 % 360), 200, 200));
    }

private:
    unsigned turn = 0;
};

int runAnimation(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    Animation window;
    window.showFullScreen();
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &window, [&] { window.update(); });
    timer.start(16);
    return app.exec();
}

struct Result
{
    bool ok = false;
    double fps = 0;
    double programMs = 0; // CPU per delivered frame
    double serverMs = 0;
    double carrierMs = 0; // portal service + PipeWire (Wayland only)
    double idleMb = 0;
    double sendingMb = 0;
    double afterMb = 0;
    QSize size;
    double allMs() const { return programMs + serverMs + carrierMs; }
};

Result measure(bool wayland, const QProcessEnvironment &env, qint64 serverPid,
               const std::vector<qint64> &carriers, int seconds, int warmup, bool changing)
{
    Result r;
    // The runtime lets one process of the machine send under a name: the last start's.
    waitForSenderNameFree("NDI", 120000);
    const auto failed = [&](const char *what) {
        std::fprintf(stderr, "bench_wayland: %s: %s\n", wayland ? "Wayland" : "X11", what);
        r.ok = false;
        return r;
    };
    Program program(wayland, env);
    if (!program.start())
        return failed("no window");
    QThread::msleep(settleMs);
    r.idleMb = program.residentMb();
    if (!program.clickSend())
        return failed("no click");
    // Started after the click: a full-screen window over the program would take it.
    QProcess animation;
    if (changing) {
        QProcessEnvironment shown = env;
        shown.insert("QT_QPA_PLATFORM", wayland ? "wayland" : "xcb");
        animation.setProcessEnvironment(shown);
        animation.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        animation.start(QCoreApplication::applicationFilePath(), {"--animate"});
        animation.waitForStarted(5000);
    }
    NdiReceiver receiver;
    receiver.setKeepPixels(false);
    if (!receiver.connect(NdiReceiver::localSourceName(), 30000) || !receiver.receiveFrame(20000))
        failed("no frame received");
    else {
        receiver.receiveFor(warmup * 1000);
        const double program0 = cpuMsOf(program.pid());
        const double server0 = cpuMsOf(serverPid);
        const double carriers0 = cpuMsOfAll(carriers);
        const std::int64_t t0 = NdiReceiver::steadyNs();
        const int frames = receiver.receiveFor(seconds * 1000);
        const double elapsed = (NdiReceiver::steadyNs() - t0) / 1e9;
        r.sendingMb = program.residentMb();
        if (frames > 0) {
            r.fps = frames / elapsed;
            r.programMs = (cpuMsOf(program.pid()) - program0) / frames;
            r.serverMs = (cpuMsOf(serverPid) - server0) / frames;
            r.carrierMs = (cpuMsOfAll(carriers) - carriers0) / frames;
            r.size = QSize(receiver.lastFrame().width, receiver.lastFrame().height);
            r.ok = true;
        }
    }
    if (changing) {
        animation.terminate();
        if (!animation.waitForFinished(5000))
            animation.kill();
    }
    // Stopped as a person would, the receiver still connected. The stop is seen at the
    // receiver: past the frames on their way and the black one of the stop, nothing comes.
    // A click the window did not take (the animation's window still closing over it) is
    // made again.
    bool stopped = false;
    for (int click = 0; r.ok && click < 3 && !stopped; ++click) {
        r.ok = program.clickSend();
        receiver.receiveFor(500);
        stopped = receiver.receiveFor(1000) == 0;
    }
    if (r.ok && !stopped)
        return failed("sending did not stop");
    QThread::msleep(settleMs);
    r.afterMb = program.residentMb();
    return r;
}

// The median of one figure over the runs, with its range.
struct Spread
{
    double median = 0, low = 0, high = 0;
};
template <typename F> Spread spread(const std::vector<Result> &runs, F figure)
{
    std::vector<double> v;
    for (const Result &r : runs)
        v.push_back(figure(r));
    std::sort(v.begin(), v.end());
    if (v.empty())
        return Spread();
    return Spread{v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2,
                  v.front(), v.back()};
}
template <typename F>
Spread ratio(const std::vector<Result> &w, const std::vector<Result> &x, F figure)
{
    std::vector<Result> ratios(w.size());
    for (std::size_t i = 0; i < w.size(); ++i)
        ratios[i].fps = figure(w[i]) / figure(x[i]);
    return spread(ratios, [](const Result &r) { return r.fps; });
}
std::string show(const Spread &s, const char *format)
{
    char median[32], low[32], high[32], text[128];
    std::snprintf(median, sizeof median, format, s.median);
    std::snprintf(low, sizeof low, format, s.low);
    std::snprintf(high, sizeof high, format, s.high);
    std::snprintf(text, sizeof text, "%s (%s-%s)", median, low, high);
    return text;
}

void print(const char *path, const std::vector<Result> &runs, const char *server, bool carriers)
{
    const QSize size = runs.front().size;
    std::printf("  %-8s %dx%d, %s fps received\n", path, size.width(), size.height(),
                show(spread(runs, [](const Result &r) { return r.fps; }), "%.2f").c_str());
    std::printf("           CPU per delivered frame: program %s ms, %s %s ms",
                show(spread(runs, [](const Result &r) { return r.programMs; }), "%.2f").c_str(),
                server,
                show(spread(runs, [](const Result &r) { return r.serverMs; }), "%.2f").c_str());
    if (carriers)
        std::printf(
            ", portal service + PipeWire %s ms",
            show(spread(runs, [](const Result &r) { return r.carrierMs; }), "%.2f").c_str());
    std::printf("; all %s ms\n",
                show(spread(runs, [](const Result &r) { return r.allMs(); }), "%.2f").c_str());
    std::printf("           resident memory: idle %s MB, sending %s MB, idle after the run %s MB\n",
                show(spread(runs, [](const Result &r) { return r.idleMb; }), "%.1f").c_str(),
                show(spread(runs, [](const Result &r) { return r.sendingMb; }), "%.1f").c_str(),
                show(spread(runs, [](const Result &r) { return r.afterMb; }), "%.1f").c_str());
}

int orchestrate(int seconds, int warmup, int runs)
{
    const qint64 sway = qEnvironmentVariableIntValue("NORVANE_COMPOSITOR_PID");
    if (sway <= 0 || qgetenv("XDG_CURRENT_DESKTOP") != "sway") {
        std::fprintf(stderr, "bench_wayland: run inside scripts/wayland-session on sway\n");
        return 1;
    }
    // The seat's pointer, there before the program starts: clients take up a seat's pointer
    // only when it appears.
    QProcess pointer;
    pointer.start(QStringLiteral(NORVANE_VIRTUAL_POINTER), QStringList());
    if (!pointer.waitForReadyRead(10000) || pointer.readLine().trimmed() != "ready") {
        std::fprintf(stderr, "bench_wayland: no virtual pointer on sway's seat\n");
        return 1;
    }

    // An X server of the same size for the X11 path, started here so that /proc shows it.
    QProcess xvfb;
    xvfb.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    xvfb.start("Xvfb", {":77", "-screen", "0", QString("%1x%2x24").arg(width).arg(height),
                        "-nolisten", "tcp", "-noreset"});
    for (int i = 0; i < 100 && !QFile::exists("/tmp/.X11-unix/X77"); ++i)
        QThread::msleep(100);
    if (!QFile::exists("/tmp/.X11-unix/X77")) {
        std::fprintf(stderr, "bench_wayland: Xvfb did not start\n");
        return 1;
    }

    QProcessEnvironment wayland = QProcessEnvironment::systemEnvironment();
    wayland.remove("DISPLAY");
    wayland.remove("QT_QPA_PLATFORM");
    QProcessEnvironment x11 = wayland;
    x11.remove("WAYLAND_DISPLAY");
    x11.insert("XDG_SESSION_TYPE", "x11");
    x11.insert("DISPLAY", ":77");

    std::printf("Wayland benchmark: the program at %dx%d, %d s per path after %d s warm-up, "
                "%d runs (medians, range in brackets); a receiver on loopback\n",
                width, height, seconds, warmup, runs);
    std::fflush(stdout);
    std::vector<qint64> carriers = pidsNamed("xdg-desktop-po");
    for (qint64 pid : pidsNamed("pipewire"))
        carriers.push_back(pid);
    int status = 0;
    for (bool changing : {false, true}) {
        std::vector<Result> w, x;
        for (int i = 0; i < runs; ++i) {
            w.push_back(measure(true, wayland, sway, carriers, seconds, warmup, changing));
            x.push_back(measure(false, x11, xvfb.processId(), {}, seconds, warmup, changing));
            if (!w.back().ok || !x.back().ok) {
                std::printf("  run failed (Wayland %d, X11 %d)\n", w.back().ok, x.back().ok);
                w.pop_back();
                x.pop_back();
                status = 1;
            }
        }
        std::printf("%s\n", changing ? "screen changing every 16 ms" : "still screen");
        if (w.empty())
            continue;
        print("Wayland", w, "sway", true);
        print("X11", x, "Xvfb", false);
        std::printf(
            "  ratio Wayland/X11: fps %s; CPU per frame: program %s, all %s; memory: idle %s, "
            "sending %s, idle after the run %s\n",
            show(ratio(w, x, [](const Result &r) { return r.fps; }), "%.3f").c_str(),
            show(ratio(w, x, [](const Result &r) { return r.programMs; }), "%.2f").c_str(),
            show(ratio(w, x, [](const Result &r) { return r.allMs(); }), "%.2f").c_str(),
            show(ratio(w, x, [](const Result &r) { return r.idleMb; }), "%.2f").c_str(),
            show(ratio(w, x, [](const Result &r) { return r.sendingMb; }), "%.2f").c_str(),
            show(ratio(w, x, [](const Result &r) { return r.afterMb; }), "%.2f").c_str());
        std::fflush(stdout);
    }
    std::printf("(targets: each Wayland/X11 ratio of memory, and of the program's CPU per frame "
                "on the changing screen, at most 1.10; X11 sending at most 95 MB)\n");
    pointer.closeWriteChannel();
    pointer.waitForFinished(5000);
    xvfb.terminate();
    xvfb.waitForFinished(5000);
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && std::string(argv[1]) == "--animate")
        return runAnimation(argc, argv);
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int seconds = 20, warmup = 3, runs = 3;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--warmup")
            warmup = args[i + 1].toInt();
        else if (args[i] == "--runs")
            runs = std::max(1, args[i + 1].toInt());
    }
    return orchestrate(seconds, warmup, runs);
}
