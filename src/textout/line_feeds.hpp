// Storing a run of text with every LF as CR LF, except the LFs that a caller
// marks as already ending a line (their CR is in place). Bit i of
// `lineBreaks[i / 64]` marks the LF at in[i].
#pragma once

#include <cstddef>
#include <cstdint>

// StoreWithCrLf reads up to this many bytes past `in + size`, and stores up to
// this many past the bytes that it returns; those bytes must be there (their
// values do not matter).
inline constexpr std::size_t kLineReadSlack = 64;
inline constexpr std::size_t kLineStoreSlack = 128;

// Sixteen bytes a step with SSE2, byte by byte on other processors. The mark
// words must cover `size` bytes and one word more. Returns the bytes stored.
std::size_t StoreWithCrLf(char* out, const char* in, std::size_t size,
                          const std::uint64_t* lineBreaks);
