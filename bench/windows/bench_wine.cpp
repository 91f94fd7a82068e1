// Wine benchmark: where the time goes when the Windows program sends under Wine. Runs
// bench_wine_sender.exe under Wine (the program's engines with the GDI copy, then the bare
// runtime sending synthetic frames as the peer, same DLL), receives on the Linux runtime by
// address, and prints: send calls per second and the rate the window would show, frames
// received per second, the send call's duration, and the CPU of the Wine processes, of Xvfb
// and of the receiver; then the cost of one GDI copy of the screen.
//
//   bench_wine <bench_wine_sender.exe> [--seconds N] [--size WxH] [--flat]
// The screen shows XRoot's pattern (smooth gradients, every pixel different), or with --flat
// the bare Xvfb root, which costs the encoder next to nothing.
// Run inside scripts/ns-run (scripts/bench-wine).
#include "NdiReceiver.h"
#include "Wine.h"
#include "XRoot.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

#include <cstdio>
#include <map>
#include <string>

#include <unistd.h>

namespace {

using Fields = std::map<std::string, double>;

Fields fields(const QByteArray &line)
{
    Fields out;
    for (const QByteArray &kv : line.trimmed().split(' ')) {
        const int eq = kv.indexOf('=');
        if (eq > 0)
            out[kv.left(eq).toStdString()] = kv.mid(eq + 1).toDouble();
    }
    return out;
}

// The Xvfb that scripts/ns-run started for this run: the one whose parent is an ancestor.
long ownXvfb()
{
    QList<long> ancestors;
    for (long pid = getppid(); pid > 1;) {
        ancestors << pid;
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            break;
        pid = stat.readAll().split(')').value(1).trimmed().split(' ').value(1).toLong();
    }
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        if (text.contains("(Xvfb)") &&
            ancestors.contains(text.split(')').value(1).trimmed().split(' ').value(1).toLong()))
            return entry.toLong();
    }
    return 0;
}

// The Wine sender's TCP connections as ss shows them: bytes sent so far, and the smallest send
// buffer the kernel gives them (skmem tb). Wine keeps its sockets in wineserver.
struct Connection
{
    double bytesSent = 0;
    long sendBuffer = 0;
};

Connection wineConnections()
{
    QProcess ss;
    ss.start(QStringLiteral("ss"), {"-tinmpH", "state", "established"});
    ss.waitForFinished(5000);
    Connection c;
    bool wine = false;
    const QRegularExpression sent(QStringLiteral(R"(bytes_sent:(\d+))")),
        buffer(QStringLiteral(R"(skmem:\(\S*,tb(\d+))"));
    for (const QString &line : QString::fromLocal8Bit(ss.readAllStandardOutput()).split('\n')) {
        if (!line.startsWith(' ') && !line.startsWith('\t')) {
            wine = line.contains(QLatin1String("wineserver"));
            continue;
        }
        if (!wine)
            continue;
        c.bytesSent += sent.match(line).captured(1).toDouble();
        const long tb = buffer.match(line).captured(1).toLong();
        if (tb && (!c.sendBuffer || tb < c.sendBuffer))
            c.sendBuffer = tb;
    }
    return c;
}

struct Cpu
{
    double wine = 0, xvfb = 0, self = 0;
};

Cpu readCpu(const WinePrefix &wine, long xvfb)
{
    Cpu c;
    for (long pid : wine.processes())
        c.wine += cpuMsOf(pid);
    c.xvfb = cpuMsOf(xvfb);
    c.self = cpuMsOf(getpid());
    return c;
}

struct Run
{
    bool ok = false;
    Fields sent;
    double fps = 0, gapMs = 0, seconds = 0;
    Cpu cpu;
    double bytesPerSecond = 0;
    long sendBuffer = 0;
};

