#pragma once

#include "BgrxConversion.h"
#include "ScreenCopy.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class PortalThread;

// Screen copy in a Wayland session: the desktop portal's ScreenCast, pictures delivered by
// PipeWire. begin() starts the conversation on a thread of its own (the desktop may show its
// share dialog, which decides the screen); the rectangle is not used. The compositor sends a
// picture only when the screen changes, so the newest one is kept and every copy hands it out
// again: a still screen is still sent at the full rate. Frames have the stream's size.
class PortalScreenCopy : public ScreenCopy
{
public:
    PortalScreenCopy();
    ~PortalScreenCopy() override;
    PortalScreenCopy(const PortalScreenCopy &) = delete;
    PortalScreenCopy &operator=(const PortalScreenCopy &) = delete;

    bool begin(int width, int height, int left, int top) override;
    bool frameReady(int &width, int &height) override;
    void setWakeUp(std::function<void()> wake) override;
    bool copy(unsigned char *buffer) override;
    void end() override;

private:
    // On PipeWire's thread, with each picture of the stream started by run number `run`; one
    // without data when the stream has ended.
    void keep(std::uint64_t run, const PictureView &picture);

    std::function<void()> wake;
    std::unique_ptr<PortalThread> thread;
    // Converted outside the lock, then swapped in; touched only on PipeWire's thread.
    std::vector<unsigned char> spare;

    std::mutex mutex; // guards the members below
    // Counts begin() and end(), so that a picture of an ended run is never kept.
    std::uint64_t runs = 0;
    std::vector<unsigned char> newest; // packed BGRX
    int newestWidth = 0;
    int newestHeight = 0;
    bool hasPicture = false;
    // The size frameReady() last gave: what copy() must fill.
    int frameWidth = 0;
    int frameHeight = 0;
};
