#include "Norvane.h"

#include "NdiRuntime.h"
#include "Report.h"
#include "SendThread.h"
#include "SourceDiscovery.h"

#include <QAction>
#include <QDesktopWidget>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <climits>
#include <cmath>

bool isSending = false;

namespace {
const char *const windowIconPath = ":/Norvane/Resources/Orlecast.ico";
const char *const sendImagePath = ":/Norvane/Resources/iconSendBtn.png";
const char *const stopImagePath = ":/Norvane/Resources/iconStopBtn.png";
const char *const closeImagePath = ":/Norvane/Resources/btnClose.png";
// Each button image is a strip of four state pictures side by side.
const int stripFrames = 4;
// Screen numbers the list looks at, whatever the desktop reports.
const int examinedScreens = 4;
// How long the tray shows why nothing is sent.
const int noticeMs = 15000;
// The in-window notice line's largest font; smaller when several notices share it.
const int noticePointSize = 10;

// A Wayland client cannot place its own window: the compositor moves it when asked to.
bool compositorPlacesWindows()
{
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}
} // namespace

Norvane::Norvane(QWidget *parent) : Norvane(parent, nullptr) {}

Norvane::Norvane(QWidget *parent, ScreenProvider &screens) : Norvane(parent, &screens) {}

Norvane::Norvane(QWidget *parent, ScreenProvider *screens)
    : QWidget(parent), sendThread(nullptr), desktop(nullptr), pressPos(0, 0), dragging(false),
      trayIcon(nullptr), trayMenu(nullptr), screens(screens)
{
    ui.setupUi(this);
    // The form's size, fixed: a tiling compositor (sway) floats a window whose minimum and
    // maximum sizes are equal instead of stretching it over the whole output.
    setFixedSize(size());
    sendThread = new SendThread(this);

    setWindowFlags(Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, true);
    setWindowIcon(QIcon(QString::fromLatin1(windowIconPath)));

    connect(ui.sendButton, SIGNAL(clicked()), this, SLOT(OnSendBtn()));
    connect(ui.closeButton, SIGNAL(clicked()), this, SLOT(OnCloseBtn()));
    // The rate is measured on the send thread.
    connect(sendThread, SIGNAL(sendCurFPS(float)), this, SLOT(ShowCurFPS(float)),
            Qt::QueuedConnection);
    // Must exist before the list is filled: the first insertion sets the capture rectangle.
    connect(ui.screenCmb, SIGNAL(currentIndexChanged(int)), this, SLOT(OnScreenChange(int)));

    desktop = new QDesktopWidget;
    if (!this->screens)
        this->screens = new DesktopScreenProvider(desktop, this);
    // Laptops dock and undock, projectors change the resolution: the list follows.
    connect(this->screens, &ScreenProvider::changed, this, &Norvane::followScreens);
    InitScreenList();

    ui.closeButton->setImage(QString::fromLatin1(closeImagePath), stripFrames);
    ui.sendButton->setImage(QString::fromLatin1(sendImagePath), stripFrames);
    ui.sendButton->setText(tr("开始发送"));

    // The audio row is never used.
    ui.label_2->setVisible(false);
    ui.audioCmb->setVisible(false);

    // The window opens whether or not a sender could be made; each press of send without one
    // tries again, and says why if there is still none.
    sendThread->initNDI();
    connect(sendThread, &SendThread::captureFailed, this, &Norvane::tellCaptureFailure);
    announcement = new AnnouncementWatch(this);
    connect(announcement, &AnnouncementWatch::announcedChanged, this, &Norvane::tellAnnounced);

    trayIcon = new QSystemTrayIcon(this);
    trayIcon->setIcon(QIcon(QString::fromLatin1(windowIconPath)));
    InitTrayMenu();
    trayIcon->setContextMenu(trayMenu);
    connect(trayIcon, &QSystemTrayIcon::activated, this, &Norvane::OnSystemActive);
    trayIcon->setToolTip(QStringLiteral("NDI Sender"));
    trayIcon->show();
}

Norvane::~Norvane()
{
    // The icon leaves the notification area before anything else of the window goes.
    delete trayIcon;
    trayIcon = nullptr;
    // No capture thread may post to a window on its way out.
    sendThread->stopSend();
    delete desktop;
    desktop = nullptr;
}

