#include "textout/line_feeds.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define VORNHOLD_WIDE_LINES 1
#endif

namespace {

constexpr std::size_t kChunkSize = 64;

// Copies the 64 bytes at `in` to `out` and returns a mask in which bit i is
// set when in[i] is an LF.
std::uint64_t CopyChunk(char* out, const char* in) {
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

#if defined(VORNHOLD_WIDE_LINES)
#define VORNHOLD_WIDE __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi2,popcnt")))

constexpr std::uint64_t kEvenBits = 0x5555555555555555;

// Indexes that spread 32 bytes over 64 as pairs (CR, byte): index 64 picks the
// CR, 0 to 63 a byte of the chunk. One table for each half of the chunk.
struct PairIndexes {
  alignas(64) unsigned char half[2][64];
};
constexpr PairIndexes MakePairIndexes() {
  PairIndexes table{};
  for (int h = 0; h < 2; ++h) {
    for (int i = 0; i < 32; ++i) {
      table.half[h][2 * i] = 64;
      table.half[h][2 * i + 1] = static_cast<unsigned char>(32 * h + i);
    }
  }
  return table;
}
constexpr PairIndexes kPairIndexes = MakePairIndexes();

// Stores the pairs, keeping a pair's CR only where its byte is an LF to be
// converted; returns the end of what it stored.
VORNHOLD_WIDE char* StorePairs(char* out, __m512i pairs, std::uint32_t lineFeeds) {
  std::uint64_t keep = _pdep_u64(lineFeeds, kEvenBits) | ~kEvenBits;
  _mm512_storeu_si512(out, _mm512_maskz_compress_epi8(keep, pairs));
  return out + 32 + std::popcount(lineFeeds);
}

// Built once for each case, so that `fewLineFeeds` is tested once a call: the
// compiler would otherwise merge it into the test of each chunk, and that
// test is guessed wrong often where LFs are many.
template <bool kFewLineFeeds>
VORNHOLD_WIDE std::size_t StoreWide(char* out, const char* in, std::size_t size,
                                    const std::uint64_t* lineBreaks) {
  const __m512i lineFeed = _mm512_set1_epi8('\n');
  const __m512i carriageReturn = _mm512_set1_epi8('\r');
  const __m512i lowHalf = _mm512_load_si512(kPairIndexes.half[0]);
  const __m512i highHalf = _mm512_load_si512(kPairIndexes.half[1]);
  char* end = out;
  for (std::size_t at = 0; at < size; at += kChunkSize) {
    __m512i chunk = _mm512_loadu_si512(in + at);
    std::uint64_t lineFeeds = _mm512_cmpeq_epi8_mask(chunk, lineFeed) & ~lineBreaks[at / 64];
    if (size - at < kChunkSize) lineFeeds &= (std::uint64_t{1} << (size - at)) - 1;
    if (kFewLineFeeds && lineFeeds == 0) {
      _mm512_storeu_si512(end, chunk);
      end += kChunkSize;
      continue;
    }
    __m512i low = _mm512_permutex2var_epi8(chunk, lowHalf, carriageReturn);
    __m512i high = _mm512_permutex2var_epi8(chunk, highHalf, carriageReturn);
    end = StorePairs(end, low, static_cast<std::uint32_t>(lineFeeds));
    end = StorePairs(end, high, static_cast<std::uint32_t>(lineFeeds >> 32));
  }
  // The last chunk stored its bytes past `size` too, one byte each.
  if (size % kChunkSize != 0) end -= kChunkSize - size % kChunkSize;
  return static_cast<std::size_t>(end - out);
}

}  // namespace

StoreWithCrLfFunction WideStoreWithCrLf() {
  __builtin_cpu_init();
  bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
                   __builtin_cpu_supports("bmi2");
  if (!supported) return nullptr;
  return [](char* out, const char* in, std::size_t size, const std::uint64_t* lineBreaks,
            bool fewLineFeeds) {
    return fewLineFeeds ? StoreWide<true>(out, in, size, lineBreaks)
                        : StoreWide<false>(out, in, size, lineBreaks);
  };
}
#else
}  // namespace

StoreWithCrLfFunction WideStoreWithCrLf() {
  return nullptr;
}
#endif

// Each chunk is stored whole; an LF in it puts a CR in its place and the rest
// of the chunk one byte later.
std::size_t StoreWithCrLfNarrow(char* out, const char* in, std::size_t size,
                                const std::uint64_t* lineBreaks, bool) {
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

std::size_t StoreWithCrLf(char* out, const char* in, std::size_t size,
                          const std::uint64_t* lineBreaks, bool fewLineFeeds) {
  static const StoreWithCrLfFunction wide = WideStoreWithCrLf();
  return (wide != nullptr ? wide : StoreWithCrLfNarrow)(out, in, size, lineBreaks, fewLineFeeds);
}
