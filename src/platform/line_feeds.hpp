// Finding LF bytes sixteen at a time: with SSE2 on x86 (every x86 processor
// that runs a current Windows or Linux has it), byte by byte elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr std::size_t kChunkSize = 16;

// Bit i is set when in[i] is an LF, for the sixteen bytes at `in`.
inline std::uint32_t LineFeedMaskPortable(const char* in) {
  std::uint32_t mask = 0;
  for (std::size_t i = 0; i < kChunkSize; ++i) mask |= std::uint32_t{in[i] == '\n'} << i;
  return mask;
}

#if defined(__SSE2__)
inline std::uint32_t LineFeedMask(const char* in) {
  __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n'))));
}
#else
inline std::uint32_t LineFeedMask(const char* in) {
  return LineFeedMaskPortable(in);
}
#endif

// Bit i is set when in[i] is an LF, for the sixty-four bytes at `in`.
inline std::uint64_t LineFeedMask64(const char* in) {
  return std::uint64_t{LineFeedMask(in)} | std::uint64_t{LineFeedMask(in + 16)} << 16 |
         std::uint64_t{LineFeedMask(in + 32)} << 32 | std::uint64_t{LineFeedMask(in + 48)} << 48;
}