namespace {
// The distinct screen rectangles, the default screen's first, and whose each is.
void readScreens(const ScreenProvider &screens, QList<QRect> &geometries, QStringList &names)
{
    geometries = {screens.screenGeometry(-1)};
    names = QStringList(screens.screenName(-1));
    for (int s = 0; s < examinedScreens; ++s) {
        const QRect rect = screens.screenGeometry(s);
        if (geometries.contains(rect))
            continue;
        if (rect.width() > 0) {
            geometries.append(rect);
            names.append(screens.screenName(s));
        }
    }
}
} // namespace

void Norvane::InitScreenList()
{
    const int count = screens->numScreens();
    readScreens(*screens, screenGeometries, screenNames);
    ui.screenCmb->clear();
    for (int i = 0; i < count; ++i)
        ui.screenCmb->insertItem(i, tr("屏幕 ") + QString::number(i + 1));
}

void Norvane::followScreens()
{
    QList<QRect> geometries;
    QStringList names;
    readScreens(*screens, geometries, names);
    if (geometries == screenGeometries && names == screenNames &&
        screens->numScreens() == ui.screenCmb->count())
        return;
    const QString chosen = captureScreen;
    InitScreenList();
    // Filling the selector chose the first entry; the one chosen before stays while its screen
    // is there.
    const int index = screenNames.indexOf(chosen);
    if (index > 0)
        ui.screenCmb->setCurrentIndex(index);

    // A running capture follows its own screen, not the selector. Should that screen be gone,
    // it keeps its rectangle (black where nothing is left) rather than show another screen
    // nobody chose to share.
    const int running = screenNames.indexOf(sendingScreen);
    if (isSending && running >= 0 && screenGeometries.at(running) != sendingRect) {
        sendingRect = screenGeometries.at(running);
        sendThread->moveCapture(sendingRect.width(), sendingRect.height(), sendingRect.left(),
                                sendingRect.top());
    }
}

void Norvane::OnScreenChange(int index)
{
    // -1 comes while the selector is being cleared. Entries beyond the list (more than four
    // screens, or mirrored screens) have no rectangle of their own: choosing one keeps the
    // current capture rectangle rather than guessing another screen.
    if (index < 0 || index >= screenGeometries.size())
        return;
    captureRect = screenGeometries.at(index);
    captureScreen = screenNames.value(index);
}

void Norvane::OnSendBtn()
{
    isSending = !isSending;
    if (isSending) {
        // Without a sender each press tries again: another program may have let go of the
        // name, or the runtime been installed since.
        sendThread->initNDI();
        sendingScreen = captureScreen;
        sendingRect = captureRect;
        const QPoint topLeft = captureRect.topLeft();
        sendThread->startSend(captureRect.width(), captureRect.height(), topLeft.x(), topLeft.y());
        ui.sendButton->setImage(QString::fromLatin1(stopImagePath), stripFrames);
        ui.sendButton->setText(tr("停止发送"));
        tellWhyNothingIsSent();
        if (sendThread->senderStatus() == SendThread::SenderStatus::Created &&
            !announcement->start())
            tellNotAnnounced();
    } else {
        sendThread->stopSend();
        announcement->stop();
        // The next press says anew whatever still holds.
        notices.clear();
        showNotices();
        ui.sendButton->setImage(QString::fromLatin1(sendImagePath), stripFrames);
        ui.sendButton->setText(tr("开始发送"));
        // No context object: the reset fires even if a new run has begun meanwhile, and the
        // next report overwrites it. The guard only keeps a destroyed window safe.
        QPointer<QLabel> label = ui.fpsLable;
        QTimer::singleShot(500, [label] {
            if (label)
                label->setText(QString::number(0));
        });
    }
}

void Norvane::tellWhyNothingIsSent()
{
    const QString install = tr("请安装 NDI 运行库（ndi.video）。");
    QString why;
    switch (sendThread->senderStatus()) {
    case SendThread::SenderStatus::Created:
        return;
    case SendThread::SenderStatus::NotInitialised:
    case SendThread::SenderStatus::NoRuntime: {
        const std::vector<NdiRuntime::Rejection> found = NdiRuntime::rejections();
        if (found.empty()) {
            why = tr("未找到 NDI 运行库，画面不会发送。") + install;
            break;
        }
        const QString file = QString::fromStdString(found.front().file);
        switch (found.front().kind) {
        case NdiRuntime::Rejection::Kind::Damaged:
            why = tr("NDI 运行库 %1 已损坏（文件不完整），画面不会发送。").arg(file);
            break;
        case NdiRuntime::Rejection::Kind::OtherProcessor:
            why = tr("NDI 运行库 %1 是为其他处理器构建的，画面不会发送。").arg(file);
            break;
        default:
            why = tr("NDI 运行库 %1 无法加载，画面不会发送。").arg(file);
            break;
        }
        why += install;
        break;
    }
    case SendThread::SenderStatus::NoSse42:
        why = tr("NDI 运行库需要支持 SSE4.2 的处理器，本机处理器不支持，画面不会发送。");
        break;
    case SendThread::SenderStatus::InitializeFailed:
        why = tr("NDI 运行库拒绝启动，画面不会发送。");
        break;
    case SendThread::SenderStatus::CreateFailed:
        why = tr("无法创建名为“NDI”的发送端，画面不会发送。本机可能已有其他程序以此名称发送。");
        break;
    }
    tellUser(QStringLiteral("sender"), why);
}

