#pragma once

// Every frame is a fresh block of megabytes, freed once it is sent. The process's heap is set
// up for that first thing in main(), before anything else allocates. While a run's frames flow,
// the heap keeps what they free for the next ones; once the run ends, what they freed goes back
// to the system, so that memory between runs stays that of a program at rest.
void prepareHeapForFrames();
// Called as a run starts (true), and as it ends, before its last frames are freed (false).
void keepFreedFrames(bool keep);
// Called once a run's frames are all freed: hands back what the heaps still keep of them.
void returnFreedFrames();
