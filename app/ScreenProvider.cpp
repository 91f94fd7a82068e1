#include "ScreenProvider.h"

#include <QDesktopWidget>
#include <QGuiApplication>
#include <QScreen>

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
    // Qt's sizes are logical on a scaled screen (Wayland output scale, QT_SCALE_FACTOR), while
    // copies and receivers work in the screen's physical pixels; the top-left corner stays as
    // Qt gives it.
    const QRect logical = desktop->screenGeometry(screen);
    const QScreen *s =
        screen < 0 ? QGuiApplication::primaryScreen() : QGuiApplication::screens().value(screen);
    const qreal ratio = s ? s->devicePixelRatio() : 1.0;
    return QRect(logical.topLeft(),
                 QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio)));
}

QT_WARNING_POP
