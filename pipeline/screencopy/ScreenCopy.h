#pragma once

#include <memory>

// "Copy this rectangle of the desktop into this buffer." One implementation per platform,
// chosen at build time; the capture engine owns one and calls it from its own thread.
// Qt-free, so that the Windows backend also builds with a bare mingw toolchain.
class ScreenCopy
{
public:
    virtual ~ScreenCopy() = default;

    // Prepares a run for the rectangle, in virtual-desktop coordinates (left and top may be
    // negative). Width or height 0 is valid: copies then have nothing to do. Returns false
    // when the platform cannot copy that rectangle; every copy() then fails.
    virtual bool begin(int width, int height, int left, int top) = 0;

    // Fills buffer (width * height * 4 bytes, as given to begin()) with the rectangle's
    // pixels: rows top to bottom, packed, each pixel blue, green, red, unused. On true every
    // byte was written: whatever of the rectangle lies beyond the screen is black. Returns
    // false when this copy failed; the buffer may then hold anything, and the engine blacks
    // it out, since the buffer is fresh memory that must never reach the network.
    virtual bool copy(unsigned char *buffer) = 0;

    // Releases what begin() prepared. Safe to call without a begin().
    virtual void end() = 0;
};

// The backend this build was configured with (X11 MIT-SHM on Linux, GDI on Windows).
std::unique_ptr<ScreenCopy> createPlatformScreenCopy();
