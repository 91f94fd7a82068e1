#pragma once

// Settings Qt reads from the environment while the application object is created, so this runs
// before it. Whatever the user has set in the environment is kept.
//  - The window follows the desktop's scale as a whole (Windows' display scaling, X11's
//    Xft.dpi): geometry, texts and images keep their proportions, and a fractional scale such
//    as 150% stays 1.5 instead of being rounded to 2.
//  - No OpenGL unless asked for: nothing here draws with it, and Qt's GLX integration (X11) or
//    its EGL client-buffer integration (Wayland) alone loads Mesa and LLVM (tens of megabytes,
//    twice the start-up time).
//  - In a Wayland session, Qt's Wayland platform (X11 through XWayland only as a fallback).
//  - A sane font resolution where the display reports a screen of no physical size (a virtual
//    screen one pixel high, say): Qt derives its dots per inch from that size, and text drawn
//    at an infinite resolution brings the program down.
void prepareToolkitEnvironment();

// The platform's own part of the above, called by prepareToolkitEnvironment().
void preparePlatformEnvironment();
