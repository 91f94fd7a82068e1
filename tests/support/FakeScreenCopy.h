#pragma once

#include "ScreenCopy.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

// A screen copy without a screen: every copy stamps each pixel of the buffer with a number
// that names the run (how many begin() calls came before, from 1) and the copy within that
// run (from 1), so tests can tell frames apart, order them and tell old runs from new ones.
// Records what it was asked to do; safe to inspect from a test while the engine runs.
class FakeScreenCopy : public ScreenCopy
{
public:
    struct Rect
    {
        int width, height, left, top;
        bool operator==(const Rect &o) const
        {
            return width == o.width && height == o.height && left == o.left && top == o.top;
        }
    };

    bool begin(int width, int height, int left, int top) override;
    bool copy(unsigned char *buffer) override;
    CopyFailure failure() const override;
    void setWakeUp(std::function<void()> wake) override;
    void end() override;

    // From now on runs report this failure, as a platform that failed would; the engine hears
    // of it through its wake-up, called here on the caller's thread.
    void fail(CopyFailure failure);

    // Makes every copy take this long (a slow screen).
    void setCopyDelayMs(int ms) { copyDelayMs = ms; }

    std::vector<Rect> begins() const;
    int copyCount() const { return copies; }
    int endCount() const { return ends; }
    // Copies made while no run was prepared (after end(), before begin()): always a fault.
    int copiesOutsideRun() const { return strayCopies; }

    static std::uint32_t stamp(int run, int seq) { return std::uint32_t(run) << 24 | seq; }
    // The stamp in a buffer's first pixel, or 0 for an empty buffer.
    static std::uint32_t stampOf(const unsigned char *buffer, int byteCount);
    static int runOf(std::uint32_t stamp) { return int(stamp >> 24); }
    static int seqOf(std::uint32_t stamp) { return int(stamp & 0xffffff); }
    // True when every pixel of the buffer carries the same stamp (no torn or partial copy).
    static bool isUniform(const unsigned char *buffer, int byteCount);

private:
    mutable std::mutex mutex;
    std::vector<Rect> beginRects;
    Rect current{0, 0, 0, 0};
    bool inRun = false;
    int seq = 0;
    std::atomic<int> copies{0};
    std::atomic<int> ends{0};
    std::atomic<int> strayCopies{0};
    std::atomic<int> copyDelayMs{0};
    CopyFailure failing = CopyFailure::None;
    std::function<void()> wake;
};
