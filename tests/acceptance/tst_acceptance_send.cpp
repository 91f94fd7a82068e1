// The built program used as a person uses it, from outside: with a notification area on the
// screen, a click on the send button publishes the screen as "(NDI)" at about 29.97 frames per
// second, a receiver on loopback sees the screen's picture, the window shows the rate; a second
// click ends the stream and the rate goes back to "0"; "退出" in the tray menu ends the program
// with status 0.
#include "NdiReceiver.h"
#include "NdiRuntime.h"
#include "TrayHost.h"
#include "UserSession.h"
#include "XRoot.h"

#include <QDir>
#include <QtTest>

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>

namespace {

// The send button's centre and the rate label inside the window (the frame sits at 10,5).
const QPoint sendButtonCentre(10 + 332 + 44, 5 + 275 + 13);
const QRect sendButtonArea(10 + 332, 5 + 275, 88, 26);
const QRect rateLabelArea(10 + 232, 5 + 190, 21, 21);

// The largest difference of one colour between two 0xRRGGBB pixels.
int deviation(std::uint32_t a, std::uint32_t b)
{
    int largest = 0;
    for (int shift = 0; shift < 24; shift += 8)
        largest = std::max(largest, std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)));
    return largest;
}

std::uint32_t patternRgb(int x, int y)
{
    // XRoot's pattern as blue, green, red bytes: the same order as 0xRRGGBB.
    return XRoot::pattern(x, y) & 0xffffff;
}

} // namespace

class TestAcceptanceSend : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(waitForSenderNameFree("NDI", 120000),
                 "another process on this machine keeps sending as \"NDI\"");
        XRoot root;
        QVERIFY(root.connected());
        QVERIFY(root.paintPattern());
        screen = QSize(root.width(), root.height());
        QVERIFY(tray.start());
        QVERIFY(QDir().mkpath(QStringLiteral(NORVANE_ACCEPTANCE_OUTPUT)));
    }

    void sendStopAndQuit()
    {
        UserSession user;
        QVERIFY(user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment()));
        const QRect window = user.windowRect();
        const QRect button = sendButtonArea.translated(window.topLeft());
        const QRect label = rateLabelArea.translated(window.topLeft());
        const QImage idleButton = UserSession::look(button);
        const QImage idleLabel = UserSession::look(label);

        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));

        NdiReceiver receiver;
        QVERIFY(receiver.usable());
        // Kept mapped to the end, so the runtime's allocations at exit can be named.
        QVERIFY(dlopen(NdiRuntime::loadedFrom().c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE));
        receiver.setKeepPixels(false);
        int wrongSize = 0;
        receiver.onFrame = [&](const NDIlib_video_frame_v2_t &video, std::int64_t) {
            if (QSize(video.xres, video.yres) != screen)
                ++wrongSize;
        };
        QVERIFY(receiver.connect("(NDI)", 20000));
        QVERIFY(receiver.receiveFrame(10000));

        // Ten seconds of watching, after a second for the stream to settle.
        receiver.receiveFor(1000);
        const int frames = receiver.receiveFor(10000);
        const double fps = frames / 10.0;
        qInfo("received %d frames in 10 s: %.2f per second", frames, fps);
        QVERIFY2(fps >= 25 && fps <= 31, qPrintable(QString::number(fps)));
        QCOMPARE(wrongSize, 0);
        QCOMPARE(receiver.lastFrame().rateN, 30000);
        QCOMPARE(receiver.lastFrame().rateD, 1001);

        // The picture: the painted pattern wherever no window of the program or trayer lies.
        receiver.setKeepPixels(true);
        QVERIFY(receiver.receiveFrame(2000));
        const NdiReceiver::Frame &frame = receiver.lastFrame();
        QCOMPARE(QSize(frame.width, frame.height), screen);
        const QRect busy = window.adjusted(-40, -40, 40, 40);
        int checked = 0;
        int worst = 0;
        for (int y = 60; y < frame.height; y += 37) {
            for (int x = 0; x < frame.width; x += 41) {
                // Away from the steps where a pattern byte wraps around, and from windows.
                if ((x & 0xff) < 16 || (x & 0xff) > 240 || (y & 0xff) < 16 || (y & 0xff) > 240 ||
                    busy.contains(x, y))
                    continue;
                ++checked;
                worst = std::max(worst, deviation(frame.rgb(x, y), patternRgb(x, y)));
                QVERIFY2(deviation(frame.rgb(x, y), patternRgb(x, y)) <= 24,
                         qPrintable(QStringLiteral("at %1,%2: %3, painted %4")
                                        .arg(x)
                                        .arg(y)
                                        .arg(frame.rgb(x, y), 6, 16, QChar('0'))
                                        .arg(patternRgb(x, y), 6, 16, QChar('0'))));
            }
        }
        QVERIFY(checked > 500);
        qInfo("%d pixels checked; largest colour difference from the screen: %d", checked, worst);

        // While it sends, the button shows "停止发送" and the label a rate, not "0".
        QVERIFY(UserSession::look(button) != idleButton);
        QVERIFY(UserSession::look(label) != idleLabel);
        const QString shot = QStringLiteral(NORVANE_ACCEPTANCE_OUTPUT "/sending.png");
        QVERIFY(UserSession::screenshot(shot));
        qInfo("screenshot while sending: %s", qPrintable(shot));

        QVERIFY(user.clickAt(user.inWindow(sendButtonCentre.x(), sendButtonCentre.y())));
        // Frames already on their way may still arrive; after that, nothing.
        receiver.receiveFor(500);
        QCOMPARE(receiver.receiveFor(1500), 0);
        QTRY_VERIFY_WITH_TIMEOUT(UserSession::look(label) == idleLabel, 3000);
        QCOMPARE(UserSession::look(button), idleButton);

        QVERIFY(user.quitFromTray());
        QVERIFY2(user.waitForExit(5000), "the program did not end after 退出");
        QCOMPARE(user.program().exitStatus(), QProcess::NormalExit);
        QCOMPARE(user.program().exitCode(), 0);
        QVERIFY2(!user.standardError().contains("NDI runtime not found"),
                 user.standardError().constData());
    }

    void cleanupTestCase() { tray.stop(); }

private:
    TrayHost tray;
    QSize screen;
};

QTEST_MAIN(TestAcceptanceSend)
#include "tst_acceptance_send.moc"
