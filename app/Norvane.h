#pragma once

#include "ScreenCopy.h"
#include "ScreenProvider.h"
#include "ui_Norvane.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QSystemTrayIcon>
#include <QWidget>

class AnnouncementWatch;
class QDesktopWidget;
class QLabel;
class QMenu;
class QMouseEvent;
class SendThread;

// State of the send toggle, shared by the whole process and touched only on the GUI thread.
extern bool isSending;

// The main window: frameless and translucent, owns the send engine, keeps the capture
// rectangle, turns the send button into a start/stop toggle, shows the rate, hides itself to
// the tray and can be dragged by any point.
class Norvane : public QWidget
{
    Q_OBJECT
public:
    explicit Norvane(QWidget *parent = nullptr);
    // As above, but the screen list is built from `screens` instead of the desktop, and follows
    // its changes; it must outlive the window.
    Norvane(QWidget *parent, ScreenProvider &screens);
    ~Norvane() override;

    // The area the next start will publish.
    QRect currentCaptureRect() const { return captureRect; }

public slots:
    void OnSendBtn();
    void ShowCurFPS(float f);
    void OnCloseBtn();
    void OnActionExit();
    void OnSystemActive(QSystemTrayIcon::ActivationReason);
    void OnScreenChange(int index);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    Norvane(QWidget *parent, ScreenProvider *screens);

    void InitScreenList();
    // The screens changed: the list is built anew, the chosen entry stays chosen while its
    // screen exists, and a running capture follows its own screen's new rectangle.
    void followScreens();
    void InitTrayMenu();
    // Sending was started without a sender: tells the user why.
    void tellWhyNothingIsSent();
    // The running capture gives receivers no picture of the screen: tells the user why.
    void tellCaptureFailure(CopyFailure failure);
    // While sending, whether anything announces the sender on the network changed: tells the
    // user, or takes back what was told.
    void tellAnnounced(bool announced);
    // Nothing announces the sender: says so, on standard error too. Sending goes on.
    void tellNotAnnounced();
    // Whether the tray shows notifications (else the window's notice line tells).
    bool trayNotifies() const;
    // Tells the user, once for each kind of news (named by key) in a run of sending, in the
    // tray's notification or, without a tray, in a line in the window; several at once are
    // shown together. The notification's title is "无法发送" unless given. A stop takes them
    // all back.
    void tellUser(const QString &key, const QString &why, const QString &title = QString());
    // News that no longer holds.
    void withdraw(const QString &key);
    void showNotices();

    Ui_NorvaneClass ui;
    SendThread *sendThread;
    QDesktopWidget *desktop;
    QPoint pressPos;
    bool dragging;
    QSystemTrayIcon *trayIcon;
    QMenu *trayMenu;
    QList<QRect> screenGeometries;
    QRect captureRect;
    // Whose rectangle each list element is, and captureRect's.
    QStringList screenNames;
    QString captureScreen;
    ScreenProvider *screens = nullptr;
    // The running capture's screen and rectangle, which it follows while sending.
    QString sendingScreen;
    QRect sendingRect;
    AnnouncementWatch *announcement = nullptr;
    // What the user has been told in this run of sending; the in-window line of tellUser(),
    // made only when needed.
    struct Notice
    {
        QString key, title, text;
    };
    QList<Notice> notices;
    QLabel *notice = nullptr;
};
