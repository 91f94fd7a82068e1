#pragma once

#include "ScreenProvider.h"
#include "ui_Norvane.h"

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSet>
#include <QString>
#include <QSystemTrayIcon>
#include <QWidget>

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
    // As above, but the screen list is built from `screens` instead of the desktop. The
    // provider is read only during construction.
    Norvane(QWidget *parent, const ScreenProvider &screens);
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
    Norvane(QWidget *parent, const ScreenProvider *screens);

    void InitScreenList();
    void InitScreenList(const ScreenProvider &screens);
    void InitTrayMenu();
    // Sending was started without a sender: tells the user why.
    void tellWhyNothingIsSent();
    // The running capture gives receivers no picture of the screen: tells the user why.
    void tellCaptureFailure();
    // Sending was started but nothing announces the sender on the network: says so, on
    // standard error too. Sending goes on.
    void tellWhyNobodyFindsIt();
    // Tells the user why, once for each kind of trouble (named by key), in the tray's
    // notification or, without a tray, in a line in the window. The notification's title is
    // "无法发送" unless given.
    void tellUser(const QString &key, const QString &why, const QString &title = QString());

    Ui_NorvaneClass ui;
    SendThread *sendThread;
    QDesktopWidget *desktop;
    QPoint pressPos;
    bool dragging;
    QSystemTrayIcon *trayIcon;
    QMenu *trayMenu;
    QList<QRect> screenGeometries;
    QRect captureRect;
    // The in-window line of tellUser(), made only when needed.
    QLabel *notice = nullptr;
    QSet<QString> told;
};