Run measure(const WinePrefix &wine, const QString &exe, const QString &mode, const QString &size,
            int seconds, long xvfb)
{
    Run r;
    const QList<int> before = WinePrefix::listeningPorts();
    QProcess sender;
    sender.setProcessEnvironment(wine.environment());
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start(wine.wine(), {exe, mode, size});
    if (readLine(sender, 60000).trimmed() != "ready")
        return r;
    const int port = WinePrefix::newListeningPort(before, 30000);
    NdiReceiver receiver;
    receiver.setKeepPixels(false);
    if (port && receiver.connectToAddress("127.0.0.1:" + std::to_string(port)) &&
        receiver.receiveFrame(20000)) {
        receiver.receiveFor(3000); // settle
        std::int64_t last = 0, longest = 0;
        receiver.onFrame = [&](const NDIlib_video_frame_v2_t &, std::int64_t at) {
            if (last)
                longest = std::max(longest, at - last);
            last = at;
        };
        const Cpu c0 = readCpu(wine, xvfb);
        const Connection n0 = wineConnections();
        const std::int64_t t0 = NdiReceiver::steadyNs();
        sender.write("mark\n");
        sender.waitForBytesWritten(5000);
        const int frames = receiver.receiveFor(seconds * 1000);
        r.seconds = (NdiReceiver::steadyNs() - t0) / 1e9;
        const Cpu c1 = readCpu(wine, xvfb);
        const Connection n1 = wineConnections();
        sender.write("stop\n");
        sender.waitForBytesWritten(5000);
        r.cpu = {c1.wine - c0.wine, c1.xvfb - c0.xvfb, c1.self - c0.self};
        r.bytesPerSecond = (n1.bytesSent - n0.bytesSent) / r.seconds;
        r.sendBuffer = n1.sendBuffer;
        r.fps = frames / r.seconds;
        r.gapMs = longest / 1e6;
        r.sent = fields(readLine(sender, 30000));
        r.ok = !r.sent.empty();
    }
    sender.closeWriteChannel();
    if (!sender.waitForFinished(30000))
        sender.kill();
    return r;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr,
                     "usage: bench_wine <bench_wine_sender.exe> [--seconds N] [--size WxH]\n");
        return 2;
    }
    const QString exe = args[1];
    int seconds = 20;
    QString size = QStringLiteral("1920x1080");
    bool flat = false;
    for (int i = 2; i < args.size(); ++i) {
        if (args[i] == "--seconds" && i + 1 < args.size())
            seconds = args[++i].toInt();
        else if (args[i] == "--size" && i + 1 < args.size())
            size = args[++i];
        else if (args[i] == "--flat")
            flat = true;
    }
    XRoot root;
    if (!flat && !root.paintPattern()) {
        std::fprintf(stderr, "bench_wine: could not paint the screen\n");
        return 1;
    }
    WinePrefix wine;
    const QString why = wine.prepare(QFileInfo(exe).absolutePath() + "/bench-wine");
    if (!why.isEmpty()) {
        std::fprintf(stderr, "bench_wine: %s\n", qPrintable(why));
        return 1;
    }
    const long xvfb = ownXvfb();
    const int cores = int(sysconf(_SC_NPROCESSORS_ONLN));

    std::printf("Wine benchmark, %s, %s screen, %d s per run, %d cores; receiver on the Linux "
                "runtime by address\n",
                qPrintable(size), flat ? "flat" : "patterned", seconds, cores);
    const Run engine = measure(wine, exe, "engine", size, seconds, xvfb);
    wine.waitForEnd(30000);
    const Run peer = measure(wine, exe, "peer", size, seconds, xvfb);
    wine.waitForEnd(30000);
    if (!engine.ok || !peer.ok) {
        std::printf("a run failed (engine %d, peer %d)\n", engine.ok, peer.ok);
        return 1;
    }
    auto share = [](double ms, const Run &r) { return ms / (r.seconds * 10.0); }; // % of a core
    const Run *runs[] = {&engine, &peer};
    const char *names[] = {"engine (GDI copy + send engine)",
                           "peer (same DLL, one copy of the screen sent over and over)"};
    for (int i = 0; i < 2; ++i) {
        const Run &r = *runs[i];
        std::printf("\n%s\n", names[i]);
        std::printf("  send calls per second %.2f; rate the window shows %.2f\n",
                    r.sent.at("call_fps"), r.sent.at("label_fps"));
        std::printf("  send call median %.1f ms, 95th percentile %.1f ms; longest gap between "
                    "calls %.1f ms\n",
                    r.sent.at("call_p50_ms"), r.sent.at("call_p95_ms"),
                    r.sent.at("call_gap_max_ms"));
        std::printf("  frames received per second %.2f; longest gap %.1f ms\n", r.fps, r.gapMs);
        std::printf("  the connection: %.2f MB/s sent, %.0f KB per received frame; the kernel's "
                    "send buffer for it %ld bytes\n",
                    r.bytesPerSecond / 1e6, r.bytesPerSecond / r.fps / 1e3, r.sendBuffer);
        std::printf("  CPU, %% of one core: sender as Wine counts it %.0f, all Wine processes "
                    "%.0f, Xvfb %.0f, receiver %.0f; sum %.0f of %d\n",
                    share(r.sent.at("cpu_ms"), r), share(r.cpu.wine, r), share(r.cpu.xvfb, r),
                    share(r.cpu.self, r), share(r.cpu.wine + r.cpu.xvfb + r.cpu.self, r),
                    cores * 100);
    }
    std::printf("\nratio engine/peer: frames received %.3f, send calls %.3f\n",
                engine.fps / peer.fps, engine.sent.at("call_fps") / peer.sent.at("call_fps"));

    // One GDI copy of the screen, alone.
    const long n = 60;
    const double x0 = cpuMsOf(xvfb);
    QProcess copy;
    copy.setProcessEnvironment(wine.environment());
    copy.start(wine.wine(), {exe, "copy", size, QString::number(n)});
    copy.waitForFinished(120000);
    const Fields c = fields(copy.readAllStandardOutput());
    if (c.empty()) {
        std::printf("the copy run failed\n");
        return 1;
    }
    std::printf("\nGDI copy of %s under Wine, %ld copies: median %.1f ms, 95th percentile "
                "%.1f ms; CPU per copy: program %.1f ms, Xvfb %.1f ms\n",
                qPrintable(size), n, c.at("copy_p50_ms"), c.at("copy_p95_ms"),
                c.at("cpu_ms_per_copy"), (cpuMsOf(xvfb) - x0) / n);
    wine.waitForEnd(30000);
    return 0;
}
