#pragma once

#include "ScreenCopy.h"
#include "XcbConnection.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <memory>

// Screen copy from the X server's root window (Qt's virtual-desktop coordinates on X11 are
// root coordinates). With MIT-SHM the server writes each picture straight into a shared
// segment; without it (a remote display) the picture comes in the GetImage reply.
class X11ScreenCopy : public ScreenCopy
{
public:
    enum class Transport { Automatic, PlainGetImage };

    // Connects to $DISPLAY at once, as the engine acquires its screen handles at
    // construction. A failed connection makes every begin() fail.
    explicit X11ScreenCopy(Transport transport = Transport::Automatic);
    ~X11ScreenCopy() override;
    X11ScreenCopy(const X11ScreenCopy &) = delete;
    X11ScreenCopy &operator=(const X11ScreenCopy &) = delete;

    bool begin(int width, int height, int left, int top) override;
    bool copy(unsigned char *buffer) override;
    void end() override;

    bool connected() const { return static_cast<bool>(connection); }
    // The current run copies through a shared segment.
    bool usesShm() const { return segment != nullptr; }
    // The server's pixels are 32 bits, LSB first, blue-green-red: the frame layout itself.
    // Otherwise copies hand on the server's bytes unconverted, cut to fit the buffer.
    bool nativeLayout() const { return native; }

private:
    // An attached System V segment, known to the server; detached and forgotten on
    // destruction. It is marked for removal as soon as both sides hold it.
    class ShmSegment;

    void copyRows(unsigned char *buffer, const unsigned char *src, int srcStride) const;

    XcbConnection connection;
    xcb_window_t root = 0;
    int rootWidth = 0;
    int rootHeight = 0;
    int bitsPerPixel = 0;
    int scanlinePad = 32;
    bool native = false;
    bool shmAvailable = false;

    // The run: the requested rectangle and the part of it that lies on the root window.
    bool running = false;
    int width = 0, height = 0, left = 0, top = 0;
    int clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
    int srcStride = 0;
    std::unique_ptr<ShmSegment> segment;
};
