// The main window as it shows on a real X server (Xvfb): the frame's border, the two separator
// lines and the dark background, read back from the screen. The screen grab is saved beside
// the test as window.png (the README's docs/window.png is one).
#include "FakeNdi.h"
#include "NdiRuntime.h"
#include "Norvane.h"
#include "UserSession.h"
#include "XRoot.h"

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QtTest>

#include <csignal>

namespace {

const QColor line(47, 56, 78);
const QColor background(25, 30, 42);
// The frame's place in the window.
const QPoint frameAt(10, 5);
const QSize frameSize(450, 310);

QString describe(const QColor &c)
{
    return QString("rgb(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

} // namespace

class TestWindowLook : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void frameLinesAndBackgroundOnScreen();
    void screensOfNoHeightDoNotBringItDown_data();
    void screensOfNoHeightDoNotBringItDown();

private:
    // Pixel at frame coordinates (x, y) of the grab.
    QColor framePixel(int x, int y) const { return grabbed.pixelColor(frameAt + QPoint(x, y)); }
    QImage grabbed;
};

void TestWindowLook::initTestCase()
{
    QVERIFY2(QGuiApplication::platformName() == "xcb", "needs an X server (DISPLAY x11)");
    // The window starts its sender at construction: give it a table that loads no runtime.
    FakeNdi::instance().reset();
    NdiRuntime::install(FakeNdi::instance().api());
}

void TestWindowLook::cleanupTestCase()
{
    NdiRuntime::install(nullptr);
}

void TestWindowLook::frameLinesAndBackgroundOnScreen()
{
    Norvane window;
    window.move(60, 40);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QScreen *screen = QGuiApplication::primaryScreen();
    const QRect area(window.pos(), window.size());
    QCOMPARE(area.size(), QSize(474, 329));
    // Wait until the backing store has reached the server: the border's corner is drawn.
    QTRY_VERIFY_WITH_TIMEOUT(
        (grabbed = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage())
                .pixelColor(frameAt) == line,
        5000);
    grabbed.save(QDir(QCoreApplication::applicationDirPath()).filePath("window.png"));

    // The border, one pixel wide on each edge of the frame.
    const int right = frameSize.width() - 1, bottom = frameSize.height() - 1;
    for (const QPoint &p : {QPoint(0, 150), QPoint(right, 150), QPoint(225, 0), QPoint(225, bottom),
                            QPoint(right, bottom)}) {
        QVERIFY2(framePixel(p.x(), p.y()) == line,
                 qPrintable(QString("border at %1,%2 is %3")
                                .arg(p.x())
                                .arg(p.y())
                                .arg(describe(framePixel(p.x(), p.y())))));
        // ... and inside it the background starts.
        const QPoint in(p.x() == right ? p.x() - 1
                        : p.x() == 0   ? 1
                                       : p.x(),
                        p.y() == bottom ? p.y() - 1
                        : p.y() == 0    ? 1
                                        : p.y());
        QCOMPARE(framePixel(in.x(), in.y()), background);
    }

    // The separators: one-pixel lines across the frame at y 45 and 265.
    for (int y : {45, 265}) {
        for (int x : {1, 100, 300, right - 1}) {
            QVERIFY2(framePixel(x, y) == line, qPrintable(QString("separator at %1,%2 is %3")
                                                              .arg(x)
                                                              .arg(y)
                                                              .arg(describe(framePixel(x, y)))));
        }
        QCOMPARE(framePixel(100, y - 1), background);
        QCOMPARE(framePixel(100, y + 1), background);
    }

    // The background, in the empty stretches of the frame.
    for (const QPoint &p : {QPoint(20, 70), QPoint(430, 70), QPoint(20, 240), QPoint(300, 240)})
        QCOMPARE(framePixel(p.x(), p.y()), background);

    // The border rule selects the frame by name: the labels in it get no border (the screen
    // row's caption is right-aligned, so its left edge is empty).
    QCOMPARE(framePixel(10, 110), background);
    QCOMPARE(framePixel(11, 110), background);

    // The send button shows the normal frame of its strip: a blue face.
    const QColor face = framePixel(332 + 44, 275 + 3);
    QVERIFY2(face.blue() > 180 && face.red() < 100, qPrintable(describe(face)));

    // Outside the frame the window is see-through.
    const QImage own = window.grab().toImage();
    QCOMPARE(own.pixelColor(3, 3).alpha(), 0);
    QCOMPARE(own.pixelColor(frameAt + QPoint(200, 200)).alpha(), 255);
}

void TestWindowLook::screensOfNoHeightDoNotBringItDown_data()
{
    QTest::addColumn<QString>("screen");
    // The X server gives these screens 0 millimetres of height.
    QTest::newRow("1920x1") << "1920x1x24";
    QTest::newRow("1x1") << "1x1x24";
}

// The built program on such a screen: its window appears, and it ends normally when asked.
void TestWindowLook::screensOfNoHeightDoNotBringItDown()
{
    QFETCH(QString, screen);
    XvfbServer server(screen);
    const QByteArray ownDisplay = qgetenv("DISPLAY");
    qputenv("DISPLAY", server.display().toLatin1());
    UserSession user;
    const bool shown = user.start(QStringLiteral(NORVANE_EXE), UserSession::programEnvironment());
    qputenv("DISPLAY", ownDisplay);
    QVERIFY2(shown, "no window appeared");
    QCOMPARE(::kill(pid_t(user.program().processId()), SIGTERM), 0);
    QVERIFY(user.waitForExit(5000));
    QCOMPARE(user.program().exitCode(), 0);
}

QTEST_MAIN(TestWindowLook)
#include "tst_window_look.moc"
