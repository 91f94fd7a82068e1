#pragma once

#include "ScreenCopy.h"
#include "XcbConnection.h"

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <vector>

// Screen copy from the X server's root window (Qt's virtual-desktop coordinates on X11 are
// root coordinates). With MIT-SHM the server writes each picture straight into a shared
// segment; without it (a remote display) the picture comes in the GetImage reply.
//
// The root can change size while a run goes on (a resolution change, a monitor unplugged):
// the copy follows it, copies the part of the rectangle that still exists and blacks out the
// rest. Pixels in the frame layout are copied as they are; 15-, 16- and 30-bit TrueColor
// screens are converted; any other format gives black frames.
class X11ScreenCopy : public ScreenCopy
{
public:
    enum class Transport { Automatic, PlainGetImage };

    // Connects to the display (null: $DISPLAY) at once, as the engine acquires its screen
    // handles at construction. A failed connection makes every begin() fail.
    explicit X11ScreenCopy(Transport transport = Transport::Automatic,
                           const char *display = nullptr);
    ~X11ScreenCopy() override;
    X11ScreenCopy(const X11ScreenCopy &) = delete;
    X11ScreenCopy &operator=(const X11ScreenCopy &) = delete;

    bool begin(int width, int height, int left, int top) override;
    bool copy(unsigned char *buffer) override;
    CopyFailure failure() const override;
    void end() override;

    bool connected() const { return static_cast<bool>(connection); }
    // The current run copies through a shared segment.
    bool usesShm() const { return segment != nullptr; }
    // The server's pixels are 32 bits, LSB first, blue-green-red: the frame layout itself.
    bool nativeLayout() const { return format == Format::Native; }
    // The server's pixels can be turned into the frame layout (natively or converted).
    bool supportedFormat() const { return format != Format::Unsupported; }

private:
    // An attached System V segment, known to the server; detached and forgotten on
    // destruction. It is marked for removal as soon as both sides hold it.
    class ShmSegment;
    enum class Format { Native, Convert16, Convert32, Unsupported };

    void readPixelFormat();
    // Asks the server for the root's size now (after a failed copy).
    void reReadRootSize();
    // Takes note of root size changes the server has reported since the last copy.
    void takeRootChanges();
    // The part of the rectangle on the root, and a segment to hold it.
    void clip();
    bool fetch(unsigned char *buffer);
    void convertRows(unsigned char *buffer, const unsigned char *src) const;
    void blackOutsideClip(unsigned char *buffer) const;

    XcbConnection connection;
    xcb_window_t root = 0;
    int rootWidth = 0;
    int rootHeight = 0;
    int bitsPerPixel = 0;
    int scanlinePad = 32;
    Format format = Format::Unsupported;
    // Channel masks of a TrueColor visual that is converted, and for 16-bit pixels every
    // pixel value's frame pixel.
    std::uint32_t masks[3] = {0, 0, 0}; // red, green, blue
    std::vector<std::uint32_t> table16;
    bool shmAvailable = false;

    // The run: the requested rectangle and the part of it that lies on the root window.
    bool running = false;
    // The display cannot be read: no connection, or the server closed it.
    bool unreadable = false;
    int width = 0, height = 0, left = 0, top = 0;
    int clipX = 0, clipY = 0, clipWidth = 0, clipHeight = 0;
    int srcStride = 0;
    std::unique_ptr<ShmSegment> segment;
};
