#pragma once

#include "ScreenProvider.h"
#include "ui_Norvane.h"

#include <QList>
#include <QPoint>
#include <QRect>
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
    // Sending was started without a sender: tells the user why, once, in the tray's
    // notification or, without a tray, in the window.
    void tellWhyNothingIsSent();
    // Sending was started but nothing announces the sender on the network: says so once, on
    // standard error and to the user. Sending goes on.
    void tellWhyNobodyFindsIt();
    // The tray's notification, or without a tray the line in the window.
    void showNotice(const QString &title, const QString &text);

    Ui_NorvaneClass ui;
    SendThread *sendThread;
    QDesktopWidget *desktop;
    QPoint pressPos;
    bool dragging;
    QSystemTrayIcon *trayIcon;
    QMenu *trayMenu;
    QList<QRect> screenGeometries;
    QRect captureRect;
    // The in-window notice of tellWhyNothingIsSent(), made only when needed.
    QLabel *notice = nullptr;
    bool toldWhyNothingIsSent = false;
    bool toldWhyNobodyFindsIt = false;
};
