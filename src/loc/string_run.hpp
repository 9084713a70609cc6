// How a language's strings go from the reader to the writer: in runs.
//
// A run is strings that follow one another in a language block, joined into
// lines where they lie in the read buffer: the reader overwrites each length
// prefix between two strings with the CR LF that ends the line before it and
// marks that LF, so that the writer copies a run of short strings in one pass
// rather than with one call a string. The writer stores every other LF as CR
// LF and ends the last line itself. This is the one place where reading knows
// of the text files, on purpose: it saves about 8% of a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/platform.hpp"

struct StringRun {
  std::string_view text;  // from the first string's first byte to the last one's last
  std::int32_t count = 0;
  // Bit i of word i / 64 is set when text[i] is the LF of such a line end.
  platform::Memory<std::uint64_t> lineBreaks;
  std::size_t markedWords = 0;  // the words that may hold a set bit
};

// A run of more than one string takes at most this many bytes, prefixes
// included, so that its bytes and marks stay in the processor's nearest cache
// between the reader's walk and the writer's conversion.
inline constexpr std::size_t kMaxRunBytes = 16 * 1024;
// The most text a run holds: one string of the longest kind, or several
// within kMaxRunBytes.
inline constexpr std::size_t kMaxRunText = 32767;
static_assert(kMaxRunBytes <= kMaxRunText);
// A run's text is followed by at least this many readable bytes (whatever
// they hold), so that the writer copies it in wide chunks that reach past its
// end; the mark words cover the text and one word more.
inline constexpr std::size_t kRunSlack = 64;
inline constexpr std::size_t kRunMarkWords = kMaxRunText / 64 + 2;

// Gives the run its marks, once; false when there is no memory for them.
inline bool AllocateStringRun(StringRun& run) {
  if (!run.lineBreaks) run.lineBreaks = platform::Allocate<std::uint64_t>(kRunMarkWords);
  return run.lineBreaks != nullptr;
}
