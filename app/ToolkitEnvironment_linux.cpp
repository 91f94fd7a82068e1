#include "ToolkitEnvironment.h"

#include "WaylandSession.h"
#include "XcbConnection.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <cstdlib>
#include <memory>

namespace {

// Qt's resolution for one axis of an X screen: pixels over millimetres.
bool plausibleDpi(int pixels, int millimetres)
{
    if (millimetres <= 0)
        return false;
    const double dpi = 25.4 * pixels / millimetres;
    return dpi >= 20.0 && dpi <= 2000.0;
}

// A reply from the X server, freed with the C library's free().
template <typename T> struct Reply : std::unique_ptr<T, decltype(&std::free)>
{
    explicit Reply(T *reply) : std::unique_ptr<T, decltype(&std::free)>(reply, &std::free) {}
};

// Whether the desktop gives X clients a font resolution: an XSETTINGS manager (GNOME, Xfce,
// KDE), whose Xft/DPI Qt reads, or an Xft.dpi line among the root window's resources (xrdb).
bool desktopSetsDpi(const XcbConnection &x)
{
    xcb_connection_t *c = x.get();
    char *host = nullptr;
    int displayNumber = 0, screenNumber = 0;
    if (!xcb_parse_display(nullptr, &host, &displayNumber, &screenNumber))
        screenNumber = 0;
    std::free(host);
    const QByteArray selection = "_XSETTINGS_S" + QByteArray::number(screenNumber);
    const Reply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 1, uint16_t(selection.size()), selection.constData()), nullptr));
    if (atom && atom->atom != XCB_ATOM_NONE) {
        const Reply<xcb_get_selection_owner_reply_t> owner(
            xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, atom->atom), nullptr));
        if (owner && owner->owner != XCB_WINDOW_NONE)
            return true;
    }

    // Up to a megabyte of resources (the request counts in 32-bit units).
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, x.screen()->root, XCB_ATOM_RESOURCE_MANAGER,
                                                XCB_ATOM_STRING, 0, 1 << 18),
                               nullptr));
    if (!reply || reply->format != 8)
        return false;
    const QByteArray resources(static_cast<const char *>(xcb_get_property_value(reply.get())),
                               xcb_get_property_value_length(reply.get()));
    for (const QByteArray &line : resources.split('\n')) {
        if (line.startsWith("Xft.dpi:\t") && line.mid(9).toDouble() > 0)
            return true;
    }
    return false;
}

void setUnlessSet(const char *name, const char *value)
{
    if (!qEnvironmentVariableIsSet(name))
        qputenv(name, QByteArray(value));
}

} // namespace

void preparePlatformEnvironment()
{
    setUnlessSet("QT_XCB_GL_INTEGRATION", "none");
    // In a Wayland session the window is a Wayland client (XWayland only as a fallback), so it
    // runs where no X server exists and the compositor knows it by its app id.
    if (isWaylandSession())
        setUnlessSet("QT_QPA_PLATFORM", "wayland;xcb");

    if (qEnvironmentVariableIsSet("QT_FONT_DPI") || !qEnvironmentVariableIsSet("DISPLAY"))
        return;
    const XcbConnection x;
    if (!x)
        return;
    const xcb_screen_t *screen = x.screen();
    // Without a resolution from the desktop, Qt 5 takes the screen's physical one, and would
    // scale the window by it: by 100/96 on a screen of 100 dots per inch. Desktops mean 96
    // then, as other toolkits (and later Qt) take it.
    if (!desktopSetsDpi(x) ||
        !plausibleDpi(screen->width_in_pixels, screen->width_in_millimeters) ||
        !plausibleDpi(screen->height_in_pixels, screen->height_in_millimeters))
        qputenv("QT_FONT_DPI", "96");
}
