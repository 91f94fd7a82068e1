#include "FrameHeap.h"

// The Windows heap returns large blocks to the system when they are freed.
void prepareHeapForFrames() {}
