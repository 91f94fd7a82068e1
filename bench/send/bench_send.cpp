// Send benchmark: the capture and send engines publish the Xvfb screen on the real NDI runtime
// and a receiver in another process on loopback measures what arrives. The peer, in the same
// run, is the bare runtime sending synthetic frames of the same size from a plain loop: the
// ratio shows what capturing and the engine add.
//
//   bench_send [--seconds N] [--warmup N] [--sizes 1920x1080,3840x2160]
// Run inside scripts/ns-run with a screen as large as the largest size (scripts/bench-send).
//
// The receiver process also paints: every few milliseconds it writes a sequence number as a
// row of black and white squares at the top left of the screen and notes when. Reading the
// number back from a received frame gives the age of the picture on arrival (from painting,
// which is at most one paint period before the capture, to arrival).
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "NdiSettings.h"
#include "ProcessCpu.h"
#include "SendThread.h"
#include "XRoot.h"

#include "BenchSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <QStringList>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int cell = 16;     // side of one painted bit, in pixels
constexpr int paintMs = 4;   // how often the receiver repaints the sequence number
constexpr int bitsLeft = 16; // where the row of bits starts
constexpr int bitsTop = 16;

// The painted value: a 32-bit sequence number and its complement, so that a frame captured
// while the row was half repainted is recognised and left out.
std::uint64_t encode(std::uint32_t seq)
{
    return std::uint64_t(~seq) << 32 | seq;
}
bool decode(std::uint64_t v, std::uint32_t &seq)
{
    seq = std::uint32_t(v);
    return std::uint32_t(v >> 32) == ~seq;
}

// ---- sender process: the engines, or the bare runtime -----------------------------------

// Waits for "mark" and "stop" on stdin and prints the CPU and memory used in between.
void measureBetweenMarks()
{
    std::string line;
    double cpu0 = 0;
    while (std::getline(std::cin, line)) {
        if (line == "mark") {
            cpu0 = processCpuMs();
        } else if (line == "stop") {
            std::printf("cpu_ms=%.1f rss_kb=%ld hwm_kb=%ld\n", processCpuMs() - cpu0,
                        statusKb(0, "VmRSS:"), statusKb(0, "VmHWM:"));
            std::fflush(stdout);
            return;
        }
    }
}

int runEngine(int w, int h)
{
    waitForSenderNameFree("NDI", 120000);
    SendThread engine(nullptr);
    if (!engine.initNDI()) {
        std::fprintf(stderr, "bench_send: no NDI sender\n");
        return 1;
    }
    engine.startSend(w, h, 0, 0);
    std::printf("ready\n");
    std::fflush(stdout);
    measureBetweenMarks();
    engine.stopSend();
    return 0;
}

int runPeer(int w, int h)
{
    const NdiApi *ndi = NdiRuntime::api();
    if (!ndi || !ndi->initialize())
        return 1;
    waitForSenderNameFree("NDI", 120000);
    const NDIlib_send_create_t create = NdiSettings::sender();
    NDIlib_send_instance_t sender = ndi->send_create(&create);
    if (!sender)
        return 1;
    std::vector<std::uint8_t> frame(std::size_t(w) * h * 4, 0x80);
    std::atomic<bool> running{true};
    std::thread loop([&] {
        const NDIlib_video_frame_v2_t v = NdiSettings::video(w, h, frame.data());
        std::uint32_t n = 0;
        while (running) {
            // A changing row, as on the engine's screen, so frames differ.
            const std::uint64_t bits = encode(++n);
            for (int i = 0; i < 64; ++i) {
                const std::uint8_t level = (bits >> i & 1) ? 0xff : 0x00;
                for (int y = bitsTop; y < bitsTop + cell && y < h; ++y)
                    std::memset(&frame[(std::size_t(y) * w + bitsLeft + i * cell) * 4], level,
                                std::size_t(cell) * 4);
            }
            ndi->send_send_video_v2(sender, &v);
        }
    });
    std::printf("ready\n");
    std::fflush(stdout);
    measureBetweenMarks();
    running = false;
    loop.join();
    if (const NdiExtras *extras = ndiExtras(); extras && extras->send_destroy)
        extras->send_destroy(sender);
    return 0;
}

