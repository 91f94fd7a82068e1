#include "UserSession.h"

#include "XRoot.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

namespace {

// Every 41st pixel of every 37th row outside `busy` and below the top rows (a tray), where
// `skip` does not say otherwise, against `expected` (0xRRGGBB).
template <typename Expected, typename Skip>
PatternMatch compareWith(const NdiReceiver::Frame &frame, const QRect &busy, int tolerance,
                         Expected expected, Skip skip)
{
    PatternMatch match;
    for (int y = 60; y < frame.height; y += 37) {
        for (int x = 0; x < frame.width; x += 41) {
            if (busy.contains(x, y) || skip(x, y))
                continue;
            const std::uint32_t want = expected(x, y);
            const int d = NdiReceiver::deviation(frame.rgb(x, y), want);
            ++match.checked;
            match.worst = std::max(match.worst, d);
            if (d > tolerance && match.firstFault.isEmpty())
                match.firstFault = QStringLiteral("at %1,%2: %3, painted %4")
                                       .arg(x)
                                       .arg(y)
                                       .arg(frame.rgb(x, y), 6, 16, QChar('0'))
                                       .arg(want, 6, 16, QChar('0'));
        }
    }
    return match;
}

} // namespace

PatternMatch compareWithPattern(const NdiReceiver::Frame &frame, const QRect &busy, int tolerance)
{
    // XRoot's pattern as blue, green, red bytes: the same order as 0xRRGGBB. Away from the
    // steps where a pattern byte wraps around.
    return compareWith(
        frame, busy, tolerance, [](int x, int y) { return XRoot::pattern(x, y) & 0xffffff; },
        [](int x, int y) {
            return (x & 0xff) < 16 || (x & 0xff) > 240 || (y & 0xff) < 16 || (y & 0xff) > 240;
        });
}

PatternMatch receivePattern(NdiReceiver &receiver, const QRect &busy, int tolerance)
{
    PatternMatch match;
    match.firstFault = QStringLiteral("no frame");
    const auto shown = [&] {
        if (receiver.receiveFrame(2000))
            match = compareWithPattern(receiver.lastFrame(), busy, tolerance);
        return match.firstFault.isEmpty();
    };
    if (!QTest::qWaitFor(shown, 30000))
        qInfo("no frame showed the painted pattern within 30 s");
    return match;
}

PatternMatch compareWithColour(const NdiReceiver::Frame &frame, const QRect &busy,
                               std::uint32_t rgb, int tolerance)
{
    return compareWith(
        frame, busy, tolerance, [rgb](int, int) { return rgb; }, [](int, int) { return false; });
}

double shareUnlike(const QImage &look, const QImage &reference)
{
    const QImage back =
        look.scaled(reference.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
            .convertToFormat(QImage::Format_RGB32);
    const QImage ref = reference.convertToFormat(QImage::Format_RGB32);
    int unlike = 0;
    for (int y = 0; y < ref.height(); ++y) {
        for (int x = 0; x < ref.width(); ++x) {
            const QRgb a = back.pixel(x, y), b = ref.pixel(x, y);
            unlike += std::max({std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                                std::abs(qBlue(a) - qBlue(b))}) > 64;
        }
    }
    return double(unlike) / (ref.width() * ref.height());
}

QString paintedScreenArrives(NdiReceiver &receiver, const QSize &screen, const QRect &window,
                             std::uint32_t painted)
{
    if (!receiver.receiveFrame(20000))
        return QStringLiteral("no frame after the click on send");
    const NdiReceiver::Watch seen = receiver.watch(screen.width(), screen.height(), 5000, 0);
    qInfo("received %d frames in 5 s: %.2f per second", seen.frames, seen.perSecond);
    if (seen.frames == 0 || seen.wrong != 0 || !receiver.receiveFrame(2000))
        return QStringLiteral("%1 frames in 5 s, %2 not %3x%4 BGRX at 30000/1001")
            .arg(seen.frames)
            .arg(seen.wrong)
            .arg(screen.width())
            .arg(screen.height());
    const PatternMatch match =
        compareWithColour(receiver.lastFrame(), window.adjusted(-40, -40, 40, 40), painted, 16);
    qInfo("%d pixels checked; largest colour difference: %d", match.checked, match.worst);
    if (!match.firstFault.isEmpty())
        return match.firstFault;
    return match.checked > 500 ? QString() : QStringLiteral("too few pixels away from the window");
}

QString unlikeUnscaledLook(QImage &unscaled, const QImage &look, bool isUnscaled)
{
    if (isUnscaled) {
        unscaled = look;
        return QString();
    }
    if (unscaled.isNull())
        return QString();
    const double unlike = shareUnlike(look, unscaled);
    qInfo("scaled back to 100%%, %.2f %% of the window differs from the 100%% look", 100 * unlike);
    return unlike < 0.015 ? QString()
                          : QStringLiteral("scaled back to 100%, %1 % of the window differs "
                                           "from the 100% look")
                                .arg(100 * unlike, 0, 'f', 2);
}

bool ResizableDisplay::start(const QSize &size, std::uint32_t rgb)
{
    server.start("Xvnc",
                 {"-displayfd", "1", "-geometry",
                  QStringLiteral("%1x%2").arg(size.width()).arg(size.height()), "-depth", "24",
                  "-SecurityTypes", "None", "-rfbport", "-1", "-nolisten", "tcp", "-noreset"});
    if (!server.waitForReadyRead(30000))
        return false;
    before = qgetenv("DISPLAY");
    qputenv("DISPLAY", ":" + server.readLine().trimmed());
    return QProcess::execute("xsetroot",
                             {"-solid", QStringLiteral("#%1").arg(rgb, 6, 16, QChar('0'))}) == 0;
}

bool ResizableDisplay::resize(const QSize &size)
{
    return QProcess::execute(
               "xrandr", {"-s", QStringLiteral("%1x%2").arg(size.width()).arg(size.height())}) == 0;
}

ResizableDisplay::~ResizableDisplay()
{
    if (!before.isEmpty())
        qputenv("DISPLAY", before);
    server.terminate();
    server.waitForFinished(10000);
}

UserSession::~UserSession()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(5000);
}

