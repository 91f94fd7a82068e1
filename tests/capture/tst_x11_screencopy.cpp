// The X11 screen copy against a real Xvfb: a known picture on the root window must come back
// byte for byte, through MIT-SHM and through plain GetImage, and leave no segment behind.
#include "X11ScreenCopy.h"
#include "XCaptureThread.h"
#include "XRoot.h"

#include <QtTest>

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>

Q_DECLARE_METATYPE(X11ScreenCopy::Transport)

namespace {

// Index and values of the first differing pixel, for a readable failure.
QString firstDifference(const unsigned char *got, const std::vector<unsigned char> &want, int width)
{
    for (std::size_t i = 0; i < want.size(); i += 4) {
        if (std::memcmp(got + i, &want[i], 4) != 0) {
            std::uint32_t g, w;
            std::memcpy(&g, got + i, 4);
            std::memcpy(&w, &want[i], 4);
            const int pixel = int(i / 4);
            return QString("pixel (%1, %2): got %3, want %4")
                .arg(pixel % width)
                .arg(pixel / width)
                .arg(g, 8, 16, QChar('0'))
                .arg(w, 8, 16, QChar('0'));
        }
    }
    return {};
}

} // namespace

class TestX11ScreenCopy : public QObject
{
    Q_OBJECT

    XRoot xroot;

private slots:
    void initTestCase()
    {
        QVERIFY(xroot.connected());
        QCOMPARE(xroot.width(), 1920);
        QCOMPARE(xroot.height(), 1080);
        QVERIFY(xroot.paintPattern());
    }

    void rectanglesMatchTheRootByteForByte_data()
    {
        QTest::addColumn<X11ScreenCopy::Transport>("transport");
        QTest::addColumn<QRect>("rect");
        const QList<QPair<const char *, X11ScreenCopy::Transport>> transports{
            {"shm", X11ScreenCopy::Transport::Automatic},
            {"getimage", X11ScreenCopy::Transport::PlainGetImage}};
        for (const auto &t : transports) {
            auto row = [&](const char *what, QRect r) {
                QTest::newRow(qPrintable(QString("%1 %2").arg(t.first, what))) << t.second << r;
            };
            row("whole screen", QRect(0, 0, 1920, 1080));
            row("offset", QRect(301, 77, 640, 360));
            row("one pixel", QRect(1919, 1079, 1, 1));
            // Partly outside: the part on the root is copied, the rest is black.
            row("over right and bottom", QRect(1800, 1000, 300, 200));
            row("left of and above", QRect(-50, -20, 200, 100));
            row("fully outside", QRect(5000, 5000, 16, 16));
        }
    }
    void rectanglesMatchTheRootByteForByte()
    {
        QFETCH(X11ScreenCopy::Transport, transport);
        QFETCH(QRect, rect);
        X11ScreenCopy copy(transport);
        QVERIFY(copy.connected());
        QVERIFY(copy.nativeLayout());
        QVERIFY(copy.begin(rect.width(), rect.height(), rect.left(), rect.top()));
        const bool onScreen = rect.intersects(QRect(0, 0, 1920, 1080));
        QCOMPARE(copy.usesShm(), transport == X11ScreenCopy::Transport::Automatic && onScreen);

        // Fresh buffers hold anything; here, a value no copy writes.
        std::vector<unsigned char> buffer(std::size_t(rect.width()) * rect.height() * 4, 0xa5);
        // Twice: a second copy through the same segment must be as good as the first.
        for (int round = 0; round < 2; ++round) {
            QVERIFY(copy.copy(buffer.data()));
            const auto want = XRoot::expectedFrame(rect.width(), rect.height(), rect.left(),
                                                   rect.top(), 1920, 1080, 0);
            QVERIFY2(buffer == want,
                     qPrintable(firstDifference(buffer.data(), want, rect.width())));
        }
        copy.end();
        QVERIFY(!copy.usesShm());
    }

    void emptyAndAbsurdRectanglesCopyNothing()
    {
        X11ScreenCopy copy;
        unsigned char guard[16];
        std::memset(guard, 0x5a, sizeof guard);
        for (const QRect &r :
             {QRect(0, 0, 0, 1080), QRect(0, 0, 1920, 0), QRect(INT_MAX - 4, 0, 0, 0)}) {
            QVERIFY(copy.begin(r.width(), r.height(), r.left(), r.top()));
            QVERIFY(!copy.usesShm());
            QVERIFY(copy.copy(guard));
        }
        for (unsigned char b : guard)
            QCOMPARE(b, 0x5a);
        // left + width beyond INT_MAX must not wrap into the screen: all of it is off the root.
        QVERIFY(copy.begin(2, 2, INT_MAX - 1, INT_MAX - 1));
        QVERIFY(copy.copy(guard));
        for (unsigned char b : guard)
            QCOMPARE(b, 0);
        copy.end();
        copy.end(); // a second release is harmless
        QVERIFY(!copy.copy(guard));
    }

