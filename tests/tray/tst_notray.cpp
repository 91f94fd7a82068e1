// A desktop without a notification area (Xvfb alone): the close button minimizes instead of
// hiding, so the window can always be brought back.
#include "FakeScreens.h"
#include "WindowFixture.h"
#include "XTools.h"

#include "Norvane.h"
#include "ZImageButton.h"

#include <QLabel>
#include <QtTest>

class TestNoTray : public QObject
{
    Q_OBJECT

private slots:
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

    // No sender: the first start says why in the window, where the audio row would be; the
    // stop takes it away and later starts do not bring it back.
    void noSenderIsToldInTheWindowOnce()
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
            QVERIFY(!notice->isVisible());
        }
    }

private:
    WindowFixture fakes;
};

QTEST_MAIN(TestNoTray)
#include "tst_notray.moc"
