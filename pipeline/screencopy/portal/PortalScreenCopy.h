#pragma once

#include "BgrxConversion.h"
#include "ScreenCopy.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class PortalThread;

// Screen copy in a Wayland session: the desktop portal's ScreenCast, pictures delivered by
// PipeWire. begin() starts the conversation on a thread of its own (the desktop may show its
// share dialog, which decides the screen); the rectangle is not used. The compositor sends a
// picture only when the screen changes, so the newest one is held, in the stream's own buffer,
// and every copy reads it from there (converting the layout, in the same pass): a still screen
// is still sent at the full rate, and a picture is copied once on its way to the frame. Frames
// have the stream's size. Once the stream has stopped giving the screen, every copy fails (the
// engine sends black) at the last picture's size; the next begin() starts a new conversation.
class PortalScreenCopy : public ScreenCopy
{
public:
    PortalScreenCopy();
    ~PortalScreenCopy() override;
    PortalScreenCopy(const PortalScreenCopy &) = delete;
    PortalScreenCopy &operator=(const PortalScreenCopy &) = delete;

    bool begin(int width, int height, int left, int top) override;
    // The stream's size is the platform's to decide: nothing to redo.
    void moveTo(int, int, int, int) override {}
    bool frameReady(int &width, int &height) override;
    void setWakeUp(std::function<void()> wake) override;
    bool copy(unsigned char *buffer) override;
    CopyFailure failure() const override;
    void end() override;

private:
    // On PipeWire's thread, for the stream started by run number `run`: a newer picture to
    // hold (false when it is not wanted), and the end of reading the one held.
    bool showPicture(std::uint64_t run, const PictureView &picture);
    void withdrawPicture(std::uint64_t run);
    // On the conversation's thread: run number `run` gives no screen, or no more.
    void receiveFailure(std::uint64_t run, CopyFailure why);

    std::function<void()> wake;
    std::unique_ptr<PortalThread> thread;

    // Guards the members below. Held for a whole copy, so that the stream, which takes it to
    // show or withdraw a picture, never gives back a buffer that is being read.
    mutable std::mutex mutex;
    // Counts begin() and end(), so that a picture or failure of an ended run is never kept.
    std::uint64_t runs = 0;
    // The held picture, in the stream's buffer; read only while hasPicture.
    PictureView held;
    int newestWidth = 0; // of the run's last picture, kept after a failure
    int newestHeight = 0;
    bool hasPicture = false;
    CopyFailure runFailure = CopyFailure::None;
    // The size frameReady() last gave: what copy() must fill.
    int frameWidth = 0;
    int frameHeight = 0;
};
