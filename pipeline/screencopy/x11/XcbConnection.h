#pragma once

#include <xcb/xcb.h>

// One connection to an X server and the screen it was opened for; disconnected on
// destruction. Null (and no screen) when the server cannot be reached.
class XcbConnection
{
public:
    // Connects to display, or to $DISPLAY when null.
    explicit XcbConnection(const char *display = nullptr)
    {
        int screenNumber = 0;
        xcb_connection_t *c = xcb_connect(display, &screenNumber);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return;
        }
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
        for (int i = 0; i < screenNumber && it.rem; ++i)
            xcb_screen_next(&it);
        if (!it.rem) {
            xcb_disconnect(c);
            return;
        }
        connection_ = c;
        screen_ = it.data;
    }
    ~XcbConnection()
    {
        if (connection_)
            xcb_disconnect(connection_);
    }
    XcbConnection(const XcbConnection &) = delete;
    XcbConnection &operator=(const XcbConnection &) = delete;

    xcb_connection_t *get() const { return connection_; }
    // The screen's data lives as long as the connection.
    const xcb_screen_t *screen() const { return screen_; }
    explicit operator bool() const { return connection_ != nullptr; }

private:
    xcb_connection_t *connection_ = nullptr;
    const xcb_screen_t *screen_ = nullptr;
};