void Norvane::tellAnnounced(bool announced)
{
    if (!isSending)
        return;
    const QString key = QStringLiteral("announcer");
    if (!announced) {
        Report::once("announcer-gone", "avahi-daemon stopped while sending: receivers on the "
                                       "network no longer find this sender by themselves. "
                                       "Sending goes on.");
        tellNotAnnounced();
        return;
    }
    const bool told =
        std::any_of(notices.begin(), notices.end(), [&](const Notice &n) { return n.key == key; });
    withdraw(key);
    // A notification cannot be taken back: a new one says it is over.
    if (told && trayNotifies())
        trayIcon->showMessage(tr("接收端可以找到本机"),
                              tr("avahi-daemon 已运行，网络上的接收端现在可以找到“NDI”。"),
                              QSystemTrayIcon::Information, noticeMs);
}

void Norvane::tellNotAnnounced()
{
    Report::once("announcer",
                 "avahi-daemon is not running (nothing owns org.freedesktop.Avahi on the system "
                 "bus): receivers on the network will not find this sender by themselves. "
                 "Sending goes on. Start avahi-daemon, or let the receivers add this machine's "
                 "address (extra IPs in their NDI settings).");
    tellUser(QStringLiteral("announcer"),
             tr("avahi-daemon 未运行，网络上的接收端无法自动找到“NDI”，画面仍在发送。"
                "请启动 avahi-daemon，或在接收端添加本机的 IP 地址。"),
             tr("接收端找不到本机"));
}

bool Norvane::trayNotifies() const
{
    return QSystemTrayIcon::isSystemTrayAvailable() && QSystemTrayIcon::supportsMessages();
}

void Norvane::tellCaptureFailure(CopyFailure failure)
{
    // Reported by a run that may have ended since.
    if (!isSending)
        return;
    const QString again = tr("停止后再次开始发送可重试。");
    QString why;
    switch (failure) {
    case CopyFailure::None:
        return;
    case CopyFailure::PortalUnavailable:
        why = tr("无法使用桌面的屏幕共享服务（xdg-desktop-portal），画面不会发送。") + again;
        break;
    case CopyFailure::ShareCancelled:
        why = tr("屏幕共享已取消，画面不会发送。停止后再次开始发送，可重新选择屏幕。");
        break;
    case CopyFailure::ShareRefused:
        why = tr("桌面结束了屏幕共享请求，屏幕未共享，画面不会发送。") + again;
        break;
    case CopyFailure::ServiceStopped:
        why =
            tr("桌面的屏幕共享服务在共享对话框打开时停止运行，屏幕未共享，画面不会发送。") + again;
        break;
    case CopyFailure::NoPicture:
        why = tr("桌面的屏幕共享服务还没有送来画面，接收端收不到画面。如果没有看到共享对话框，"
                 "该服务可能已停滞，可重启 PipeWire 和桌面的屏幕共享服务后再试。");
        break;
    case CopyFailure::StreamEnded:
        why = tr("桌面的屏幕画面已中断，接收端只收到黑色画面。停止后再次开始发送即可恢复。");
        break;
    case CopyFailure::UnsupportedFormat:
        why = tr("不支持此屏幕的像素格式，接收端只收到黑色画面。");
        break;
    case CopyFailure::UnusableSize:
        why = tr("此屏幕的尺寸无法以 NDI 发送，接收端收不到画面。");
        break;
    case CopyFailure::ScreenUnreadable:
        why = tr("无法读取屏幕画面，接收端只收到黑色画面。");
        break;
    }
    tellUser(QStringLiteral("capture-%1").arg(int(failure)), why);
}

void Norvane::tellUser(const QString &key, const QString &why, const QString &title)
{
    // Once a run is enough: the button keeps working as a toggle either way.
    for (const Notice &n : notices) {
        if (n.key == key)
            return;
    }
    notices.append({key, title.isEmpty() ? tr("无法发送") : title, why});
    showNotices();
}

