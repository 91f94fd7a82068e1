// The tray icon and its menu in a real notification area: trayer on the test's Xvfb.
#include "FakeScreens.h"
#include "TrayHost.h"
#include "WindowFixture.h"
#include "XTools.h"

#include "Norvane.h"
#include "ZImageButton.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QtTest>

namespace {

const QRect primary(0, 0, 64, 48);

QMenu *trayMenu(const Norvane &w)
{
    return w.findChild<QSystemTrayIcon *>()->contextMenu();
}

QAction *entry(const Norvane &w, int position)
{
    return trayMenu(w)->actions().value(position);
}

QString buttonText(const Norvane &w)
{
    return w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("sendButton"))->text();
}

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute(QStringLiteral("xdotool"), arguments) == 0;
}

// The X window that trayer embeds: Qt's own widget for the icon. Qt does not follow the
// reparenting, so its idea of the icon's geometry is useless; the X server is asked instead.
QString iconWindow()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (qstrcmp(top->metaObject()->className(), "QSystemTrayIconSys") == 0)
            return QString::number(top->winId());
    }
    return QString();
}

// Where the icon is. Qt may make its window anew when trayer announces itself again, so the
// window is looked up every time.
XPlacement iconPlacement()
{
    return placement(iconWindow());
}

// Qt's own notification bubble beside the tray icon, when one shows.
QWidget *balloon()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (top->isVisible() && qstrcmp(top->metaObject()->className(), "QBalloonTip") == 0)
            return top;
    }
    return nullptr;
}

// Runs the event loop the way main() does until the program ends, after `action` ran inside
// it. Returns the loop's exit code, or -1 when it was still running after five seconds.
template <typename Action> int runUntilQuit(Action action)
{
    QTimer::singleShot(0, action);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    watchdog.start(5000);
    return QApplication::exec();
}

} // namespace