// ---- receiver process: paints the sequence number and receives ---------------------------

int runReceiver(int seconds, int warmup)
{
    XRoot painter;
    if (!painter.connected())
        return 1;
    std::mutex paintMutex;
    std::map<std::uint32_t, std::int64_t> paintedAt;
    std::atomic<bool> painting{true};
    std::thread paintLoop([&] {
        std::uint32_t seq = 0;
        while (painting) {
            painter.paintBits(bitsLeft, bitsTop, cell, encode(++seq));
            painter.sync();
            {
                std::lock_guard<std::mutex> lock(paintMutex);
                paintedAt[seq] = NdiReceiver::steadyNs();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(paintMs));
        }
    });

    NdiReceiver receiver;
    receiver.setKeepPixels(false);
    if (!receiver.connect(NdiReceiver::localSourceName(), 30000)) {
        painting = false;
        paintLoop.join();
        std::fprintf(stderr, "bench_send: no source found\n");
        return 1;
    }
    receiver.receiveFor(warmup * 1000);

    std::vector<double> ages;
    std::int64_t lastArrival = 0, longestGap = 0;
    int torn = 0, width = 0, height = 0;
    receiver.onFrame = [&](const NDIlib_video_frame_v2_t &v, std::int64_t arrival) {
        if (lastArrival)
            longestGap = std::max(longestGap, arrival - lastArrival);
        lastArrival = arrival;
        width = v.xres;
        height = v.yres;
        if (!v.p_data || v.xres < bitsLeft + 64 * cell || v.yres < bitsTop + cell)
            return;
        const int stride = v.line_stride_in_bytes > 0 ? v.line_stride_in_bytes : v.xres * 4;
        std::uint32_t seq;
        if (!decode(XRoot::readBits(v.p_data, stride, bitsLeft, bitsTop, cell), seq)) {
            ++torn;
            return;
        }
        std::lock_guard<std::mutex> lock(paintMutex);
        const auto it = paintedAt.find(seq);
        if (it != paintedAt.end())
            ages.push_back((arrival - it->second) / 1e6);
    };

    std::printf("start\n");
    std::fflush(stdout);
    const std::int64_t t0 = NdiReceiver::steadyNs();
    const int frames = receiver.receiveFor(seconds * 1000);
    const double elapsed = (NdiReceiver::steadyNs() - t0) / 1e9;
    painting = false;
    paintLoop.join();

    std::sort(ages.begin(), ages.end());
    auto pct = [&](double p) {
        return ages.empty() ? -1.0 : ages[std::min(ages.size() - 1, std::size_t(p * ages.size()))];
    };
    std::printf("frames=%d seconds=%.3f fps=%.2f gap_ms=%.1f width=%d height=%d "
                "age_p50_ms=%.1f age_p95_ms=%.1f age_max_ms=%.1f aged=%zu torn=%d\n",
                frames, elapsed, frames / elapsed, longestGap / 1e6, width, height, pct(0.5),
                pct(0.95), ages.empty() ? -1.0 : ages.back(), ages.size(), torn);
    std::fflush(stdout);
    return 0;
}

// ---- orchestrator: no NDI of its own ------------------------------------------------------

std::map<std::string, std::string> fields(const QByteArray &line)
{
    std::map<std::string, std::string> out;
    for (const QByteArray &kv : line.trimmed().split(' ')) {
        const int eq = kv.indexOf('=');
        if (eq > 0)
            out[kv.left(eq).toStdString()] = kv.mid(eq + 1).toStdString();
    }
    return out;
}

struct Result
{
    bool ok = false;
    std::map<std::string, std::string> recv, send;
    double num(const std::map<std::string, std::string> &m, const char *k) const
    {
        const auto it = m.find(k);
        return it == m.end() ? -1 : std::stod(it->second);
    }
    double cpuPerFrame() const { return num(send, "cpu_ms") / num(recv, "frames"); }
};

