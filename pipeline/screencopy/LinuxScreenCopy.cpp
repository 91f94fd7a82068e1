#include "PortalScreenCopy.h"
#include "WaylandSession.h"
#include "X11ScreenCopy.h"

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

// On Wayland the X11 copy would see only XWayland's windows: a black or partial picture.
std::unique_ptr<ScreenCopy> createPlatformScreenCopy()
{
    if (isWaylandSession())
        return std::make_unique<PortalScreenCopy>();
    return std::make_unique<X11ScreenCopy>();
}
