#include "NdiRuntime.h"

// CPUID leaf 1, ECX bit 20. The compilers name the instruction differently.
#if defined(_MSC_VER)
#include <intrin.h>

bool NdiRuntime::processorHasSse42()
{
    int registers[4] = {0, 0, 0, 0};
    __cpuid(registers, 1);
    return (registers[2] & (1 << 20)) != 0;
}
#else
#include <cpuid.h>

bool NdiRuntime::processorHasSse42()
{
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) && (ecx & bit_SSE4_2) != 0;
}
#endif