    // The engine with the real copy: the layout the send engine relies on, and the shared
    // segment (private to its owner) lives exactly as long as the run.
    void engineCapturesTheScreenAndReleasesItsSegment()
    {
        XCaptureThread &engine = XCaptureThread::instance();
        const std::size_t before = shmSegmentsCreatedBy(getpid()).size();

        engine.startCapture(1920, 1080, 0, 0);
        FramePtr frame = engine.waitFrame(10000);
        QVERIFY(frame);
        QCOMPARE(frame->byteCount(), 8294400);
        const auto want = XRoot::expectedFrame(1920, 1080, 0, 0, 1920, 1080, 0);
        QVERIFY2(std::memcmp(frame->bytes.get(), want.data(), want.size()) == 0,
                 qPrintable(firstDifference(frame->bytes.get(), want, 1920)));
        // The second row starts at byte 7,680.
        const std::uint32_t secondRow = XRoot::pattern(0, 1);
        QVERIFY(std::memcmp(frame->bytes.get() + 7680, &secondRow, 4) == 0);

        const auto during = shmSegmentsCreatedBy(getpid());
        QCOMPARE(during.size(), before + 1);
        QCOMPARE(during.back().perms & 0777, 0600u);
        QCOMPARE(during.back().size, 8294400LL);

        // A restart on an offset rectangle: a new segment of the new size replaces the old.
        engine.startCapture(640, 360, 301, 77);
        for (int n = 0; n < 4; ++n) {
            frame = engine.waitFrame(10000);
            QVERIFY(frame);
            const auto wantOffset = XRoot::expectedFrame(640, 360, 301, 77, 1920, 1080, 0);
            QVERIFY(std::memcmp(frame->bytes.get(), wantOffset.data(), wantOffset.size()) == 0);
        }
        QCOMPARE(shmSegmentsCreatedBy(getpid()).size(), before + 1);

        engine.stopCapture();
        QCOMPARE(shmSegmentsCreatedBy(getpid()).size(), before);
    }

    // Other TrueColor formats arrive converted (full levels stay 255); anything else is black.
    void otherPixelFormatsAreConverted_data()
    {
        QTest::addColumn<QString>("screen");
        QTest::addColumn<QVector<uint>>("pixels"); // the server's red, green, blue, white
        QTest::addColumn<bool>("supported");
        QTest::newRow("16-bit") << "64x8x16" << QVector<uint>{0xf800, 0x7e0, 0x1f, 0xffff} << true;
        QTest::newRow("15-bit") << "64x8x15" << QVector<uint>{0x7c00, 0x3e0, 0x1f, 0x7fff} << true;
        QTest::newRow("30-bit") << "64x8x30"
                                << QVector<uint>{0x3ff00000, 0xffc00, 0x3ff, 0x3fffffff} << true;
        QTest::newRow("8-bit") << "64x8x8" << QVector<uint>{1, 2, 3, 4} << false;
    }
    void otherPixelFormatsAreConverted()
    {
        QFETCH(QString, screen);
        QFETCH(QVector<uint>, pixels);
        QFETCH(bool, supported);
        XvfbServer server(screen);
        const QByteArray display = server.display().toLatin1();
        XRoot painter(display.constData());
        QVERIFY(painter.connected());
        for (int i = 0; i < 4; ++i)
            painter.fill(i * 16, 0, 16, 8, pixels[i]);
        painter.sync();
        const std::uint32_t want[] = {0xff0000, 0x00ff00, 0x0000ff, 0xffffff};
        for (auto transport :
             {X11ScreenCopy::Transport::Automatic, X11ScreenCopy::Transport::PlainGetImage}) {
            X11ScreenCopy copy(transport, display.constData());
            QCOMPARE(copy.supportedFormat(), supported);
            std::vector<std::uint32_t> row(64, 0xa5a5a5a5);
            QVERIFY(copy.begin(64, 1, 0, 7));
            QVERIFY(copy.copy(reinterpret_cast<unsigned char *>(row.data())));
            for (int x = 0; x < 64; ++x)
                QCOMPARE(row[x] & 0xffffff, supported ? want[x / 16] : 0u);
        }
    }

    // The screen shrinks and grows again during a run: the copy follows it, and what of the
    // rectangle no longer exists is black, never an old picture.
    void followsTheScreenSize()
    {
        XvfbServer server("1024x768x24");
        const QByteArray display = server.display().toLatin1();
        XRoot painter(display.constData());
        QVERIFY(painter.connected());
        const auto resizeTo = [&](const char *size, std::uint32_t colour) {
            // Xvfb changes the size, though xrandr complains about its one output.
            QProcess::execute("xrandr", {"-d", server.display(), "--fb", size});
            painter.fill(0, 0, 1024, 768, colour);
            painter.sync();
        };
        for (auto transport :
             {X11ScreenCopy::Transport::Automatic, X11ScreenCopy::Transport::PlainGetImage}) {
            X11ScreenCopy copy(transport, display.constData());
            QVERIFY(copy.begin(1024, 768, 0, 0));
            std::vector<std::uint32_t> frame(1024 * 768, 0xa5a5a5a5);
            const auto at = [&](int x, int y) { return frame[y * 1024 + x]; };
            resizeTo("800x600", 0xcc3300);
            QVERIFY(copy.copy(reinterpret_cast<unsigned char *>(frame.data())));
            QCOMPARE(at(799, 599) & 0xffffff, 0xcc3300u);
            for (const QPoint p : {QPoint(800, 0), QPoint(0, 600), QPoint(1023, 767)})
                QCOMPARE(at(p.x(), p.y()), 0u);
            resizeTo("1024x768", 0x00cc66);
            QVERIFY(copy.copy(reinterpret_cast<unsigned char *>(frame.data())));
            QCOMPARE(at(1023, 767) & 0xffffff, 0x00cc66u);
        }
    }
};

QTEST_GUILESS_MAIN(TestX11ScreenCopy)
#include "tst_x11_screencopy.moc"
