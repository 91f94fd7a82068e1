#include "FrameHeap.h"

#include <malloc.h>

void prepareHeapForFrames()
{
    // glibc adjusts its thresholds as blocks are freed: frames then come from heaps of the
    // capturing threads that it never shrinks, and memory grows with every run. Fixed, frames
    // up to 32 MiB (1080p, 1440p) come from the heap, reused from frame to frame without
    // fresh pages (an mmap per frame would cost the kernel's zeroed pages for each), and a
    // heap's free top is given back once it exceeds 1 MiB.
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
}

void returnFreedFrames()
{
    // What lies free inside the heaps (frames freed below others still in use) is returned
    // only on request.
    malloc_trim(0);
}
