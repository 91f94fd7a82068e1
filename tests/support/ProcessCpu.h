#pragma once

#include <sys/resource.h>

// CPU time (user + system) this process has used so far, in milliseconds. Tests compare two
// readings to show that a waiting thread sleeps instead of spinning.
inline double processCpuMs()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1e3 +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e3;
}
