// Storing a run's text with every LF as CR LF, except the LFs that the run
// marks as already ending a line (their CR is in place).
#pragma once

#include <cstddef>
#include <cstdint>

// Sixteen bytes a step with SSE2, byte by byte on other processors. Reads up
// to kRunSlack bytes past `in + size`, and stores up to this many past the
// bytes that it returns (those bytes must be there; their values do not
// matter). Returns the bytes stored.
inline constexpr std::size_t kStoreSlack = 128;
std::size_t StoreWithCrLf(char* out, const char* in, std::size_t size,
                          const std::uint64_t* lineBreaks);
