// What differs between compilers and processors, in one place.
#pragma once

// SSE2: every x86 processor that runs a current Windows or Linux has it.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VORNHOLD_SSE2 1
#include <emmintrin.h>
#endif

namespace platform {

// Asks for the memory at `address` to be brought to the nearest cache ahead
// of its use; a hint, which changes nothing else.
inline void Prefetch(const void* address) {
#if defined(__GNUC__)
  __builtin_prefetch(address);
#elif defined(VORNHOLD_SSE2)
  _mm_prefetch(static_cast<const char*>(address), _MM_HINT_T0);
#else
  (void)address;
#endif
}

}  // namespace platform
