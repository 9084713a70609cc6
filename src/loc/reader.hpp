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

struct LocInput {
  LocInput() = default;
  LocInput(const LocInput&) = delete;
  LocInput& operator=(const LocInput&) = delete;
  ~LocInput();

  InputState state = InputState::NotOpen;
  int file = -1;  // -1 when the bytes are held in memory
  std::vector<unsigned char> buffer;
  const unsigned char* next = nullptr;  // first byte not yet consumed
  const unsigned char* end = nullptr;   // one past the last byte at hand
  std::uint64_t endOffset = 0;          // file offset of `end`

  bool failed = false;
  std::uint64_t failOffset = 0;  // where the data ended, or where reading broke
  std::string failReason;        // empty when the data simply ended; else why reading broke
  std::string openError;         // why the file could not be opened
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

std::int32_t ReadInt32(LocInput& input);
void ReadByte(LocInput& input);
void SkipBytes(LocInput& input, std::uint64_t count);
// The view stays valid until the next read from `input`.
std::string_view ReadCountedString(LocInput& input);

LocHeader ReadHeader(LocInput& input);
void SkipKeyTable(LocInput& input, std::int32_t stringCount);
// Names are added only as they arrive, never reserved from the count.
void ReadLanguageDirectory(LocInput& input, std::int32_t languageCount, LanguageList& languages);
// Reads a language block up to its string count and returns that count.
std::int32_t ReadBlockHead(LocInput& input);
