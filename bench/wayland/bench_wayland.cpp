// Wayland benchmark, run inside scripts/wayland-session (scripts/bench-wayland): the send
// pipeline publishing a 1920x1080 screen through the desktop portal and PipeWire (headless
// sway), and, in the same run, through the X11 copy on an Xvfb of the same size started here.
// A receiver on loopback counts frames; CPU per delivered frame is read from /proc for the
// sending process, for the display server (sway or Xvfb) and, on Wayland, for the portal's
// screen-copy service and PipeWire, which carry the pictures there. Each path runs twice: on
// a still screen (the compositor then sends one picture and nothing more) and with a
// full-screen window repainting every 16 ms.
//
//   bench_wayland [--seconds N] [--warmup N]
#include "NdiReceiver.h"
#include "SendThread.h"

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

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

namespace {

const int width = 1920;
const int height = 1080;

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

// The sending process: the engines with the platform's screen copy, until stdin closes.
int runEngine()
{
    waitForSenderNameFree("NDI", 120000);
    SendThread engine(nullptr);
    if (!engine.initNDI()) {
        std::fprintf(stderr, "bench_wayland: no NDI sender\n");
        return 1;
    }
    engine.startSend(width, height, 0, 0);
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    engine.stopSend();
    return 0;
}

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
    int frames = 0;
    double programMs = 0; // CPU per delivered frame
    double serverMs = 0;
    double carrierMs = 0; // portal service + PipeWire (Wayland only)
    QSize size;
};

Result measure(const QProcessEnvironment &env, qint64 serverPid,
               const std::vector<qint64> &carriers, int seconds, int warmup, bool changing)
{
    Result r;
    QProcess animation;
    if (changing) {
        QProcessEnvironment shown = env;
        shown.insert("QT_QPA_PLATFORM", env.contains("WAYLAND_DISPLAY") ? "wayland" : "xcb");
        animation.setProcessEnvironment(shown);
        animation.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        animation.start(QCoreApplication::applicationFilePath(), {"--animate"});
        animation.waitForStarted(5000);
        QThread::msleep(1000);
    }
    QProcess sender;
    sender.setProcessEnvironment(env);
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start(QCoreApplication::applicationFilePath(), {"--engine"});
    while (!sender.canReadLine()) {
        if (!sender.waitForReadyRead(30000))
            return r;
    }
    if (sender.readLine().trimmed() != "ready")
        return r;

    NdiReceiver receiver;
    receiver.setKeepPixels(false);
    if (receiver.connect(NdiReceiver::localSourceName(), 30000) && receiver.receiveFrame(20000)) {
        receiver.receiveFor(warmup * 1000);
        const double program0 = cpuMsOf(sender.processId());
        const double server0 = cpuMsOf(serverPid);
        const double carriers0 = cpuMsOfAll(carriers);
        const std::int64_t t0 = NdiReceiver::steadyNs();
        r.frames = receiver.receiveFor(seconds * 1000);
        const double elapsed = (NdiReceiver::steadyNs() - t0) / 1e9;
        if (r.frames > 0) {
            r.fps = r.frames / elapsed;
            r.programMs = (cpuMsOf(sender.processId()) - program0) / r.frames;
            r.serverMs = (cpuMsOf(serverPid) - server0) / r.frames;
            r.carrierMs = (cpuMsOfAll(carriers) - carriers0) / r.frames;
            r.size = QSize(receiver.lastFrame().width, receiver.lastFrame().height);
            r.ok = true;
        }
    }
    sender.closeWriteChannel();
    if (!sender.waitForFinished(30000))
        sender.kill();
    if (changing) {
        animation.terminate();
        if (!animation.waitForFinished(5000))
            animation.kill();
    }
    return r;
}

void print(const char *path, const Result &r, const char *server, bool carriers)
{
    std::printf("  %-8s %dx%d, %.2f fps received (%d frames); CPU per delivered frame: program "
                "%.2f ms, %s %.2f ms",
                path, r.size.width(), r.size.height(), r.fps, r.frames, r.programMs, server,
                r.serverMs);
    if (carriers)
        std::printf(", portal service + PipeWire %.2f ms", r.carrierMs);
    std::printf("; all %.2f ms\n", r.programMs + r.serverMs + r.carrierMs);
}

int orchestrate(int seconds, int warmup)
{
    const qint64 sway = qEnvironmentVariableIntValue("NORVANE_COMPOSITOR_PID");
    if (sway <= 0) {
        std::fprintf(stderr, "bench_wayland: run inside scripts/wayland-session\n");
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
    QProcessEnvironment x11 = QProcessEnvironment::systemEnvironment();
    x11.remove("WAYLAND_DISPLAY");
    x11.insert("XDG_SESSION_TYPE", "x11");
    x11.insert("DISPLAY", ":77");

    std::printf("Wayland benchmark: %dx%d, %d s per path after %d s warm-up; "
                "receiver on loopback\n",
                width, height, seconds, warmup);
    std::vector<qint64> carriers = pidsNamed("xdg-desktop-po");
    for (qint64 pid : pidsNamed("pipewire"))
        carriers.push_back(pid);
    int status = 0;
    for (bool changing : {false, true}) {
        std::printf("%s\n", changing ? "screen changing every 16 ms" : "still screen");
        std::fflush(stdout);
        const Result w = measure(wayland, sway, carriers, seconds, warmup, changing);
        const Result x = measure(x11, xvfb.processId(), {}, seconds, warmup, changing);
        if (!w.ok || !x.ok) {
            std::printf("  run failed (Wayland %d, X11 %d)\n", w.ok, x.ok);
            status = 1;
            continue;
        }
        print("Wayland", w, "sway", true);
        print("X11", x, "Xvfb", false);
        std::printf("  ratio Wayland/X11: fps %.3f, CPU per frame program %.2f, all %.2f\n",
                    w.fps / x.fps, w.programMs / x.programMs,
                    (w.programMs + w.serverMs + w.carrierMs) / (x.programMs + x.serverMs));
        std::fflush(stdout);
    }
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
    if (args.size() == 2 && args[1] == "--engine")
        return runEngine();
    int seconds = 20, warmup = 3;
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--warmup")
            warmup = args[i + 1].toInt();
    }
    return orchestrate(seconds, warmup);
}
