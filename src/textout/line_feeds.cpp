#include "textout/line_feeds.hpp"

#include <bit>
#include <cstring>

#include "platform/compiler.hpp"

namespace {

constexpr std::size_t kChunkSize = 64;

// Copies the 64 bytes at `in` to `out` and returns a mask in which bit i is
// set when in[i] is an LF.
std::uint64_t CopyChunk(char* out, const char* in) {
#if defined(VORNHOLD_SSE2)
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

}  // namespace

// Each chunk is stored whole; an LF in it puts a CR in its place and the rest
// of the chunk one byte later.
std::size_t StoreWithCrLf(char* out, const char* in, std::size_t size,
                          const std::uint64_t* lineBreaks) {
  char* const start = out;
  for (;; ++lineBreaks) {
    std::uint64_t lineFeeds = CopyChunk(out, in) & ~*lineBreaks;
    if (size < kChunkSize) lineFeeds &= (std::uint64_t{1} << size) - 1;
    while (lineFeeds != 0) {
      auto at = static_cast<std::size_t>(std::countr_zero(lineFeeds));
      lineFeeds &= lineFeeds - 1;
      out[at] = '\r';
      CopyChunk(out + at + 1, in + at);
      ++out;
    }
    if (size <= kChunkSize) return static_cast<std::size_t>(out - start) + size;
    in += kChunkSize;
    out += kChunkSize;
    size -= kChunkSize;
  }
}
