// A desktop without a notification area (Xvfb alone): the close button minimizes instead of
// hiding, so the window can always be brought back.
#include "FakeScreens.h"
#include "SystemBus.h"
#include "WindowFixture.h"
#include "XTools.h"

#include "Norvane.h"
#include "ZImageButton.h"

#include <QLabel>
#include <QtTest>

#include <thread>

class TestNoTray : public QObject
{
    Q_OBJECT

private slots:
    // The sender counts as announced, so that only the notices under test show.
    void initTestCase()
    {
        QVERIFY(announcer.start());
        QVERIFY(announcer.own("org.freedesktop.Avahi"));
    }
    void init() { fakes.install(); }
    void cleanup() { fakes.uninstall(); }

    void closeButtonMinimizes()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        FakeScreens screens({QRect(0, 0, 64, 48)});
        Norvane w(nullptr, screens);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QTest::mouseClick(w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QTRY_VERIFY(w.isMinimized());
        // Not withdrawn: the X window stays mapped, so a window manager's task list (or a
        // restore like the one below) can bring it back. A hidden window would be unmapped.
        const QString id = QString::number(w.winId());
        QVERIFY(!w.isHidden());
        QVERIFY(placement(id).viewable);

        w.showNormal();
        QTRY_COMPARE(w.windowState(), Qt::WindowNoState);
        QVERIFY(placement(id).viewable);
        QCOMPARE(placement(id).rect.size(), w.size());
    }

    // No sender: every start says why in the window, where the audio row would be; every stop
    // takes it away.
    void noSenderIsToldAtEveryStart()
    {
        fakes.ndi.setCreateFails(true);
        FakeScreens screens({QRect(0, 0, 64, 48)});
        Norvane w(nullptr, screens);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *send = w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("sendButton"));
        QTest::mouseClick(send, Qt::LeftButton);
        auto *notice = w.findChild<QLabel *>(QStringLiteral("noticeLabel"));
        QVERIFY(notice && notice->isVisible());
        QVERIFY(notice->text().contains(QStringLiteral("“NDI”")));
        for (bool sending : {false, true, false}) {
            QTest::mouseClick(send, Qt::LeftButton);
            QCOMPARE(isSending, sending);
            QCOMPARE(notice->isVisible(), sending);
        }
    }

    // A capture that gives receivers no picture says why in the same line, once a run for each
    // kind of failure, whether the copy knew it at the start or found out later on another
    // thread; a screen NDI cannot carry is found by the engine itself.
    void captureFailureIsToldInTheWindowOnce_data()
    {
        QTest::addColumn<int>("failure");
        QTest::addColumn<bool>("later");
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QString>("saying");
        const QRect normal(0, 0, 64, 48);
        auto row = [&](const char *name, CopyFailure f, bool later, QRect screen, const char *s) {
            QTest::newRow(name) << int(f) << later << screen << QString::fromUtf8(s);
        };
        row("no portal", CopyFailure::PortalUnavailable, true, normal, "xdg-desktop-portal");
        row("share cancelled", CopyFailure::ShareCancelled, true, normal, "已取消");
        row("share refused", CopyFailure::ShareRefused, true, normal, "未共享");
        row("backend stopped", CopyFailure::ServiceStopped, true, normal, "停止运行");
        row("no picture", CopyFailure::NoPicture, true, normal, "还没有送来画面");
        row("screen unreadable", CopyFailure::ScreenUnreadable, false, normal, "无法读取");
        row("stream ended", CopyFailure::StreamEnded, true, normal, "中断");
        row("pixel format", CopyFailure::UnsupportedFormat, false, normal, "像素格式");
        row("one pixel high", CopyFailure::None, false, QRect(0, 0, 64, 1), "尺寸");
        row("over 2 GiB a frame", CopyFailure::None, false, QRect(0, 0, 32767, 16385), "尺寸");
        row("no failure", CopyFailure::None, false, normal, "");
    }
    void captureFailureIsToldInTheWindowOnce()
    {
        QFETCH(int, failure);
        QFETCH(bool, later);
        QFETCH(QRect, screen);
        QFETCH(QString, saying);
        FakeScreens screens({screen});
        Norvane w(nullptr, screens);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *send = w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("sendButton"));
        auto notice = [&] { return w.findChild<QLabel *>(QStringLiteral("noticeLabel")); };
        const auto fail = [&] { fakes.screen->fail(CopyFailure(failure)); };
        if (!later)
            fail();
        QTest::mouseClick(send, Qt::LeftButton);
        std::thread platform;
        if (later)
            platform = std::thread(fail);
        if (saying.isEmpty()) {
            QTRY_VERIFY(fakes.videoFrames() > 3);
            QVERIFY(!notice());
        } else {
            QTRY_VERIFY(notice() && notice()->isVisible());
            QVERIFY2(notice()->text().contains(saying), qPrintable(notice()->text()));
        }
        if (platform.joinable())
            platform.join();
        // The stop takes it back; the next run of the same failure tells it again.
        QTest::mouseClick(send, Qt::LeftButton);
        QVERIFY(!notice() || !notice()->isVisible());
        QTest::mouseClick(send, Qt::LeftButton);
        if (!saying.isEmpty())
            QTRY_VERIFY(notice() && notice()->isVisible());
        QTest::mouseClick(send, Qt::LeftButton);
    }

    // Two kinds of news at once share the line; the one that no longer holds goes: avahi-daemon
    // coming back while sending takes its notice back.
    void noticesShareTheLine()
    {
        QVERIFY(announcer.release("org.freedesktop.Avahi"));
        fakes.screen->fail(CopyFailure::UnsupportedFormat);
        FakeScreens screens({QRect(0, 0, 64, 48)});
        Norvane w(nullptr, screens);
        w.OnSendBtn();
        auto *notice = w.findChild<QLabel *>(QStringLiteral("noticeLabel"));
        QTRY_VERIFY(notice && notice->text().contains(QStringLiteral("像素格式")));
        QVERIFY(notice->text().contains(QStringLiteral("avahi-daemon")));
        QVERIFY(announcer.own("org.freedesktop.Avahi"));
        QTRY_VERIFY(!notice->text().contains(QStringLiteral("avahi-daemon")));
        QVERIFY(!notice->isHidden() && notice->text().contains(QStringLiteral("像素格式")));
        w.OnSendBtn();
        QVERIFY(notice->isHidden());
    }

private:
    WindowFixture fakes;
    SystemBus announcer{QDir::tempPath() + "/norvane-notray-bus"};
};

QTEST_MAIN(TestNoTray)
#include "tst_notray.moc"
