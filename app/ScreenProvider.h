#pragma once

#include <QObject>
#include <QRect>
#include <QString>

class QDesktopWidget;
class QScreen;

// Where the screen list reads the desktop's screens, and hears that they changed. Production
// asks the desktop object; tests hand in fixed geometries and changes, so that any screen
// layout can be tried on any machine.
class ScreenProvider : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    virtual int numScreens() const = 0;
    // Screen -1 is the default (primary) screen; a number the desktop lacks yields an empty
    // rectangle.
    virtual QRect screenGeometry(int screen) const = 0;
    // What tells a screen apart while rectangles change (its output's name); numbered as
    // above, empty for a number the desktop lacks.
    virtual QString screenName(int screen) const = 0;

signals:
    // A screen was added or removed, moved or resized, or another became the primary one.
    void changed();
};

// The desktop's screens, followed through the toolkit's screen signals.
class DesktopScreenProvider : public ScreenProvider
{
    Q_OBJECT
public:
    explicit DesktopScreenProvider(const QDesktopWidget *desktop, QObject *parent = nullptr);

    int numScreens() const override;
    QRect screenGeometry(int screen) const override;
    QString screenName(int screen) const override;

private:
    void follow(QScreen *screen);

    const QDesktopWidget *desktop;
};
