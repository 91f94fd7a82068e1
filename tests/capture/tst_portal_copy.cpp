// The Wayland backend's pure parts: which session gets it from the one factory, and how a
// stream's picture, in any of the four layouts PipeWire may negotiate, becomes a BGRX frame.
#include "BgrxConversion.h"
#include "PortalScreenCopy.h"
#include "WaylandSession.h"
#include "X11ScreenCopy.h"

#include <QtTest>

#include <vector>

class TestPortalCopy : public QObject
{
    Q_OBJECT

private slots:
    void backendFollowsTheSession_data()
    {
        QTest::addColumn<QByteArray>("waylandDisplay"); // "-" for unset
        QTest::addColumn<QByteArray>("sessionType");
        QTest::addColumn<bool>("wayland");
        QTest::newRow("X11 session") << QByteArray("-") << QByteArray("x11") << false;
        QTest::newRow("nothing set") << QByteArray("-") << QByteArray("-") << false;
        QTest::newRow("display set empty") << QByteArray("") << QByteArray("tty") << false;
        QTest::newRow("Wayland display") << QByteArray("wayland-0") << QByteArray("-") << true;
        QTest::newRow("session type only") << QByteArray("-") << QByteArray("wayland") << true;
        QTest::newRow("both") << QByteArray("wayland-1") << QByteArray("wayland") << true;
    }

    void backendFollowsTheSession()
    {
        QFETCH(QByteArray, waylandDisplay);
        QFETCH(QByteArray, sessionType);
        QFETCH(bool, wayland);
        auto value = [](const QByteArray &v) { return v == "-" ? nullptr : v.constData(); };
        QCOMPARE(isWaylandSession(value(waylandDisplay), value(sessionType)), wayland);

        // The factory reads the same from the environment.
        auto set = [](const char *name, const QByteArray &v) {
            if (v == "-")
                qunsetenv(name);
            else
                qputenv(name, v);
        };
        set("WAYLAND_DISPLAY", waylandDisplay);
        set("XDG_SESSION_TYPE", sessionType);
        const std::unique_ptr<ScreenCopy> copy = createPlatformScreenCopy();
        QCOMPARE(dynamic_cast<PortalScreenCopy *>(copy.get()) != nullptr, wayland);
        QCOMPARE(dynamic_cast<X11ScreenCopy *>(copy.get()) != nullptr, !wayland);
    }

    void pictureBecomesBgrx_data()
    {
        QTest::addColumn<int>("order");
        QTest::addColumn<QByteArray>("pixel"); // the frame's first pixel, from bytes 1 2 3 4
        QTest::newRow("BGRx") << int(PixelOrder::BGRx) << QByteArray("\x01\x02\x03\x04", 4);
        QTest::newRow("BGRA") << int(PixelOrder::BGRA) << QByteArray("\x01\x02\x03\x04", 4);
        QTest::newRow("RGBx") << int(PixelOrder::RGBx) << QByteArray("\x03\x02\x01\x04", 4);
        QTest::newRow("RGBA") << int(PixelOrder::RGBA) << QByteArray("\x03\x02\x01\x04", 4);
    }

    // A 3 x 2 picture with rows 16 bytes apart (padding 0xee), each pixel 1 2 3 4 plus its
    // column and row, into a 4 x 3 frame: the picture where it lies, black around it.
    void pictureBecomesBgrx()
    {
        QFETCH(int, order);
        QFETCH(QByteArray, pixel);
        std::vector<unsigned char> src(16 * 2, 0xee);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 3; ++x)
                for (int c = 0; c < 4; ++c)
                    src[y * 16 + x * 4 + c] = static_cast<unsigned char>(c + 1 + 16 * (x + 4 * y));
        PictureView view;
        view.data = src.data();
        view.stride = 16;
        view.width = 3;
        view.height = 2;
        view.order = static_cast<PixelOrder>(order);
        std::vector<unsigned char> frame(4 * 3 * 4, 0x77);
        copyToBgrx(view, frame.data(), 4, 3);

        for (int y = 0; y < 3; ++y) {
            for (int x = 0; x < 4; ++x) {
                const unsigned char *got = &frame[(y * 4 + x) * 4];
                for (int c = 0; c < 4; ++c) {
                    const int want = (x < 3 && y < 2) ? pixel.at(c) + 16 * (x + 4 * y) : 0;
                    QVERIFY2(got[c] == want, qPrintable(QString("pixel %1,%2 byte %3: %4, want %5")
                                                            .arg(x)
                                                            .arg(y)
                                                            .arg(c)
                                                            .arg(got[c])
                                                            .arg(want)));
                }
            }
        }

        // Into a smaller frame only what fits: no byte written beyond it.
        std::vector<unsigned char> small(2 * 1 * 4 + 4, 0x77);
        copyToBgrx(view, small.data(), 2, 1);
        QCOMPARE(int(small[4]), pixel.at(0) + 16);
        QCOMPARE(int(small[8]), 0x77);
    }
};

QTEST_GUILESS_MAIN(TestPortalCopy)
#include "tst_portal_copy.moc"
