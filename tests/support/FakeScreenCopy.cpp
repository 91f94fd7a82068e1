#include "FakeScreenCopy.h"

#include <chrono>
#include <cstring>
#include <thread>

bool FakeScreenCopy::begin(int width, int height, int left, int top)
{
    std::lock_guard<std::mutex> lock(mutex);
    current = Rect{width, height, left, top};
    beginRects.push_back(current);
    inRun = true;
    seq = 0;
    return true;
}

bool FakeScreenCopy::copy(unsigned char *buffer)
{
    if (const int delay = copyDelayMs)
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    std::lock_guard<std::mutex> lock(mutex);
    if (!inRun) {
        ++strayCopies;
        return false;
    }
    const std::uint32_t value = stamp(int(beginRects.size()), ++seq);
    const long pixels = long(current.width) * current.height;
    for (long i = 0; i < pixels; ++i)
        std::memcpy(buffer + i * 4, &value, 4);
    ++copies;
    return true;
}

CopyFailure FakeScreenCopy::failure() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return inRun ? failing : CopyFailure::None;
}

void FakeScreenCopy::setWakeUp(std::function<void()> wakeUp)
{
    wake = std::move(wakeUp);
}

void FakeScreenCopy::fail(CopyFailure failure)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        failing = failure;
    }
    if (wake)
        wake();
}

void FakeScreenCopy::end()
{
    std::lock_guard<std::mutex> lock(mutex);
    inRun = false;
    ++ends;
}

std::vector<FakeScreenCopy::Rect> FakeScreenCopy::begins() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return beginRects;
}

std::uint32_t FakeScreenCopy::stampOf(const unsigned char *buffer, int byteCount)
{
    if (byteCount < 4)
        return 0;
    std::uint32_t value;
    std::memcpy(&value, buffer, 4);
    return value;
}

bool FakeScreenCopy::isUniform(const unsigned char *buffer, int byteCount)
{
    for (int i = 4; i + 4 <= byteCount; i += 4) {
        if (std::memcmp(buffer, buffer + i, 4) != 0)
            return false;
    }
    return true;
}
