#pragma once

// Every frame is a fresh block of megabytes, freed once it is sent. The process's heap is set
// up for that first thing in main(), before anything else allocates; once a run has ended,
// returnFreedFrames() hands what the allocator kept of its frames back to the system, so that
// memory between runs stays that of a program at rest.
void prepareHeapForFrames();
void returnFreedFrames();
