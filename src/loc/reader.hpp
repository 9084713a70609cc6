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
#include <string>
#include <string_view>
#include <vector>

// The language names of the directory, in file order, duplicates included.
using LanguageList = std::vector<std::string>;

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
  int file = -1;                        // -1 when the bytes are held in memory
  std::vector<unsigned char> buffer;    // the bytes at hand, and kReadSlack more
  const unsigned char* next = nullptr;  // first byte not yet consumed
  const unsigned char* end = nullptr;   // one past the last byte at hand
  std::uint64_t endOffset = 0;          // file offset of `end`

  bool failed = false;
  std::uint64_t failOffset = 0;  // where the data ended, or where reading broke
  std::string failReason;        // empty when the data simply ended; else why reading broke
};

struct LocHeader {
  std::int32_t version = 0;
  std::int32_t languageCount = 0;
  std::int32_t stringCount = 0;
};

// Key-table lengths the format allows; anything else is a damaged header.
inline constexpr std::int32_t kMaxStringCount = 1'073'741'823;

void OpenInput(LocInput& input, const char* path);
void OpenInputFromMemory(LocInput& input, const void* data, std::size_t size);
bool IsInputOpen(const LocInput& input);
void CloseInput(LocInput& input);

// File offset of the next byte to be read.
std::uint64_t Offset(const LocInput& input);

// Brings `count` bytes to hand, or marks the input failed; the slow half of Need.
bool Refill(LocInput& input, std::size_t count);

// The one bounds check behind every read.
inline bool Need(LocInput& input, std::size_t count) {
  if (static_cast<std::size_t>(input.end - input.next) >= count) return true;
  return Refill(input, count);
}

std::int32_t ReadInt32(LocInput& input);
void ReadByte(LocInput& input);
void SkipBytes(LocInput& input, std::uint64_t count);

// Read once per string of the file, so it is kept where every caller can inline it.
// The view stays valid until the next read from `input`; kReadSlack bytes follow it.
inline std::string_view ReadCountedString(LocInput& input) {
  std::size_t size = 0;
  if (Need(input, 2)) {
    // A length of 0x8000 or more is negative and, like zero, means an empty string.
    auto length = static_cast<std::int16_t>(input.next[0] << 8 | input.next[1]);
    input.next += 2;
    if (length > 0 && Need(input, static_cast<std::size_t>(length))) {
      size = static_cast<std::size_t>(length);
    }
  }
  // Even an empty or failed string points into the buffer, with the slack behind it.
  std::string_view text(reinterpret_cast<const char*>(input.next), size);
  input.next += size;
  return text;
}

LocHeader ReadHeader(LocInput& input);
void SkipKeyTable(LocInput& input, std::int32_t stringCount);
// Names are added only as they arrive, never reserved from the count.
void ReadLanguageDirectory(LocInput& input, std::int32_t languageCount, LanguageList& languages);
// Reads a language block up to its string count and returns that count.
std::int32_t ReadBlockHead(LocInput& input);
