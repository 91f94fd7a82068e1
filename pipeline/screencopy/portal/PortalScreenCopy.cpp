#include "PortalScreenCopy.h"

#include "PortalSession.h"

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
    sinks.picture.show = [this, run](const PictureView &picture) {
        return showPicture(run, picture);
    };
    sinks.picture.withdraw = [this, run] { withdrawPicture(run); };
    sinks.failed = [this, run](CopyFailure why) { receiveFailure(run, why); };
    thread = std::make_unique<PortalThread>(std::move(sinks));
    thread->start();
    return true;
}

bool PortalScreenCopy::showPicture(std::uint64_t run, const PictureView &picture)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (run != runs ||
            (runFailure != CopyFailure::None && runFailure != CopyFailure::NoPicture))
            return false;
        // A late first picture: the stream works after all.
        runFailure = CopyFailure::None;
        held = picture;
        newestWidth = picture.width;
        newestHeight = picture.height;
        hasPicture = true;
    }
    // Outside the lock: the engine's wake-up takes the engine's mutex, under which the engine
    // calls frameReady() and copy().
    if (wake)
        wake();
    return true;
}

void PortalScreenCopy::withdrawPicture(std::uint64_t run)
{
    std::lock_guard<std::mutex> lock(mutex);
    // Until the stream shows another, the capture waits (or sends black after a failure).
    if (run == runs)
        hasPicture = false;
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
    copyToBgrx(held, buffer, frameWidth, frameHeight);
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
