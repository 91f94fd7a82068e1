// The main window's controller on fakes: construction, the send toggle and its rate label,
// dragging, and the order of destruction. (Hiding while sending is tested with the tray.)
#include "FakeScreens.h"
#include "WindowFixture.h"

#include "Norvane.h"
#include "SendThread.h"
#include "ZImageButton.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QtTest>

namespace {

const QRect primary(0, 0, 64, 48);

QLabel *rateLabel(const Norvane &w)
{
    return w.findChild<QLabel *>(QStringLiteral("fpsLable"));
}

ZUILIB::ZImageButton *sendButton(const Norvane &w)
{
    return w.findChild<ZUILIB::ZImageButton *>(QStringLiteral("sendButton"));
}

// The button as it looks with the pointer away from it (a click leaves it hovered).
QImage picture(QWidget *widget)
{
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(widget, &leave);
    return widget->grab().toImage();
}

void sendMouse(QWidget *w, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons held)
{
    QMouseEvent event(type, local, w->mapToGlobal(local), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Moves the pointer to a global position while `held` is down, as a drag does.
void dragTo(QWidget *w, QPoint global, Qt::MouseButtons held)
{
    const QPoint local = w->mapFromGlobal(global);
    QMouseEvent event(QEvent::MouseMove, local, global, Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// Puts the window at a known place on screen, ready to be dragged.
bool showForDragging(Norvane &w)
{
    w.move(100, 100);
    w.show();
    return QTest::qWaitForWindowExposed(&w);
}

// Records the rate label's text each time a queued rate report is about to reach the window,
// so that a value the report then overwrites is still seen.
class LabelBeforeReports : public QObject
{
public:
    explicit LabelBeforeReports(Norvane *w) : label(rateLabel(*w)) { w->installEventFilter(this); }
    QStringList seen;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            seen << label->text();
        return false;
    }

private:
    QLabel *label;
};

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private slots:
    void init() { fakes.install(); }
    void cleanup() { fakes.uninstall(); }

    void construction()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);

        QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(w.testAttribute(Qt::WA_TranslucentBackground));
        QVERIFY(!w.windowIcon().isNull());
        QVERIFY(w.findChild<QLabel *>(QStringLiteral("label_2"))->isHidden());
        QVERIFY(w.findChild<QComboBox *>(QStringLiteral("audioCmb"))->isHidden());
        QCOMPARE(sendButton(w)->text(), QStringLiteral("开始发送"));
        QCOMPARE(rateLabel(w)->text(), QStringLiteral("0"));
        // NDI is set up once, by the constructor, with one sender; nothing is sent yet.
        QCOMPARE(fakes.ndi.calls(), (std::vector<std::string>{"initialize", "send_create"}));

        auto *tray = w.findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        QVERIFY(tray->isVisible());
        QCOMPARE(tray->toolTip(), QStringLiteral("NDI Sender"));
        QCOMPARE(tray->contextMenu(), w.findChild<QMenu *>());
        QVERIFY(!tray->icon().isNull());
    }

    // Start publishes the primary screen and shows the stop action; stop restores the idle
    // button and, half a second later, a rate of "0".
    void toggle()
    {
        FakeScreens screens({primary, QRect(64, 0, 32, 32)});
        Norvane w(nullptr, screens);
        w.show();
        const QImage idle = picture(sendButton(w));

        QTest::mouseClick(sendButton(w), Qt::LeftButton);
        QVERIFY(isSending);
        QCOMPARE(sendButton(w)->text(), QStringLiteral("停止发送"));
        QVERIFY(picture(sendButton(w)) != idle);
        QVERIFY(fakes.ndi.waitForVideos(12, 5000));
        QCOMPARE(fakes.lastVideoSize(), primary.size());
        QCOMPARE(fakes.screen->begins().front(), (FakeScreenCopy::Rect{64, 48, 0, 0}));
        // Paced like 29.97 frames per second, shown truncated.
        QTRY_COMPARE(rateLabel(w)->text(), QStringLiteral("29"));

        QTest::mouseClick(sendButton(w), Qt::LeftButton);
        QElapsedTimer sinceStop;
        sinceStop.start();
        QVERIFY(!isSending);
        const int sent = fakes.videoFrames();
        QCOMPARE(sendButton(w)->text(), QStringLiteral("开始发送"));
        QCOMPARE(picture(sendButton(w)), idle);
        QCOMPARE(rateLabel(w)->text(), QStringLiteral("29"));
        QTRY_COMPARE_WITH_TIMEOUT(rateLabel(w)->text(), QStringLiteral("0"), 2000);
        QVERIFY2(sinceStop.elapsed() >= 450, qPrintable(QString::number(sinceStop.elapsed())));
        QTest::qWait(200);
        QCOMPARE(fakes.videoFrames(), sent);
    }

    // Start, stop and start again within half a second: the pending reset still comes, and a
    // later report of the new run replaces it.
    void restartWithinHalfSecond()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        LabelBeforeReports watch(&w);

        w.OnSendBtn();
        QTRY_COMPARE(rateLabel(w)->text(), QStringLiteral("29"));
        w.OnSendBtn();
        w.OnSendBtn();
        QVERIFY(isSending);
        QCOMPARE(sendButton(w)->text(), QStringLiteral("停止发送"));

        watch.seen.clear();
        QTest::qWait(600);
        // The reset has fired by now; wait for the first report after it.
        const int before = watch.seen.size();
        QTRY_VERIFY(watch.seen.size() > before);
        QVERIFY2(watch.seen.contains(QStringLiteral("0")), qPrintable(watch.seen.join(',')));
        QTRY_COMPARE(rateLabel(w)->text(), QStringLiteral("29"));
        w.OnSendBtn();
    }

