// Reading a LOC file: big-endian 32-bit integers, single bytes and counted strings
// (a signed 16-bit big-endian length, then that many bytes), walked once from
// front to back.
//
// Every read goes through one bounds check. The first read that finds too few
// bytes marks the input failed and records where the data ended; from then on
// every read returns 0 or an empty string and consumes nothing, so a caller can
// run a whole step and check `failed` once afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.hpp"

// The language names of the directory, in file order, duplicates included.
// A directory may hold tens of millions of names, so they are packed as they
// are in the file (a 2-byte length, then the bytes) into blocks of fixed size:
// memory grows only as names arrive, by one block at a time, with no copy of
// what is already held, and an allocation that fails is a state, not an abort.
struct LanguageBlock {
  platform::Memory<char> bytes;
  std::size_t used = 0;
};
struct LanguageList {
  std::vector<LanguageBlock> blocks;
  std::size_t count = 0;
};
// Where a walk over a LanguageList has got to.
struct LanguageCursor {
  std::size_t block = 0;
  std::size_t at = 0;
};

// Adds a name at the end; false, with the list unchanged, when memory runs out.
bool AppendLanguage(LanguageList& languages, std::string_view name);
// Gives the name at the cursor and moves past it; false after the last one.
bool NextLanguage(const LanguageList& languages, LanguageCursor& cursor, std::string_view& name);
void ClearLanguages(LanguageList& languages);

enum class InputState { NotOpen, Open, Closed };

// Every string that ReadCountedString returns is followed by at least this
// many readable bytes, so that it can be copied in wide chunks that reach past
// its end (the bytes beyond it are whatever follows it, never outside memory).
inline constexpr std::size_t kReadSlack = 64;

struct LocInput {
  LocInput() = default;
  LocInput(const LocInput&) = delete;
  LocInput& operator=(const LocInput&) = delete;
  ~LocInput();

  InputState state = InputState::NotOpen;
  int file = -1;  // -1 when the bytes are held in memory
  // Allocated once, when the input opens, and never grown.
  platform::Memory<unsigned char> buffer;  // the bytes at hand, and kReadSlack more
  unsigned char* next = nullptr;           // first byte not yet consumed
  unsigned char* end = nullptr;            // one past the last byte at hand
  std::uint64_t endOffset = 0;             // file offset of `end`

  bool failed = false;
  bool outOfMemory = false;      // the failure is memory that could not be had
  std::uint64_t failOffset = 0;  // where the data ended, or where reading broke
  std::string failReason;        // empty when the data simply ended; else why reading broke
};

struct LocHeader {
  std::int32_t version = 0;
  std::int32_t languageCount = 0;
  std::int32_t keyCount = 0;  // entries of the key table, 4 bytes each
};

// The key table's size in bytes, 4 a key, stays below 4 GiB: a larger count is
// a damaged header.
inline constexpr std::int32_t kMaxKeyCount = 1'073'741'823;

// Opens the file and allocates the buffers; when there is no memory for them,
// the input is open but failed and out of memory, so the run can say so. When
// the file cannot be opened, `failReason` says why.
void OpenInput(LocInput& input, const char* path);
void OpenInputFromMemory(LocInput& input, const void* data, std::size_t size);
bool IsInputOpen(const LocInput& input);
void CloseInput(LocInput& input);

// File offset of the next byte to be read.
std::uint64_t Offset(const LocInput& input);

// Brings `count` bytes to hand, or marks the input failed; the slow half of Need.
bool Refill(LocInput& input, std::size_t count);

inline std::size_t AtHand(const LocInput& input) {
  return static_cast<std::size_t>(input.end - input.next);
}

// The one bounds check behind every read.
inline bool Need(LocInput& input, std::size_t count) {
  if (AtHand(input) >= count) return true;
  return Refill(input, count);
}

std::int32_t ReadInt32(LocInput& input);
void ReadByte(LocInput& input);
void SkipBytes(LocInput& input, std::uint64_t count);

// A signed 16-bit big-endian length, then that many bytes; a length of zero
// or less means an empty string. The view stays valid until the next read.
std::string_view ReadCountedString(LocInput& input);

// Strings that follow one another in a language block, joined into lines for
// the writer. This is the one place where reading knows of the text files, on
// purpose: each length prefix between two strings is overwritten, in the read
// buffer, with the CR LF that ends the line before it, and that LF is marked,
// so that a run of short strings is copied out in one pass rather than one
// call a string. The run (its text and marks) is valid until the next read.
struct StringRun {
  std::string_view text;  // from the first string's first byte to the last one's last
  std::int32_t count = 0;
  // Bit i of word i / 64 is set when text[i] is the LF of such a line end.
  platform::Memory<std::uint64_t> lineBreaks;
  std::size_t markedWords = 0;  // the words that may hold a set bit
};

// The most bytes a run of more than one string takes: small enough that its
// bytes and marks stay in the processor's nearest cache between the walk and
// the conversion.
inline constexpr std::size_t kMaxRunBytes = 16 * 1024;

// Gives the run its marks, once; false when there is no memory for them.
bool AllocateStringRun(StringRun& run);

// Reads at least one and at most `maxCount` strings (maxCount > 0): as many as
// are at hand and take no more than kMaxRunBytes with their prefixes, or one
// string whatever its size. Marks the input failed when the first string is cut.
void ReadStringRun(LocInput& input, std::int32_t maxCount, StringRun& run);

LocHeader ReadHeader(LocInput& input);
void SkipKeyTable(LocInput& input, std::int32_t keyCount);
// Names are added only as they arrive, never reserved from the count. Returns
// false when they do not fit in memory: the list is then emptied and the input
// failed, out of memory, at the start of the entry that did not fit.
bool ReadLanguageDirectory(LocInput& input, std::int32_t languageCount, LanguageList& languages);
// Reads a language block up to its string count and returns that count.
std::int32_t ReadBlockHead(LocInput& input);
