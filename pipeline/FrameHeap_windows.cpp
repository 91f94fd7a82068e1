#include "FrameHeap.h"

// The Windows heap gives blocks this large their own virtual allocation and releases it when
// they are freed.
void prepareHeapForFrames() {}
void keepFreedFrames(bool) {}
void returnFreedFrames() {}