void Norvane::withdraw(const QString &key)
{
    notices.erase(std::remove_if(notices.begin(), notices.end(),
                                 [&](const Notice &n) { return n.key == key; }),
                  notices.end());
    showNotices();
}

void Norvane::showNotices()
{
    QStringList texts;
    for (const Notice &n : notices)
        texts << n.text;
    if (trayNotifies()) {
        // One notification at a time: the newest shows all that hold.
        if (!notices.isEmpty())
            trayIcon->showMessage(notices.last().title, texts.join(QLatin1Char('\n')),
                                  QSystemTrayIcon::Warning, noticeMs);
        return;
    }
    if (notices.isEmpty()) {
        if (notice)
            notice->hide();
        return;
    }
    // Without a tray, the empty row the hidden audio choice leaves in the frame takes it.
    if (!notice) {
        notice = new QLabel(ui.frame);
        notice->setObjectName(QStringLiteral("noticeLabel"));
        notice->setGeometry(QRect(30, 128, 390, 56));
        notice->setWordWrap(true);
        notice->setAlignment(Qt::AlignCenter);
    }
    // As large as the row lets all of them be.
    const QString text = texts.join(QLatin1Char('\n'));
    int points = noticePointSize;
    for (; points > 6; --points) {
        QFont font = notice->font();
        font.setPointSize(points);
        const QRect needed = QFontMetrics(font).boundingRect(
            QRect(0, 0, notice->width(), 1000), Qt::TextWordWrap | Qt::AlignCenter, text);
        if (needed.height() <= notice->height())
            break;
    }
    notice->setStyleSheet(QStringLiteral("font: %1pt; color: rgb(240, 180, 90);").arg(points));
    notice->setText(text);
    notice->show();
}

void Norvane::ShowCurFPS(float f)
{
    // Truncation toward zero; values no int can hold are pinned rather than left undefined.
    const double t = std::trunc(static_cast<double>(f));
    int shown = 0;
    if (std::isnan(t))
        shown = 0;
    else if (t >= static_cast<double>(INT_MAX))
        shown = INT_MAX;
    else if (t <= static_cast<double>(INT_MIN))
        shown = INT_MIN;
    else
        shown = static_cast<int>(t);
    ui.fpsLable->setText(QString::number(shown));
}

void Norvane::OnCloseBtn()
{
    // Hidden, the window comes back through the tray. Without a notification area it could
    // never come back, so it is minimized instead.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}

void Norvane::OnActionExit()
{
    close();
}

void Norvane::InitTrayMenu()
{
    trayMenu = new QMenu(this);

    auto *showAction = new QAction(trayMenu);
    auto *startAction = new QAction(trayMenu);
    auto *stopAction = new QAction(trayMenu);
    auto *exitAction = new QAction(trayMenu);

    showAction->setText(tr("显示主窗口"));
    startAction->setText(tr("开始发送"));
    stopAction->setText(tr("停止发送"));
    exitAction->setText(tr("退出"));

    trayMenu->addAction(showAction);
    trayMenu->addAction(startAction);
    trayMenu->addAction(stopAction);
    trayMenu->addAction(exitAction);

    // Both send entries toggle: neither looks at the current state.
    connect(showAction, &QAction::triggered, this, [this] { show(); });
    connect(startAction, &QAction::triggered, this, &Norvane::OnSendBtn);
    connect(stopAction, &QAction::triggered, this, &Norvane::OnSendBtn);
    connect(exitAction, &QAction::triggered, this, &Norvane::OnActionExit);
}

void Norvane::OnSystemActive(QSystemTrayIcon::ActivationReason reason)
{
    switch (reason) {
    case QSystemTrayIcon::Context:
        trayMenu->show();
        break;
    case QSystemTrayIcon::DoubleClick:
        show();
        break;
    default:
        break;
    }
}

void Norvane::mousePressEvent(QMouseEvent *event)
{
    pressPos = event->pos();
    dragging = true;
    event->accept();
}

void Norvane::mouseMoveEvent(QMouseEvent *event)
{
    // Only a pure left-button drag moves the window; the pressed point stays under the pointer.
    if (dragging && event->buttons() == Qt::LeftButton) {
        if (compositorPlacesWindows()) {
            // The compositor follows the pointer from here until the button comes up.
            dragging = false;
            windowHandle()->startSystemMove();
        } else {
            move(event->globalPos() - pressPos);
        }
    }
    event->accept();
}

void Norvane::mouseReleaseEvent(QMouseEvent *event)
{
    dragging = false;
    event->accept();
}
