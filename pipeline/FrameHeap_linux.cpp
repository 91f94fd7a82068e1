#include "FrameHeap.h"

#include <malloc.h>

namespace {

// Blocks up to this size come from the heap: frames of 1080p and 1440p.
constexpr int heapFrameLimit = 32 * 1024 * 1024;
// At rest a heap's free top is given back once it exceeds this.
constexpr int restingTrimThreshold = 1024 * 1024;
// While frames flow, more than the frames in flight (the queue's three, the one being sent and
// the one being copied) can ever free at the top of a heap. With the resting threshold the top
// frame, whenever it was freed first, went back to the system, and the next frame took fresh
// zeroed pages from the kernel: one frame in four, as the heap happened to lie.
constexpr int flowingTrimThreshold = 8 * heapFrameLimit;

} // namespace

void prepareHeapForFrames()
{
    // glibc adjusts its thresholds as blocks are freed: frames then come from heaps of the
    // capturing threads that it never shrinks, and memory grows with every run. Fixed, frames
    // come from the heap, reused from frame to frame without fresh pages (an mmap per frame
    // would cost the kernel's zeroed pages for each).
    mallopt(M_MMAP_THRESHOLD, heapFrameLimit);
    mallopt(M_TRIM_THRESHOLD, restingTrimThreshold);
}

void keepFreedFrames(bool keep)
{
    // A free on a heap trims its top by the threshold of that moment: the run's last frames,
    // freed after this, take the heaps' tops down with them (malloc_trim() would not: it leaves
    // the tops of the threads' own heaps as they are).
    mallopt(M_TRIM_THRESHOLD, keep ? flowingTrimThreshold : restingTrimThreshold);
}

void returnFreedFrames()
{
    // What lies free inside the heaps (frames freed below others still in use) is returned
    // only on request.
    malloc_trim(0);
}
