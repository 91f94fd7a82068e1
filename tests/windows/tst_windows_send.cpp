// The Windows path end to end: the cross-built check program runs the GDI screen copy and the
// runtime loader under Wine with the Windows NDI runtime, and a receiver on the Linux runtime
// takes what it sends. Needs scripts/ns-run (loopback only, Xvfb with -noreset).

#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "Wine.h"
#include "XRoot.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// The desktop picture: 40-pixel blocks whose colour follows the block's column and row, so a
// copy from the wrong place shows the wrong colours. Steps of 40 levels stay apart well beyond
// what the codec changes on a flat area.
constexpr int blockSize = 40;

struct Rgb
{
    int r, g, b;

    static Rgb of(std::uint32_t rgb)
    {
        return {int(rgb >> 16 & 0xff), int(rgb >> 8 & 0xff), int(rgb & 0xff)};
    }
    std::uint32_t value() const
    {
        return std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
    }
};

Rgb blockColour(int x, int y)
{
    const int column = x / blockSize;
    const int row = y / blockSize;
    return {30 + 40 * (column % 6), 30 + 40 * (row % 6), 30 + 40 * ((column / 6 + row) % 6)};
}

// Paints the picture and keeps it as the root window's background, so it survives any expose
// while Wine starts and stops. Returns what went wrong, or an empty string.
QString paintDesktop(XRoot &root)
{
    if (!root.connected())
        return QStringLiteral("no X server at $DISPLAY");
    if (root.depth() != 24 && root.depth() != 32)
        return QStringLiteral("root depth %1, the copy needs 32 bits per pixel").arg(root.depth());
    for (int y = 0; y < root.height(); y += blockSize)
        for (int x = 0; x < root.width(); x += blockSize)
            root.fill(x, y, blockSize, blockSize, blockColour(x, y).value());
    return root.keepAsBackground() ? QString()
                                   : QStringLiteral("the root's background was not set");
}

// The desktop of the tests' X server, which Wine's virtual screen matches.
constexpr int desktopWidth = 1920, desktopHeight = 1080;

// Where the frame's colours differ from the desktop picture at the rectangle's place (black
// beyond the desktop): the centre and four points just inside the corners of every whole
// block in the frame.
QStringList compareWithDesktop(const NdiReceiver::Frame &frame, int left, int top, int tolerance)
{
    QStringList faults;
    auto check = [&](int fx, int fy) {
        const Rgb got = Rgb::of(frame.rgb(fx, fy));
        const bool onDesktop = left + fx < desktopWidth && top + fy < desktopHeight;
        const Rgb want = onDesktop ? blockColour(left + fx, top + fy) : Rgb{0, 0, 0};
        if (std::abs(got.b - want.b) > tolerance || std::abs(got.g - want.g) > tolerance ||
            std::abs(got.r - want.r) > tolerance)
            faults << QStringLiteral("(%1,%2): got rgb %3,%4,%5, want %6,%7,%8")
                          .arg(fx)
                          .arg(fy)
                          .arg(got.r)
                          .arg(got.g)
                          .arg(got.b)
                          .arg(want.r)
                          .arg(want.g)
                          .arg(want.b);
    };
    const int inset = 6;
    for (int by = (blockSize - top % blockSize) % blockSize; by + blockSize <= frame.height;
         by += blockSize) {
        for (int bx = (blockSize - left % blockSize) % blockSize; bx + blockSize <= frame.width;
             bx += blockSize) {
            check(bx + blockSize / 2, by + blockSize / 2);
            check(bx + inset, by + inset);
            check(bx + blockSize - 1 - inset, by + inset);
            check(bx + inset, by + blockSize - 1 - inset);
            check(bx + blockSize - 1 - inset, by + blockSize - 1 - inset);
        }
    }
    return faults;
}

} // namespace

class WindowsSendTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void loaderSearchesOnlyWhereItShould();
    void startStopReleasesAllGdiObjects();
    void sentFramesShowTheDesktopRectangle();

private:
    // Runs the check program under Wine; returns its exit code, -1 on a crash or time-out.
    int runWine(const QString &exe, const QStringList &args, const QString &runtimeDir,
                const QString &workDir, QString *out, QString *err, int timeoutMs = 60000);

    QString exe, dllDir;
    WinePrefix wine;
    const NdiApi *linuxNdi = nullptr;
    XRoot desktop;
};

