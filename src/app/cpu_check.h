// Start-up processor check and floating-point mode.
#pragma once

#include <cstdint>

// Processor feature level from CPUID leaf 1 (ecx, edx) and the OS-enabled
// register state (XCR0): counts up from 1 and stops at the first missing feature.
// 12 means AVX with PCLMULQDQ and AES.
int ProcessorLevel(uint32_t ecx, uint32_t edx, uint64_t xcr0);
// Reads the processor's level; below 12 writes the AVX message to standard error
// and exits with status -1.
int RequireAvx();
// Flush-to-zero and denormals-are-zero for the calling thread.
void EnableFlushToZero();
