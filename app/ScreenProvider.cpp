#include "ScreenProvider.h"

#include <QDesktopWidget>
#include <QGuiApplication>
#include <QScreen>
#include <qpa/qplatformscreen.h>

namespace {
const QScreen *numbered(int screen)
{
    return screen < 0 ? QGuiApplication::primaryScreen() : QGuiApplication::screens().value(screen);
}
} // namespace

DesktopScreenProvider::DesktopScreenProvider(const QDesktopWidget *desktop, QObject *parent)
    : ScreenProvider(parent), desktop(desktop)
{
    for (QScreen *screen : QGuiApplication::screens())
        follow(screen);
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this](QScreen *screen) {
        follow(screen);
        emit changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, &ScreenProvider::changed);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, &ScreenProvider::changed);
}

void DesktopScreenProvider::follow(QScreen *screen)
{
    connect(screen, &QScreen::geometryChanged, this, &ScreenProvider::changed);
}

QString DesktopScreenProvider::screenName(int screen) const
{
    const QScreen *s = numbered(screen);
    return s ? s->name() : QString();
}

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
    const QRect logical = desktop->screenGeometry(screen);
    const QScreen *s = numbered(screen);
    if (!s || logical.isEmpty())
        return logical;
    // Copies and receivers work in the screen's physical pixels, while Qt's sizes are logical
    // on a scaled desktop. The platform's own geometry is in physical pixels on X11 and
    // Windows (Qt keeps a screen's position there and divides only its size, with rounding
    // that multiplying back cannot undo); on Wayland it is the output's logical size, which
    // the output's scale turns into pixels.
    const QPlatformScreen *platform = s->handle();
    const QRect native = platform->geometry();
    const qreal ratio = platform->devicePixelRatio();
    return QRect(native.topLeft(),
                 QSize(qRound(native.width() * ratio), qRound(native.height() * ratio)));
}

QT_WARNING_POP
