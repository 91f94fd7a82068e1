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
            // Partly outside: only the part on the root is copied, the rest is left alone.
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

        const unsigned char untouched = 0xa5;
        std::vector<unsigned char> buffer(std::size_t(rect.width()) * rect.height() * 4, untouched);
        // Twice: a second copy through the same segment must be as good as the first.
        for (int round = 0; round < 2; ++round) {
            QVERIFY(copy.copy(buffer.data()));
            const auto want = XRoot::expectedFrame(rect.width(), rect.height(), rect.left(),
                                                   rect.top(), 1920, 1080, untouched);
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
        // left + width beyond INT_MAX must not wrap into the screen.
        QVERIFY(copy.begin(2, 2, INT_MAX - 1, INT_MAX - 1));
        QVERIFY(copy.copy(guard));
        for (unsigned char b : guard)
            QCOMPARE(b, 0x5a);
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

    // A 16-bit screen is not converted, but a copy must stay inside its buffer (AddressSanitizer
    // watches the heap block) and the parts of the rectangle off the root stay untouched.
    void foreignPixelFormatStaysInsideTheBuffer()
    {
        XvfbServer server("320x200x16");
        QVERIFY2(!server.display().isEmpty(), "could not start a second Xvfb");
        const QByteArray oldDisplay = qgetenv("DISPLAY");
        qputenv("DISPLAY", server.display().toLatin1());
        for (auto transport :
             {X11ScreenCopy::Transport::Automatic, X11ScreenCopy::Transport::PlainGetImage}) {
            X11ScreenCopy copy(transport);
            QVERIFY(copy.connected());
            QVERIFY(!copy.nativeLayout());
            QVERIFY(copy.begin(100, 50, 280, 170));
            const std::size_t bytes = 100 * 50 * 4;
            std::unique_ptr<unsigned char[]> buffer(new unsigned char[bytes]);
            std::memset(buffer.get(), 0xa5, bytes);
            QVERIFY(copy.copy(buffer.get()));
            // The part on the root (40 pixels of 2 bytes in each of rows 0..29) was written.
            QVERIFY(std::any_of(buffer.get(), buffer.get() + 80,
                                [](unsigned char b) { return b != 0xa5; }));
            // Rows 30.. of the rectangle lie below the root (height 200): left alone.
            for (std::size_t i = 30 * 100 * 4; i < bytes; ++i)
                QCOMPARE(buffer[i], static_cast<unsigned char>(0xa5));
        }
        qputenv("DISPLAY", oldDisplay);
    }
};

QTEST_GUILESS_MAIN(TestX11ScreenCopy)
#include "tst_x11_screencopy.moc"
