#include "FrameHeap.h"

#include <malloc.h>

void prepareHeapForFrames()
{
    // Each frame is a fresh block that its consumer frees once it is sent, so no pool outlives
    // a run and no buffer is ever shared between the thread writing a picture and the one
    // sending it. glibc serves blocks that large with mmap, but raises its mmap threshold
    // whenever one is freed; later frames then come from the heaps of the threads that capture,
    // which glibc keeps, and resident memory grows with every run. A fixed threshold (which
    // also stops the adjustment) keeps every frame in its own mapping, returned when freed.
    mallopt(M_MMAP_THRESHOLD, 1024 * 1024);
}