class TestTray : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY2(tray.start(), "trayer did not provide a tray"); }
    void cleanupTestCase() { tray.stop(); }
    void init() { fakes.install(); }
    void cleanup() { fakes.uninstall(); }

    void iconSitsInTheTray()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        auto *icon = w.findChild<QSystemTrayIcon *>();

        QVERIFY(QSystemTrayIcon::isSystemTrayAvailable());
        QVERIFY(icon->isVisible());
        QCOMPARE(icon->toolTip(), QStringLiteral("NDI Sender"));
        // Embedded and shown inside trayer's 24-pixel strip at the top right of the screen.
        QVERIFY(!iconWindow().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(iconPlacement().viewable, 30000);
        const QRect rect = iconPlacement().rect;
        QVERIFY2(rect.top() < 24 && rect.left() > 1000 && !rect.isEmpty(),
                 qPrintable(QStringLiteral("%1,%2 %3x%4")
                                .arg(rect.x())
                                .arg(rect.y())
                                .arg(rect.width())
                                .arg(rect.height())));
        // It stays while the window is hidden. trayer may unmap it for a moment while it lays
        // its icons out again, so the icon must be (back) in view, not in view at one instant.
        w.hide();
        QTest::qWait(100);
        QTRY_VERIFY_WITH_TIMEOUT(iconPlacement().viewable, 30000);
    }

    void menuEntries()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        const QList<QAction *> actions = trayMenu(w)->actions();

        QStringList texts;
        for (QAction *a : actions) {
            QVERIFY(!a->isSeparator());
            QVERIFY(a->icon().isNull());
            QVERIFY(!a->isCheckable());
            QVERIFY(a->isEnabled());
            texts << a->text();
        }
        QCOMPARE(texts, (QStringList{"显示主窗口", "开始发送", "停止发送", "退出"}));
        QCOMPARE(trayMenu(w)->parentWidget(), &w);
    }

    void showEntryShowsTheHiddenWindow()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        w.show();
        QTest::mouseClick(w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QVERIFY(w.isHidden());
        QVERIFY(!w.isMinimized());

        entry(w, 0)->trigger();
        QVERIFY(w.isVisible());
        QVERIFY(!isSending);
    }

    // Both send entries are the same toggle: "停止发送" while idle starts, "开始发送" while
    // sending stops, and the window's button follows either way.
    void sendEntriesToggle()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);

        entry(w, 2)->trigger();
        QVERIFY(isSending);
        QCOMPARE(buttonText(w), QStringLiteral("停止发送"));
        QVERIFY(fakes.ndi.waitForVideos(1, 5000));

        entry(w, 1)->trigger();
        QVERIFY(!isSending);
        QCOMPARE(buttonText(w), QStringLiteral("开始发送"));
        const int sent = fakes.videoFrames();

        entry(w, 1)->trigger();
        QVERIFY(isSending);
        QCOMPARE(buttonText(w), QStringLiteral("停止发送"));
        QVERIFY(fakes.ndi.waitForVideos(sent + 1, 5000));
        entry(w, 2)->trigger();
        QVERIFY(!isSending);
        QCOMPARE(fakes.screen->begins().size(), size_t(2));
    }

    // The close button hides to the tray; sending goes on and the rate is still shown.
    void closeButtonHidesWhileSending()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.OnSendBtn();
        QVERIFY(fakes.ndi.waitForVideos(1, 5000));

        QTest::mouseClick(w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("closeButton")),
                          Qt::LeftButton);
        QVERIFY(w.isHidden());
        auto *rate = w.findChild<QLabel *>(QStringLiteral("fpsLable"));
        rate->setText(QStringLiteral("-"));
        const int sent = fakes.videoFrames();
        QVERIFY(fakes.ndi.waitForVideos(sent + 20, 5000));
        QTRY_COMPARE(rate->text(), QStringLiteral("29"));
        w.OnSendBtn();
    }

    void activations()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        auto *icon = w.findChild<QSystemTrayIcon *>();
        QVERIFY(w.isHidden());

        for (auto reason :
             {QSystemTrayIcon::Trigger, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown}) {
            emit icon->activated(reason);
            QVERIFY(w.isHidden());
            QVERIFY(!trayMenu(w)->isVisible());
        }

        emit icon->activated(QSystemTrayIcon::Context);
        QVERIFY(trayMenu(w)->isVisible());
        QVERIFY(w.isHidden());
        trayMenu(w)->hide();

        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());
        // Again on a shown window: still shown, nothing else.
        emit icon->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.isVisible());
        QVERIFY(!isSending);
    }

    // No sender: every start says why in a notification of the tray icon.
    void noSenderIsToldAtEveryStartInTheTray()
    {
        fakes.ndi.setCreateFails(true);
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        w.show();
        entry(w, 1)->trigger();
        QTRY_VERIFY(balloon());
        QStringList texts;
        for (QLabel *l : balloon()->findChildren<QLabel *>())
            texts << l->text();
        QVERIFY2(texts.join(' ').contains(QStringLiteral("本机可能已有其他程序以此名称发送")),
                 qPrintable(texts.join(' ')));
        balloon()->close();
        QTRY_VERIFY(!balloon());
        entry(w, 2)->trigger();
        entry(w, 1)->trigger();
        QTRY_VERIFY(balloon());
        entry(w, 2)->trigger();
    }

    void exitEndsTheProgram_data()
    {
        QTest::addColumn<bool>("shown");
        QTest::addColumn<bool>("sending");
        QTest::newRow("shown") << true << false;
        QTest::newRow("hidden") << false << false;
        QTest::newRow("hidden while sending") << false << true;
    }
    void exitEndsTheProgram()
    {
        QFETCH(bool, shown);
        QFETCH(bool, sending);
        FakeScreens screens({primary});
        auto *w = new Norvane(nullptr, screens);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        if (!shown)
            w->OnCloseBtn();
        QCOMPARE(w->isVisible(), shown);
        if (sending) {
            w->OnSendBtn();
            QVERIFY(fakes.ndi.waitForVideos(1, 5000));
        }

        QCOMPARE(runUntilQuit([w] { entry(*w, 3)->trigger(); }), 0);
        QVERIFY(!w->isVisible());
        // As main() does after the loop: the window goes, and with it any sending.
        delete w;
        const int sent = fakes.videoFrames();
        QTest::qWait(100);
        QCOMPARE(fakes.videoFrames(), sent);
    }

    // Real input: a right click on the icon in trayer opens the menu, and choosing
    // "显示主窗口" there brings the hidden window back.
    void rightClickMenuShowsWindow()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        QTRY_VERIFY_WITH_TIMEOUT(iconPlacement().viewable, 30000);
        QVERIFY(w.isHidden());

        const QPoint iconCentre = iconPlacement().rect.center();
        QVERIFY(xdotool({"mousemove", "--sync", QString::number(iconCentre.x()),
                         QString::number(iconCentre.y()), "click", "3"}));
        QMenu *menu = trayMenu(w);
        QTRY_VERIFY(menu->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(menu));

        const QPoint entryCentre = menu->mapToGlobal(menu->actionGeometry(entry(w, 0)).center());
        QVERIFY(xdotool({"mousemove", "--sync", QString::number(entryCentre.x()),
                         QString::number(entryCentre.y())}));
        QTest::qWait(100);
        QVERIFY(xdotool({"click", "1"}));
        QTRY_VERIFY(w.isVisible());
        QTRY_VERIFY(!menu->isVisible());
        QVERIFY(!isSending);
    }

private:
    TrayHost tray;
    WindowFixture fakes;
};

QTEST_MAIN(TestTray)
#include "tst_tray.moc"