void WindowsSendTest::initTestCase()
{
    const QString source = qEnvironmentVariable("NORVANE_SOURCE_DIR");
    QVERIFY2(!source.isEmpty(), "NORVANE_SOURCE_DIR is not set");
    QProcess prepare;
    prepare.start(source + QStringLiteral("/scripts/windows-check"), QStringList());
    QVERIFY2(prepare.waitForFinished(280000), "cross-build and Wine prefix took too long");
    QVERIFY2(prepare.exitStatus() == QProcess::NormalExit && prepare.exitCode() == 0,
             prepare.readAllStandardError().constData());
    for (const QString &line :
         QString::fromLocal8Bit(prepare.readAllStandardOutput()).split('\n')) {
        if (line.startsWith(QLatin1String("exe=")))
            exe = line.mid(4);
        else if (line.startsWith(QLatin1String("dll_dir=")))
            dllDir = line.mid(8);
    }
    const QString noPrefix = wine.prepare(qEnvironmentVariable("NORVANE_WINDOWS_BUILD"));
    QVERIFY2(noPrefix.isEmpty(), qPrintable(noPrefix));
    QVERIFY(QFile::exists(exe));
    QVERIFY(QFile::exists(dllDir + QStringLiteral("/Processing.NDI.Lib.x64.dll")));

    const QString why = paintDesktop(desktop);
    QVERIFY2(why.isEmpty(), qPrintable(why));

    linuxNdi = NdiRuntime::api();
    QVERIFY2(linuxNdi, "the Linux NDI runtime did not load");
    QVERIFY(ndiExtras() && ndiExtras()->canReceive());
    QVERIFY(linuxNdi->initialize());
}

void WindowsSendTest::cleanupTestCase()
{
    desktop.dropBackground(); // later tests on this server find the root as it was
    if (!wine.path().isEmpty())
        wine.stop();
}

int WindowsSendTest::runWine(const QString &program, const QStringList &args,
                             const QString &runtimeDir, const QString &workDir, QString *out,
                             QString *err, int timeoutMs)
{
    QProcess p;
    p.setProcessEnvironment(wine.environment(runtimeDir));
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(wine.wine(), QStringList{program} + args);
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    *out = QString::fromLocal8Bit(p.readAllStandardOutput());
    *err = QString::fromLocal8Bit(p.readAllStandardError());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

void WindowsSendTest::loaderSearchesOnlyWhereItShould()
{
    QString out, err;
    const QString dll = QStringLiteral("Processing.NDI.Lib.x64.dll");

    // The folder in NDI_RUNTIME_DIR_V6; version 3.5 has no NDIlib_v5_load, so this also
    // shows the symbol-by-symbol resolution.
    QCOMPARE(runWine(exe, {QStringLiteral("load")}, dllDir, QString(), &out, &err), 0);
    QVERIFY2(out.contains(QStringLiteral("loaded ") + WinePrefix::windowsPath(dllDir) + '\\' + dll),
             qPrintable(out + err));

    // Beside the executable, with no variable set.
    QTemporaryDir besideExe;
    QVERIFY(besideExe.isValid());
    const QString copiedExe = besideExe.filePath(QStringLiteral("windows_send_check.exe"));
    QVERIFY(QFile::copy(exe, copiedExe));
    QVERIFY(QFile::copy(dllDir + '/' + dll, besideExe.filePath(dll)));
    QCOMPARE(runWine(copiedExe, {QStringLiteral("load")}, QString(), QString(), &out, &err), 0);
    QVERIFY2(out.contains(QStringLiteral("loaded ") + WinePrefix::windowsPath(besideExe.path()) +
                          '\\' + dll),
             qPrintable(out + err));

    // Nowhere it may look, though the working directory holds it: one clear line, no crash.
    QTemporaryDir bare;
    QVERIFY(bare.isValid());
    const QString bareExe = bare.filePath(QStringLiteral("windows_send_check.exe"));
    QVERIFY(QFile::copy(exe, bareExe));
    QTemporaryDir empty;
    QVERIFY(empty.isValid());
    QCOMPARE(runWine(bareExe, {QStringLiteral("load")}, empty.path(), dllDir, &out, &err), 3);
    QVERIFY2(out.isEmpty(), qPrintable(out));
    const QStringList lines = err.trimmed().split('\n');
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].startsWith(QStringLiteral("norvane: NDI runtime not found")),
             qPrintable(err));
    QVERIFY2(lines[0].contains(WinePrefix::windowsPath(empty.path()) + '\\' + dll),
             qPrintable(err));
}

void WindowsSendTest::startStopReleasesAllGdiObjects()
{
    QString out, err;
    const int code = runWine(exe, {QStringLiteral("gdi-cycles"), QStringLiteral("300")}, dllDir,
                             QString(), &out, &err);
    const auto m =
        QRegularExpression(QStringLiteral(R"(gdi (\w+) before (\d+) after (\d+) )")).match(out);
    QVERIFY2(m.hasMatch(), qPrintable(out + err));
    QCOMPARE(m.captured(3).toLong(), m.captured(2).toLong());
    QVERIFY2(out.contains(QStringLiteral("failures 0")), qPrintable(out));
    QCOMPARE(code, 0);
}