QProcessEnvironment UserSession::programEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               env.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
    return env;
}

bool UserSession::start(const QString &executable, const QProcessEnvironment &environment,
                        const QStringList &arguments)
{
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer waited;
    waited.start();
    process.start(executable, arguments);
    if (!process.waitForStarted(startMs))
        return false;
    // Its window, found through the process id the toolkit puts on it; not the tray icon, which
    // may carry the same name and show first.
    const auto found = [&] {
        const QString shown =
            runTool(QStringLiteral("xdotool"),
                    {"search", "--onlyvisible", "--pid", QString::number(process.processId()),
                     "--name", "^Norvane$"});
        for (const QString &w : shown.split('\n', Qt::SkipEmptyParts)) {
            const QRect r = placement(w).rect;
            if (r.width() > 64 && r.height() > 64)
                return mainWindow = w, true;
        }
        return false;
    };
    if (!QTest::qWaitFor(found, startMs - int(waited.elapsed())))
        return false;
    // Shown is not yet drawn: wait until two looks a moment apart agree, so that what a test
    // takes as the window's first look is what a person would see.
    QImage before;
    while (waited.elapsed() < startMs) {
        QTest::qWait(150);
        const QImage now = look(windowRect());
        if (!now.isNull() && now == before)
            return true;
        before = now;
    }
    return false;
}

QByteArray UserSession::standardError()
{
    errors += process.readAllStandardError();
    return errors;
}

QRect UserSession::windowRect() const
{
    return placement(mainWindow).rect;
}

bool UserSession::clickAt(const QPoint &point)
{
    // The pointer first goes elsewhere: a --sync move to where it already is waits for a
    // motion that never comes.
    const QStringList steps{"mousemove",
                            "1",
                            "1",
                            "mousemove",
                            "--sync",
                            QString::number(point.x()),
                            QString::number(point.y()),
                            "click",
                            "1",
                            "mousemove",
                            "0",
                            "0"};
    return QProcess::execute(QStringLiteral("xdotool"), steps) == 0;
}

QImage UserSession::look(const QRect &rootRect)
{
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, rootRect.x(), rootRect.y(), rootRect.width(), rootRect.height())
        .toImage()
        .convertToFormat(QImage::Format_RGB32);
}

bool UserSession::screenshot(const QString &path)
{
    return QProcess::execute(QStringLiteral("import"), {"-window", "root", path}) == 0;
}

QStringList UserSession::windowsOfProgram() const
{
    QStringList shown;
    const QString all = runTool(QStringLiteral("xdotool"),
                                {"search", "--pid", QString::number(process.processId())});
    for (const QString &w : all.split('\n', Qt::SkipEmptyParts)) {
        if (w != mainWindow && placement(w).viewable)
            shown << w;
    }
    return shown;
}

QRect UserSession::waitForNotification(int ms) const
{
    // Larger than the icon, which trayer gives a small square. It is mapped before it is
    // moved beside the icon: where it is twice in a row is where it stays.
    QRect before;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms) {
        QRect now;
        for (const QString &w : windowsOfProgram()) {
            const QRect r = placement(w).rect;
            if (r.width() > 64 && r.height() > 64)
                now = r;
        }
        if (!now.isEmpty() && now == before)
            return now;
        before = now;
        QTest::qWait(150);
    }
    return QRect();
}

bool UserSession::quitFromTray()
{
    // The icon is the program's one other shown window while no menu is open; trayer gives it
    // a small square.
    QString icon;
    QElapsedTimer waited;
    waited.start();
    while (icon.isEmpty() && waited.elapsed() < 30000) {
        for (const QString &w : windowsOfProgram()) {
            const QRect r = placement(w).rect;
            if (r.width() <= 64 && r.height() <= 64)
                icon = w;
        }
        if (icon.isEmpty())
            QTest::qWait(100);
    }
    if (icon.isEmpty())
        return false;

    const QPoint centre = placement(icon).rect.center();
    const QStringList rightClick{"mousemove",
                                 "1",
                                 "1",
                                 "mousemove",
                                 "--sync",
                                 QString::number(centre.x()),
                                 QString::number(centre.y()),
                                 "click",
                                 "3"};
    if (QProcess::execute(QStringLiteral("xdotool"), rightClick) != 0)
        return false;

    // The menu: a further shown window of the program.
    bool menuShown = false;
    waited.restart();
    while (!menuShown && waited.elapsed() < 30000) {
        menuShown = windowsOfProgram().size() >= 2;
        if (!menuShown)
            QTest::qWait(100);
    }
    if (!menuShown)
        return false;
    QTest::qWait(300); // the menu takes the keyboard once it is mapped
    // With no entry chosen yet, Up picks the last one: "退出".
    return QProcess::execute(QStringLiteral("xdotool"), {"key", "Up", "Return"}) == 0;
}

bool UserSession::waitForExit(int ms)
{
    const bool ended = process.waitForFinished(ms);
    standardError();
    return ended;
}
