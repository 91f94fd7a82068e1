#include "DesktopSession.h"
#include "PortalScreenCopy.h"
#include "ScreenCopy.h"
#include "X11ScreenCopy.h"
#include "XcbConnection.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

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

namespace {
// A reply from the X server, freed with the C library's free().
template <typename T> struct Reply : std::unique_ptr<T, decltype(&std::free)>
{
    explicit Reply(T *reply) : std::unique_ptr<T, decltype(&std::free)>(reply, &std::free) {}
};
} // namespace

bool xDesktopSetsDpi()
{
    const XcbConnection x;
    if (!x)
        return false;
    xcb_connection_t *c = x.get();
    char *host = nullptr;
    int displayNumber = 0, screenNumber = 0;
    if (!xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        screenNumber = 0;
    std::free(host);
    const std::string selection = "_XSETTINGS_S" + std::to_string(screenNumber);
    const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, uint16_t(selection.size()), selection.c_str()), nullptr));
    if (atom && atom->atom != XCB_ATOM_NONE) {
        const Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
        if (owner && owner->owner != XCB_WINDOW_NONE)
            return true;
    }

    // Up to a megabyte of resources (the request counts in 32-bit units), one per line.
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, x.screen()->root, XCB_ATOM_RESOURCE_MANAGER,
                                                XCB_ATOM_STRING, 0, 1 << 18),
                               nullptr));
    if (!reply || reply->format != 8)
        return false;
    const std::string resources(static_cast<const char *>(xcb_get_property_value(reply.get())),
                                std::size_t(xcb_get_property_value_length(reply.get())));
    const std::string name = "Xft.dpi:\t";
    for (std::size_t at = 0; at < resources.size();) {
        const std::size_t end = std::min(resources.find('\n', at), resources.size());
        if (resources.compare(at, name.size(), name) == 0 &&
            std::atof(resources.substr(at + name.size(), end - at - name.size()).c_str()) > 0)
            return true;
        at = end + 1;
    }
    return false;
}

// On Wayland the X11 copy would see only XWayland's windows: a black or partial picture.
std::unique_ptr<ScreenCopy> createPlatformScreenCopy()
{
    if (isWaylandSession())
        return std::make_unique<PortalScreenCopy>();
    return std::make_unique<X11ScreenCopy>();
}
