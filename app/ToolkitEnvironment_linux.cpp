#include "ToolkitEnvironment.h"

#include "DesktopSession.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QtGlobal>

namespace {

// Qt's resolution for one axis of an X screen: pixels over millimetres.
bool plausibleDpi(int pixels, int millimetres)
{
    if (millimetres <= 0)
        return false;
    const double dpi = 25.4 * pixels / millimetres;
    return dpi >= 20.0 && dpi <= 2000.0;
}

void setUnlessSet(const char *name, const char *value)
{
    if (!qEnvironmentVariableIsSet(name))
        qputenv(name, QByteArray(value));
}

} // namespace

void preparePlatformEnvironment()
{
    // No OpenGL: the widgets draw into shared memory. On X11, Qt's GLX integration would load
    // Mesa and LLVM. On Wayland its EGL client-buffer integration would, loaded for the first
    // window that could hold OpenGL children and for the question whether Qt draws window
    // decorations: without the integration it draws none, and the window is frameless anyway.
    setUnlessSet("QT_XCB_GL_INTEGRATION", "none");
    setUnlessSet("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    QCoreApplication::setAttribute(Qt::AA_ForceRasterWidgets);
    // In a Wayland session the window is a Wayland client (XWayland only as a fallback), so it
    // runs where no X server exists and the compositor knows it by its app id.
    if (isWaylandSession())
        setUnlessSet("QT_QPA_PLATFORM", "wayland;xcb");

    if (qEnvironmentVariableIsSet("QT_FONT_DPI") || !qEnvironmentVariableIsSet("DISPLAY"))
        return;
    XScreenSize screen;
    if (!xScreenSize(screen))
        return;
    // Without a resolution from the desktop, Qt 5 takes the screen's physical one, and would
    // scale the window by it: by 100/96 on a screen of 100 dots per inch. Desktops mean 96
    // then, as other toolkits (and later Qt) take it.
    if (!xDesktopSetsDpi() || !plausibleDpi(screen.widthPixels, screen.widthMillimetres) ||
        !plausibleDpi(screen.heightPixels, screen.heightMillimetres))
        qputenv("QT_FONT_DPI", "96");
}
