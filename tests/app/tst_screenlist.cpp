// The screen list: which rectangles the window keeps, which entries the selector shows, and
// which rectangle a start publishes. Screens come from a fake desktop, so any layout runs here.
#include "FakeScreens.h"
#include "WindowFixture.h"

#include "Norvane.h"

#include <QComboBox>
#include <QStringList>
#include <QtTest>

namespace {

QStringList entries(const Norvane &w)
{
    const auto *cmb = w.findChild<QComboBox *>(QStringLiteral("screenCmb"));
    QStringList texts;
    for (int i = 0; i < cmb->count(); ++i)
        texts << cmb->itemText(i);
    return texts;
}

QComboBox *selector(const Norvane &w)
{
    return w.findChild<QComboBox *>(QStringLiteral("screenCmb"));
}

QStringList numbered(int n)
{
    QStringList texts;
    for (int i = 1; i <= n; ++i)
        texts << QStringLiteral("屏幕 %1").arg(i);
    return texts;
}

} // namespace

class TestScreenList : public QObject
{
    Q_OBJECT

private slots:
    void init() { fakes.install(); }
    void cleanup() { fakes.uninstall(); }

    void oneScreen()
    {
        const QRect primary(0, 0, 1920, 1080);
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);

        QCOMPARE(entries(w), numbered(1));
        QCOMPARE(selector(w)->currentIndex(), 0);
        QCOMPARE(selector(w)->itemIcon(0).isNull(), true);
        QVERIFY(!selector(w)->itemData(0).isValid());
        QCOMPARE(w.currentCaptureRect(), primary);
        // Only the default screen and the numbers 0 to 3 are examined.
        QCOMPARE(screens.asked, (QList<int>{-1, 0, 1, 2, 3}));
    }

    void secondScreenMayStartAnywhere()
    {
        const QRect primary(0, 0, 1920, 1080);
        const QRect second(1920, -200, 1280, 1024);
        FakeScreens screens({primary, second});
        Norvane w(nullptr, screens);

        QCOMPARE(entries(w), numbered(2));
        QCOMPARE(w.currentCaptureRect(), primary);
        selector(w)->setCurrentIndex(1);
        QCOMPARE(w.currentCaptureRect(), second);
        selector(w)->setCurrentIndex(0);
        QCOMPARE(w.currentCaptureRect(), primary);
    }

    // Equal rectangles (a mirrored pair) are kept once, while the selector still has an entry
    // per screen. An entry past the list keeps the rectangle that was chosen before.
    void duplicatesAndEntriesPastTheList()
    {
        const QRect a(0, 0, 1920, 1080);
        const QRect b(-1280, 0, 1280, 720);
        FakeScreens screens({a, a, b});
        Norvane w(nullptr, screens);

        QCOMPARE(entries(w), numbered(3));
        selector(w)->setCurrentIndex(1);
        QCOMPARE(w.currentCaptureRect(), b);
        selector(w)->setCurrentIndex(2);
        QCOMPARE(w.currentCaptureRect(), b);
        selector(w)->setCurrentIndex(0);
        QCOMPARE(w.currentCaptureRect(), a);
    }

    // A screen that reports an empty rectangle gets an entry but no list element; the next
    // real screen moves up.
    void emptyRectanglesAreSkipped()
    {
        const QRect a(0, 0, 800, 600);
        const QRect c(800, 0, 1024, 768);
        FakeScreens screens({a, QRect(800, 0, 0, 600), c});
        Norvane w(nullptr, screens);

        QCOMPARE(entries(w), numbered(3));
        selector(w)->setCurrentIndex(1);
        QCOMPARE(w.currentCaptureRect(), c);
    }

    void manyScreens()
    {
        QList<QRect> rects;
        for (int i = 0; i < 10; ++i)
            rects << QRect(i * 100, 0, 100, 50);
        FakeScreens screens(rects);
        Norvane w(nullptr, screens);

        QCOMPARE(entries(w), numbered(10));
        QCOMPARE(entries(w).last(), QStringLiteral("屏幕 10"));
        QCOMPARE(screens.asked, (QList<int>{-1, 0, 1, 2, 3}));
        // Screens 0 to 3 (the primary among them) have rectangles; the rest have none.
        selector(w)->setCurrentIndex(3);
        QCOMPARE(w.currentCaptureRect(), rects.at(3));
        for (int i = 4; i < 10; ++i) {
            selector(w)->setCurrentIndex(i);
            QCOMPARE(w.currentCaptureRect(), rects.at(3));
        }
    }

    void noScreens()
    {
        FakeScreens screens({QRect(0, 0, 640, 480)}, 0);
        Norvane w(nullptr, screens);

        QVERIFY(entries(w).isEmpty());
        QVERIFY(w.currentCaptureRect().isNull());
    }

    void minusOneKeepsTheRectangle()
    {
        const QRect primary(0, 0, 1920, 1080);
        const QRect second(1920, 0, 1920, 1080);
        FakeScreens screens({primary, second});
        Norvane w(nullptr, screens);

        selector(w)->setCurrentIndex(1);
        selector(w)->setCurrentIndex(-1);
        QCOMPARE(selector(w)->currentIndex(), -1);
        QCOMPARE(w.currentCaptureRect(), second);
        w.OnScreenChange(-1);
        QCOMPARE(w.currentCaptureRect(), second);
    }

    // A new choice while sending leaves the running capture alone and applies at the next start.
    void changeWhileSendingAppliesNextStart()
    {
        const QRect primary(0, 0, 64, 48);
        const QRect second(64, 16, 32, 24);
        FakeScreens screens({primary, second});
        Norvane w(nullptr, screens);

        w.OnSendBtn();
        QTRY_VERIFY(fakes.videoFrames() > 0);
        selector(w)->setCurrentIndex(1);
        QTest::qWait(100);
        QCOMPARE(fakes.screen->begins().size(), size_t(1));
        QCOMPARE(fakes.screen->begins().front(), (FakeScreenCopy::Rect{64, 48, 0, 0}));
        QCOMPARE(fakes.lastVideoSize(), QSize(64, 48));

        w.OnSendBtn();
        w.OnSendBtn();
        QTRY_COMPARE(fakes.lastVideoSize(), QSize(32, 24));
        QCOMPARE(fakes.screen->begins().size(), size_t(2));
        QCOMPARE(fakes.screen->begins().back(), (FakeScreenCopy::Rect{32, 24, 64, 16}));
        w.OnSendBtn();
    }

    // The list follows the desktop: the chosen screen stays chosen while it is there, and a
    // running capture follows its own screen's new rectangle, and only its own.
    void followsTheDesktop()
    {
        const QRect primary(0, 0, 64, 48), second(64, 0, 32, 24), grown(64, 0, 48, 40);
        FakeScreens screens({primary, second});
        Norvane w(nullptr, screens);
        selector(w)->setCurrentIndex(1);
        w.OnSendBtn();
        QTRY_COMPARE(fakes.lastVideoSize(), QSize(32, 24));

        screens.change({primary, grown});
        QCOMPARE(selector(w)->currentIndex(), 1);
        QCOMPARE(w.currentCaptureRect(), grown);
        QTRY_COMPARE(fakes.lastVideoSize(), QSize(48, 40));
        QCOMPARE(fakes.screen->begins().back(), (FakeScreenCopy::Rect{48, 40, 64, 0}));

        const QRect wider(0, 0, 80, 60);
        screens.change({wider, grown});
        QCOMPARE(fakes.screen->begins().size(), size_t(2));

        // Unplugged: the next start takes the first screen; the running capture keeps its
        // rectangle rather than show a screen nobody chose.
        screens.change({wider});
        QCOMPARE(entries(w), numbered(1));
        QCOMPARE(w.currentCaptureRect(), wider);
        QCOMPARE(fakes.screen->begins().size(), size_t(2));
        w.OnSendBtn();
        w.OnSendBtn();
        QTRY_COMPARE(fakes.lastVideoSize(), QSize(80, 60));
        w.OnSendBtn();
    }

private:
    WindowFixture fakes;
};

QTEST_MAIN(TestScreenList)
#include "tst_screenlist.moc"
