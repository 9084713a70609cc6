// Storing a run of text with every LF as CR LF, except the LFs that a caller
// marks as already ending a line (their CR is in place). Bit i of
// `lineBreaks[i / 64]` marks the LF at in[i].
//
// Both ways read up to 64 bytes past `in + size` and store up to 128 bytes past
// the bytes that they return; those bytes must be there (their values do not
// matter). The mark words must cover `size` bytes and one word more.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t kLineReadSlack = 64;
inline constexpr std::size_t kLineStoreSlack = 128;

// `fewLineFeeds` says that LFs to convert are expected in few chunks (as in the
// text before), so that a chunk without one is best stored as it is.
using StoreWithCrLfFunction = std::size_t (*)(char* out, const char* in, std::size_t size,
                                              const std::uint64_t* lineBreaks, bool fewLineFeeds);

// Sixteen bytes a step with SSE2 (every x86 processor that runs a current
// Windows or Linux has it), byte by byte on other processors.
std::size_t StoreWithCrLfNarrow(char* out, const char* in, std::size_t size,
                                const std::uint64_t* lineBreaks, bool fewLineFeeds);

// Sixty-four bytes a step with AVX-512, with no branch on where the LFs are
// unless they are few. Null where the processor lacks AVX-512, and in builds
// other than 64-bit x86.
StoreWithCrLfFunction WideStoreWithCrLf();

// The fastest way this processor has.
std::size_t StoreWithCrLf(char* out, const char* in, std::size_t size,
                          const std::uint64_t* lineBreaks, bool fewLineFeeds);
