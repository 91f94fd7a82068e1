// A desktop without a notification area (Xvfb alone): the close button minimizes instead of
// hiding, so the window can always be brought back.
#include "FakeScreens.h"
#include "WindowFixture.h"

#include "Norvane.h"
#include "ZImageButton.h"

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
        QVERIFY(!w.isHidden());

        w.showNormal();
        QTRY_VERIFY(!w.isMinimized());
        QVERIFY(w.isVisible());
    }

private:
    WindowFixture fakes;
};

QTEST_MAIN(TestNoTray)
#include "tst_notray.moc"
