// Processor check. Compiled without -mavx: it must run on any x86-64 processor.
#include "app/cpu_check.h"

#include <cpuid.h>
#include <xmmintrin.h>

#include <cstdio>
#include <cstdlib>

int ProcessorLevel(uint32_t ecx, uint32_t edx, uint64_t xcr0) {
    auto has = [](uint32_t reg, int bit) { return ((reg >> bit) & 1u) != 0; };
    int level = 1;
    if (!has(edx, 15)) return level;  // CMOV
    level = 2;
    if (!(has(edx, 24) && has(edx, 25))) return level;  // FXSR, SSE
    level = 3;
    if (!has(edx, 26)) return level;  // SSE2
    level = 4;
    if (!has(ecx, 0)) return level;  // SSE3
    level = 5;
    if (!has(ecx, 9)) return level;  // SSSE3
    level = 6;
    if (!has(ecx, 19)) return level;  // SSE4.1 (level 7 is skipped)
    level = 8;
    if (!has(ecx, 23)) return level;  // POPCNT
    level = 9;
    if (!has(ecx, 20)) return level;  // SSE4.2
    level = 10;
    const bool osAvxState = has(ecx, 27) && (xcr0 & 6u) == 6u;  // OSXSAVE, XMM and YMM state
    if (!(osAvxState && has(ecx, 28))) return level;           // AVX
    level = 11;
    if (!(has(ecx, 1) && has(ecx, 25))) return level;  // PCLMULQDQ, AES
    return 12;
}

int RequireAvx() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) ecx = edx = 0;
    uint64_t xcr0 = 0;
    if ((ecx >> 27) & 1u) {  // xgetbv is only valid when OSXSAVE is set
        uint32_t lo = 0, hi = 0;
        __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
        xcr0 = (static_cast<uint64_t>(hi) << 32) | lo;
    }
    const int level = ProcessorLevel(ecx, edx, xcr0);
    if (level < 12) {
        std::fputs("This version of Vellicor requires CPU with AVX instruction set (e.g. Intel(R) 'Sandy Bridge')!",
                   stderr);
        std::fflush(stderr);
        std::exit(-1);
    }
    return level;
}

void EnableFlushToZero() {
    _mm_setcsr(_mm_getcsr() | 0x8040u);  // FTZ (bit 15) and DAZ (bit 6)
}
