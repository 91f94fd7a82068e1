#pragma once

// Sets the process's heap up for what it allocates most: screen-sized frames of megabytes, a
// fresh one for every frame. Called first thing in main(), before anything else allocates.
void prepareHeapForFrames();