void WindowsSendTest::sentFramesShowTheDesktopRectangle()
{
    // Two runs as the send toggle makes them: start, stop, start with another rectangle.
    // Neither starts at the desktop's corner, and left and top differ, so a copy from (0, 0)
    // or with the two swapped shows other colours. The second reaches beyond the desktop's
    // bottom right corner: that part must arrive black.
    struct Run
    {
        int width, height, left, top;
    };
    const Run runs[] = {{320, 240, 120, 80}, {200, 160, 1800, 960}};
    const int framesPerRun = 60;

    const QList<int> portsBefore = WinePrefix::listeningPorts();
    QProcess sender;
    sender.setProcessEnvironment(wine.environment(dllDir));
    QStringList args{exe, QStringLiteral("send")};
    for (const Run &r : runs)
        args << QStringLiteral("%1x%2+%3+%4:%5")
                    .arg(r.width)
                    .arg(r.height)
                    .arg(r.left)
                    .arg(r.top)
                    .arg(framesPerRun);
    sender.start(wine.wine(), args);
    QVERIFY(sender.waitForStarted());
    auto cleanup = qScopeGuard([&sender] {
        if (sender.state() != QProcess::NotRunning) {
            sender.kill();
            sender.waitForFinished(5000);
        }
    });

    QString senderOut;
    QElapsedTimer timer;
    timer.start();
    while (!senderOut.contains(QStringLiteral("ready")) && timer.elapsed() < 60000 &&
           sender.state() == QProcess::Running) {
        sender.waitForReadyRead(200);
        senderOut += QString::fromLocal8Bit(sender.readAllStandardOutput());
    }
    QVERIFY2(senderOut.contains(QStringLiteral("ready")),
             qPrintable(senderOut + sender.readAllStandardError()));

    const int port = WinePrefix::newListeningPort(portsBefore, 60000);
    QVERIFY2(port, "no listening port of the Wine sender");

    NdiReceiver receiver(linuxNdi);
    QVERIFY(receiver.connectToAddress("127.0.0.1:" + std::to_string(port)));

    // Every frame is checked against the run of its size. The first frames after the
    // connection or a size change may still be in flight from before; a few misses are
    // allowed there, a steady run of good frames is required.
    const int tolerance = 16;
    struct Tally
    {
        int good = 0;
        int bad = 0;
        QStringList firstFaults;
    } tally[2];
    while (tally[1].good < 20 && receiver.receiveFrame(10000)) {
        const NdiReceiver::Frame &frame = receiver.lastFrame();
        QCOMPARE(frame.rateN, 30000);
        QCOMPARE(frame.rateD, 1001);
        QCOMPARE(frame.formatType, NDIlib_frame_format_type_progressive);
        QVERIFY(frame.fourCC == NDIlib_FourCC_type_BGRX || frame.fourCC == NDIlib_FourCC_type_BGRA);
        for (int i = 0; i < 2; ++i) {
            if (frame.width != runs[i].width || frame.height != runs[i].height)
                continue;
            const QStringList faults =
                compareWithDesktop(frame, runs[i].left, runs[i].top, tolerance);
            if (faults.isEmpty()) {
                ++tally[i].good;
            } else {
                ++tally[i].bad;
                if (tally[i].firstFaults.isEmpty())
                    tally[i].firstFaults = faults.mid(0, 4);
            }
        }
    }
    for (int i = 0; i < 2; ++i) {
        const QString what = QStringLiteral("%1x%2+%3+%4: %5 good, %6 bad frames; %7")
                                 .arg(runs[i].width)
                                 .arg(runs[i].height)
                                 .arg(runs[i].left)
                                 .arg(runs[i].top)
                                 .arg(tally[i].good)
                                 .arg(tally[i].bad)
                                 .arg(tally[i].firstFaults.join(QStringLiteral("; ")));
        qInfo("port %d, %s", port, qPrintable(what));
        QVERIFY2(tally[i].good >= 20 && tally[i].bad <= 2, qPrintable(what));
    }

    QVERIFY(sender.waitForFinished(30000));
    senderOut += QString::fromLocal8Bit(sender.readAllStandardOutput());
    QCOMPARE(sender.exitCode(), 0);

    // Clocked video: the runtime holds each run to 29.97 frames a second, so 60 frames take
    // about two seconds; unclocked they would leave in a small fraction of that.
    const QRegularExpression runLine(QStringLiteral(R"(run \S+ frames (\d+) ms (\d+))"));
    auto it = runLine.globalMatch(senderOut);
    int reported = 0;
    while (it.hasNext()) {
        const auto m = it.next();
        ++reported;
        qInfo("sender: %s", qPrintable(m.captured(0)));
        const double minimumMs = (m.captured(1).toInt() - 2) * 1001.0 / 30.0;
        QVERIFY2(m.captured(2).toDouble() >= minimumMs * 0.9, qPrintable(m.captured(0)));
    }
    QCOMPARE(reported, 2);
}

QTEST_GUILESS_MAIN(WindowsSendTest)
#include "tst_windows_send.moc"
