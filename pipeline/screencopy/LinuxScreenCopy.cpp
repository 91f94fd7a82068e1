#include "DesktopSession.h"
#include "PortalScreenCopy.h"
#include "ScreenCopy.h"
#include "X11ScreenCopy.h"
#include "XcbConnection.h"

#include <cstdlib>
#include <cstring>

bool isWaylandSession(const char *waylandDisplay, const char *sessionType)
{
    return (waylandDisplay && *waylandDisplay) ||
           (sessionType && std::strcmp(sessionType, "wayland") == 0);
}

bool isWaylandSession()
{
    return isWaylandSession(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
}

bool xScreenSize(XScreenSize &size)
{
    const XcbConnection x;
    if (!x)
        return false;
    const xcb_screen_t *screen = x.screen();
    size.widthPixels = screen->width_in_pixels;
    size.heightPixels = screen->height_in_pixels;
    size.widthMillimetres = screen->width_in_millimeters;
    size.heightMillimetres = screen->height_in_millimeters;
    return true;
}

// On Wayland the X11 copy would see only XWayland's windows: a black or partial picture.
std::unique_ptr<ScreenCopy> createPlatformScreenCopy()
{
    if (isWaylandSession())
        return std::make_unique<PortalScreenCopy>();
    return std::make_unique<X11ScreenCopy>();
}
