#pragma once

// What the processor offers beyond the baseline, each asked once: the vector kernels that need it are
// chosen at run time. x86-64 only.
#if defined(__x86_64__)
#include <cpuid.h>

namespace tonemirror::analysis {

inline bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}

inline bool cpuHasAvx2Fma() {
    static const bool has = cpuHasAvx2() && __builtin_cpu_supports("fma");
    return has;
}

// Not every compiler's __builtin_cpu_supports knows F16C, so that one comes from CPUID itself.
inline bool cpuHasAvx2FmaF16c() {
    static const bool has = [] {
        unsigned eax = 0;
        unsigned ebx = 0;
        unsigned ecx = 0;
        unsigned edx = 0;
        return cpuHasAvx2Fma() && __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
    }();
    return has;
}

} // namespace tonemirror::analysis
#endif