Result measure(const QString &mode, int w, int h, int seconds, int warmup)
{
    Result r;
    const QString self = QCoreApplication::applicationFilePath();
    const QString size = QString("%1x%2").arg(w).arg(h);
    QProcess sender, receiver;
    sender.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    receiver.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    sender.start(self, {mode, size});
    if (readLine(sender, 30000).trimmed() != "ready")
        return r;
    receiver.start(self, {"--receive", QString::number(seconds), QString::number(warmup)});
    if (readLine(receiver, 60000 + warmup * 1000).trimmed() == "start") {
        // QProcess writes only from its event loop or when asked to wait.
        sender.write("mark\n");
        sender.waitForBytesWritten(5000);
        const QByteArray stats = readLine(receiver, (seconds + 30) * 1000);
        sender.write("stop\n");
        sender.waitForBytesWritten(5000);
        const QByteArray usage = readLine(sender, 30000);
        r.recv = fields(stats);
        r.send = fields(usage);
        r.ok = !r.recv.empty() && !r.send.empty();
    }
    sender.closeWriteChannel();
    sender.waitForFinished(30000);
    receiver.waitForFinished(30000);
    return r;
}

int orchestrate(int seconds, int warmup, const QStringList &sizes)
{
    std::printf("send benchmark: %d s per run after %d s warm-up; receiver and painter in a "
                "separate process on loopback\n",
                seconds, warmup);
    for (const QString &s : sizes) {
        const QStringList wh = s.split('x');
        const int w = wh.value(0).toInt(), h = wh.value(1).toInt();
        const Result engine = measure("--engine", w, h, seconds, warmup);
        const Result peer = measure("--peer", w, h, seconds, warmup);
        if (!engine.ok || !peer.ok) {
            std::printf("%dx%d: run failed (engine %d, peer %d)\n", w, h, engine.ok, peer.ok);
            continue;
        }
        const double frameMs = 1001.0 / 30.0;
        std::printf("\n%dx%d\n", w, h);
        std::printf("  engine: %s fps received, longest gap %s ms (%.2f frame times), "
                    "%.2f ms CPU per frame, age on arrival p50 %s / p95 %s / max %s ms "
                    "(%s frames read, %s torn), RSS %.1f MB (peak %.1f MB)\n",
                    engine.recv.at("fps").c_str(), engine.recv.at("gap_ms").c_str(),
                    engine.num(engine.recv, "gap_ms") / frameMs, engine.cpuPerFrame(),
                    engine.recv.at("age_p50_ms").c_str(), engine.recv.at("age_p95_ms").c_str(),
                    engine.recv.at("age_max_ms").c_str(), engine.recv.at("aged").c_str(),
                    engine.recv.at("torn").c_str(), engine.num(engine.send, "rss_kb") / 1024,
                    engine.num(engine.send, "hwm_kb") / 1024);
        std::printf("  peer (bare runtime, synthetic frames): %s fps received, longest gap %s "
                    "ms, %.2f ms CPU per frame, RSS %.1f MB\n",
                    peer.recv.at("fps").c_str(), peer.recv.at("gap_ms").c_str(), peer.cpuPerFrame(),
                    peer.num(peer.send, "rss_kb") / 1024);
        std::printf("  ratio engine/peer: CPU per frame %.2f, fps %.3f, RSS %.2f\n",
                    engine.cpuPerFrame() / peer.cpuPerFrame(),
                    engine.num(engine.recv, "fps") / peer.num(peer.recv, "fps"),
                    engine.num(engine.send, "rss_kb") / peer.num(peer.send, "rss_kb"));
        std::fflush(stdout);
    }
    return 0;
}

bool parseSize(const char *text, int &w, int &h)
{
    return std::sscanf(text, "%dx%d", &w, &h) == 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    int w = 0, h = 0;
    if (args.size() == 3 && args[1] == "--engine" && parseSize(argv[2], w, h))
        return runEngine(w, h);
    if (args.size() == 3 && args[1] == "--peer" && parseSize(argv[2], w, h))
        return runPeer(w, h);
    if (args.size() == 4 && args[1] == "--receive")
        return runReceiver(args[2].toInt(), args[3].toInt());

    int seconds = 30, warmup = 3;
    QStringList sizes{"1920x1080", "3840x2160"};
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == "--seconds")
            seconds = args[i + 1].toInt();
        else if (args[i] == "--warmup")
            warmup = args[i + 1].toInt();
        else if (args[i] == "--sizes")
            sizes = args[i + 1].split(',');
    }
    return orchestrate(seconds, warmup, sizes);
}
