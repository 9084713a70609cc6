// Copying bytes sixty-four at a time while finding the LFs among them: with
// SSE2 on x86 (every x86 processor that runs a current Windows or Linux has
// it), byte by byte elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr std::size_t kChunkSize = 64;

// Copies the 64 bytes at `in` to `out` and returns a mask in which bit i is
// set when in[i] is an LF.
inline std::uint64_t CopyChunk(char* out, const char* in) {
#if defined(__SSE2__)
  const __m128i lineFeed = _mm_set1_epi8('\n');
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kChunkSize; i += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
    auto found = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, lineFeed)));
    mask |= std::uint64_t{found} << i;
  }
  return mask;
#else
  std::memcpy(out, in, kChunkSize);
  std::uint64_t mask = 0;
  for (std::size_t i = 0; i < kChunkSize; ++i) mask |= std::uint64_t{in[i] == '\n'} << i;
  return mask;
#endif
}
