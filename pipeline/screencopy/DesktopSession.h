#pragma once

// What the program needs to know of the Linux desktop session before its toolkit starts. The
// screen-copy layer answers, since it is the part that talks to the display servers.

// A Wayland session: WAYLAND_DISPLAY is set and not empty, or XDG_SESSION_TYPE is "wayland".
// The arguments are the two variables' values, null when unset.
bool isWaylandSession(const char *waylandDisplay, const char *sessionType);
// The same for this process's environment.
bool isWaylandSession();

// The X server's screen ($DISPLAY) as it describes itself: pixels and millimetres.
struct XScreenSize
{
    int widthPixels = 0;
    int heightPixels = 0;
    int widthMillimetres = 0;
    int heightMillimetres = 0;
};
// False when there is no X server to ask.
bool xScreenSize(XScreenSize &size);
// Whether the X server's desktop gives clients a font resolution: an XSETTINGS manager (GNOME,
// KDE, Xfce), whose Xft/DPI Qt reads, or an Xft.dpi line among the root window's resources
// (xrdb). False when there is no X server to ask.
bool xDesktopSetsDpi();
