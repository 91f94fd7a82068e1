#include "PortalScreenCopy.h"

#include "PortalSession.h"

#include <cstring>

PortalScreenCopy::PortalScreenCopy() = default;

PortalScreenCopy::~PortalScreenCopy()
{
    end();
}

bool PortalScreenCopy::begin(int, int, int, int)
{
    std::uint64_t run = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        run = ++runs;
        hasPicture = false;
    }
    // The engine always ends a run before it begins the next, so no thread is left here.
    thread = std::make_unique<PortalThread>(
        [this, run](const PictureView &picture) { keep(run, picture); });
    thread->start();
    return true;
}

void PortalScreenCopy::keep(std::uint64_t run, const PictureView &picture)
{
    if (!picture.data) {
        std::lock_guard<std::mutex> lock(mutex);
        if (run == runs)
            hasPicture = false;
        return;
    }
    spare.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
    copyToBgrx(picture, spare.data(), picture.width, picture.height);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (run != runs)
            return;
        newest.swap(spare);
        newestWidth = picture.width;
        newestHeight = picture.height;
        hasPicture = true;
    }
    // Outside the lock: the engine's wake-up takes the engine's mutex, under which the engine
    // calls frameReady() and copy().
    if (wake)
        wake();
}

bool PortalScreenCopy::frameReady(int &width, int &height)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!hasPicture)
        return false;
    width = frameWidth = newestWidth;
    height = frameHeight = newestHeight;
    return true;
}

void PortalScreenCopy::setWakeUp(std::function<void()> wakeUp)
{
    wake = std::move(wakeUp);
}

bool PortalScreenCopy::copy(unsigned char *buffer)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (!hasPicture)
        return false;
    // A picture of another size may have come since frameReady(): the buffer keeps the size
    // it was made for, and what the picture does not cover is black.
    PictureView picture;
    picture.data = newest.data();
    picture.stride = newestWidth * 4;
    picture.width = newestWidth;
    picture.height = newestHeight;
    copyToBgrx(picture, buffer, frameWidth, frameHeight);
    return true;
}

void PortalScreenCopy::end()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++runs;
        hasPicture = false;
    }
    if (thread) {
        thread->quit();
        thread->wait();
        thread.reset();
    }
}
