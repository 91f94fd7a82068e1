#include "ScreenProvider.h"

#include <QDesktopWidget>

// The desktop object's numbered-screen calls are deprecated in later Qt 5 releases, but they
// are exactly the numbering (-1 = primary, unknown number = empty rectangle) the list needs.
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED

int DesktopScreenProvider::numScreens() const
{
    return desktop->numScreens();
}

QRect DesktopScreenProvider::screenGeometry(int screen) const
{
    return desktop->screenGeometry(screen);
}

QT_WARNING_POP
