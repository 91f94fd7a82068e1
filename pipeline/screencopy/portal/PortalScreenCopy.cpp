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
        newestWidth = newestHeight = 0;
        runFailure = CopyFailure::None;
    }
    // The engine always ends a run before it begins the next, so no thread is left here; end()
    // joins this one, and with it every callback, before this object can go.
    PortalSession::Sinks sinks;
    sinks.picture = [this, run](const PictureView &picture) { receivePicture(run, picture); };
    sinks.failed = [this, run](CopyFailure why) { receiveFailure(run, why); };
    thread = std::make_unique<PortalThread>(std::move(sinks));
    thread->start();
    return true;
}

void PortalScreenCopy::receivePicture(std::uint64_t run, const PictureView &picture)
{
    conversion.resize(static_cast<std::size_t>(picture.width) * picture.height * 4);
    copyToBgrx(picture, conversion.data(), picture.width, picture.height);
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (run != runs ||
            (runFailure != CopyFailure::None && runFailure != CopyFailure::NoPicture))
            return;
        // A late first picture: the stream works after all.
        runFailure = CopyFailure::None;
        newest.swap(conversion);
        newestWidth = picture.width;
        newestHeight = picture.height;
        hasPicture = true;
    }
    // Outside the lock: the engine's wake-up takes the engine's mutex, under which the engine
    // calls frameReady() and copy().
    if (wake)
        wake();
}

void PortalScreenCopy::receiveFailure(std::uint64_t run, CopyFailure why)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (run != runs ||
            (runFailure != CopyFailure::None && runFailure != CopyFailure::NoPicture))
            return;
        runFailure = why;
        // The last picture is no longer the screen: it must never be handed out again. (A run
        // waiting for its first picture has none.)
        hasPicture = false;
        std::vector<unsigned char>().swap(newest);
    }
    if (wake)
        wake();
}

bool PortalScreenCopy::frameReady(int &width, int &height)
{
    std::lock_guard<std::mutex> lock(mutex);
    // Before the first picture there is no size to send; after a failure, black frames keep
    // the size receivers were shown.
    if (!hasPicture && (runFailure == CopyFailure::None || newestWidth == 0))
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

CopyFailure PortalScreenCopy::failure() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return runFailure;
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
