#include <cstddef>

// The program as it was before it tuned glibc's heap for its frames: preloaded into the
// start-up benchmark's peers, these do nothing, so glibc adjusts its thresholds itself and
// keeps what it freed.
extern "C" int mallopt(int, int)
{
    return 1;
}

extern "C" int malloc_trim(std::size_t)
{
    return 0;
}
