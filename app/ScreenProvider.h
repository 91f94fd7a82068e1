#pragma once

#include <QRect>

class QDesktopWidget;

// Where the screen list reads the desktop's screens. Production asks the desktop object;
// tests hand in fixed geometries so that any screen layout can be tried on any machine.
class ScreenProvider
{
public:
    virtual ~ScreenProvider() = default;

    virtual int numScreens() const = 0;
    // Screen -1 is the default (primary) screen; a number the desktop lacks yields an empty
    // rectangle.
    virtual QRect screenGeometry(int screen) const = 0;
};

class DesktopScreenProvider : public ScreenProvider
{
public:
    explicit DesktopScreenProvider(const QDesktopWidget *desktop) : desktop(desktop) {}

    int numScreens() const override;
    QRect screenGeometry(int screen) const override;

private:
    const QDesktopWidget *desktop;
};
