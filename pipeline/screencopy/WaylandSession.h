#pragma once

// A Wayland session: WAYLAND_DISPLAY is set and not empty, or XDG_SESSION_TYPE is "wayland".
// The arguments are the two variables' values, null when unset.
bool isWaylandSession(const char *waylandDisplay, const char *sessionType);
// The same for this process's environment.
bool isWaylandSession();