    void rateIsTruncatedTowardZero_data()
    {
        QTest::addColumn<float>("rate");
        QTest::addColumn<QString>("shown");
        QTest::newRow("29.97") << 29.97f << "29";
        QTest::newRow("30.99") << 30.99f << "30";
        QTest::newRow("0.6") << 0.6f << "0";
        QTest::newRow("-1.7") << -1.7f << "-1";
        QTest::newRow("inf") << std::numeric_limits<float>::infinity() << "2147483647";
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << "0";
    }
    void rateIsTruncatedTowardZero()
    {
        QFETCH(float, rate);
        QFETCH(QString, shown);
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        w.ShowCurFPS(rate);
        QCOMPARE(rateLabel(w)->text(), shown);
    }

    void leftDragKeepsThePressedPointUnderThePointer()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        QVERIFY(showForDragging(w));
        const QPoint origin = w.pos();
        const QPoint pressed(30, 20);

        sendMouse(&w, QEvent::MouseButtonPress, pressed, Qt::LeftButton, Qt::LeftButton);
        const QPoint target = w.mapToGlobal(pressed) + QPoint(57, -13);
        dragTo(&w, target, Qt::LeftButton);
        QCOMPARE(w.pos(), origin + QPoint(57, -13));
        QCOMPARE(w.mapToGlobal(pressed), target);

        // Once released, moving the pointer leaves the window where it is.
        sendMouse(&w, QEvent::MouseButtonRelease, pressed, Qt::LeftButton, Qt::NoButton);
        dragTo(&w, target + QPoint(40, 40), Qt::LeftButton);
        QCOMPARE(w.mapToGlobal(pressed), target);
    }

    void otherButtonsDoNotDrag()
    {
        FakeScreens screens({primary});
        Norvane w(nullptr, screens);
        QVERIFY(showForDragging(w));
        const QPoint origin = w.pos();

        sendMouse(&w, QEvent::MouseButtonPress, QPoint(30, 20), Qt::RightButton, Qt::RightButton);
        dragTo(&w, w.mapToGlobal(QPoint(90, 90)), Qt::RightButton);
        QCOMPARE(w.pos(), origin);
        // Left and right together is not a left drag either.
        dragTo(&w, w.mapToGlobal(QPoint(90, 90)), Qt::LeftButton | Qt::RightButton);
        QCOMPARE(w.pos(), origin);
        sendMouse(&w, QEvent::MouseButtonRelease, QPoint(30, 20), Qt::RightButton, Qt::NoButton);
    }

    // The tray icon goes first; destroying the send engine stops a running send.
    void destructionStopsSendingTrayIconFirst()
    {
        FakeScreens screens({primary});
        auto *w = new Norvane(nullptr, screens);
        QStringList order;
        auto *tray = w->findChild<QSystemTrayIcon *>();
        auto *engine = w->findChild<SendThread *>();
        auto *menu = w->findChild<QMenu *>();
        connect(tray, &QObject::destroyed, [&] { order << "tray icon"; });
        connect(engine, &QObject::destroyed, [&] { order << "send engine"; });
        connect(menu, &QObject::destroyed, [&] { order << "tray menu"; });

        w->OnSendBtn();
        QVERIFY(fakes.ndi.waitForVideos(3, 5000));
        delete w;
        QCOMPARE(order.value(0), QStringLiteral("tray icon"));
        QCOMPARE(order.size(), 3);
        QCOMPARE(fakes.screen->endCount(), 1);
        const int sent = fakes.videoFrames();
        QTest::qWait(100);
        QCOMPARE(fakes.videoFrames(), sent);
    }

private:
    WindowFixture fakes;
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
