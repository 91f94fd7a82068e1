#pragma once

#include <functional>
#include <memory>

// Why a run of the screen copy gives receivers no picture of the screen; the window tells the
// user, once each.
enum class CopyFailure {
    None,
    PortalUnavailable, // no desktop portal on the session bus, a call to it failed, or it went
                       // away before the screen was shared
    ShareCancelled,    // the user cancelled the desktop's share dialog
    ShareRefused,      // the desktop ended the share request without sharing the screen
    ServiceStopped,    // the desktop's screen-sharing service stopped while its dialog was open
    NoPicture,         // the share was granted, but no picture has come since
    StreamEnded,       // the desktop's stream ended or broke while sending: black from then on
    UnsupportedFormat, // the screen's pixel format cannot be converted: black frames
    UnusableSize,      // frames of the screen's size cannot be sent (a side under 2 pixels,
                       // or more than 2 GiB a frame)
    ScreenUnreadable,  // the screen cannot be read (the display connection lost, the copy
                       // refused): black frames until it can again
};

// "Copy this rectangle of the desktop into this buffer." One implementation per platform
// (chosen at build time, and on Linux at run time by the session type); the capture engine
// owns one and calls it from its own thread.
// Qt-free, so that the Windows backend also builds with a bare mingw toolchain.
class ScreenCopy
{
public:
    virtual ~ScreenCopy() = default;

    // Prepares a run for the rectangle, in virtual-desktop coordinates (left and top may be
    // negative). Width or height 0 is valid: copies then have nothing to do. Returns false
    // when the platform cannot copy that rectangle; every copy() then fails.
    virtual bool begin(int width, int height, int left, int top) = 0;

    // The run goes on with another rectangle (its screen moved or changed size). A copy made
    // on demand prepares anew; a stream, whose size the platform decides, keeps going.
    virtual void moveTo(int width, int height, int left, int top)
    {
        end();
        begin(width, height, left, top);
    }

    // Whether a frame can be copied now, and its size. Copies made on demand (X11, GDI) always
    // can, at the rectangle's size: width and height are left as they are. A copy fed by the
    // platform (a stream) has nothing before its first picture, or ever once the platform
    // refused; its pictures have the size the platform gives. Called before every copy().
    virtual bool frameReady(int & /*width*/, int & /*height*/) { return true; }

    // Given once by the engine: called by a copy fed by the platform when frameReady() may
    // have turned true, so that the engine can sleep meanwhile. Must not be called while the
    // copy holds a lock that its own operations take.
    virtual void setWakeUp(std::function<void()> /*wake*/) {}

    // Fills buffer (width * height * 4 bytes, as frameReady() gave them) with the rectangle's
    // pixels: rows top to bottom, packed, each pixel blue, green, red, unused. On true every
    // byte was written: whatever of the rectangle lies beyond the screen is black. Returns
    // false when this copy failed; the buffer may then hold anything, and the engine blacks
    // it out, since the buffer is fresh memory that must never reach the network.
    virtual bool copy(unsigned char *buffer) = 0;

    // The current run's failure; None while the copy gives the screen. The engine asks after
    // every copy, so a copy made on demand reports what its last copy met; a copy whose
    // failure comes on a thread of its own calls the wake-up given by setWakeUp() once it is
    // set. Called with the engine's lock held, like copy().
    virtual CopyFailure failure() const { return CopyFailure::None; }

    // Releases what begin() prepared. Safe to call without a begin(). The engine calls it
    // once its thread has ended, so a copy may wait here for threads of its own.
    virtual void end() = 0;
};

// The platform's backend: GDI on Windows; on Linux the desktop portal in a Wayland session and
// X11 MIT-SHM otherwise.
std::unique_ptr<ScreenCopy> createPlatformScreenCopy();
