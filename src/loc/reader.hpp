// Reading a LOC file: big-endian 32-bit integers, single bytes and counted strings
// (a signed 16-bit big-endian length, then that many bytes), walked once from
// front to back.
//
// Every read goes through one bounds check, and the reader owns every rule of
// the format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "loc/string_run.hpp"
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

// Why reading stopped, and where. The first failure stays: from then on every
// read returns 0 or an empty string and consumes nothing, so a caller runs a
// whole step and looks once afterwards.
enum class FailureKind {
  None,
  Ended,        // the data ended inside a field
  Unreadable,   // the system could not read it, or open it: `reason` says why
  Damaged,      // a field breaks a rule of the format: `reason` says which
  OutOfMemory,  // what had to be held did not fit
};
struct ReadFailure {
  FailureKind kind = FailureKind::None;
  std::uint64_t offset = 0;  // where the data ended, or where reading broke
  std::string reason;
};

struct LocInput {
  LocInput() = default;
  LocInput(const LocInput&) = delete;
  LocInput& operator=(const LocInput&) = delete;
  ~LocInput();

  InputState state = InputState::NotOpen;
  ReadFailure failure;
  // The reader's own: the bytes at hand, in one buffer allocated when the
  // input opens and never grown, followed by kRunSlack more.
  int file = -1;  // -1 when the bytes are held in memory
  platform::Memory<unsigned char> buffer;
  unsigned char* next = nullptr;  // first byte not yet consumed
  unsigned char* end = nullptr;   // one past the last byte at hand
  std::uint64_t endOffset = 0;    // file offset of `end`
};

inline bool Failed(const LocInput& input) {
  return input.failure.kind != FailureKind::None;
}

struct LocHeader {
  std::int32_t version = 0;
  std::int32_t languageCount = 0;
  std::int32_t keyCount = 0;  // entries of the key table, 4 bytes each
};

// Opens the file and allocates the buffer. The input is not open when the
// file cannot be opened (`failure` says why), or there is no memory to try;
// it is open but failed when there is no memory for the buffer.
void OpenInput(LocInput& input, const char* path);
void OpenInputFromMemory(LocInput& input, const void* data, std::size_t size);
bool IsInputOpen(const LocInput& input);
void CloseInput(LocInput& input);

// File offset of the next byte to be read.
std::uint64_t Offset(const LocInput& input);

std::int32_t ReadInt32(LocInput& input);
void ReadByte(LocInput& input);

// A signed 16-bit big-endian length, then that many bytes; a length of zero
// or less means an empty string. The view stays valid until the next read.
std::string_view ReadCountedString(LocInput& input);

LocHeader ReadHeader(LocInput& input);
// The key table's size in bytes, 4 a key, stays below 4 GiB: a count outside
// 0 to 1,073,741,823 is a damaged header, found here.
void SkipKeyTable(LocInput& input, std::int32_t keyCount);
// Names are added only as they arrive, never reserved from the count. When
// they do not fit in memory, the list is emptied and the input failed at the
// start of the entry that did not fit.
void ReadLanguageDirectory(LocInput& input, std::int32_t languageCount, LanguageList& languages);
// Reads a language block up to its string count and returns that count.
std::int32_t ReadBlockHead(LocInput& input);
// Reads at least one and at most `maxCount` strings (maxCount > 0): as many as
// are at hand and take no more than kMaxRunBytes with their prefixes, or one
// string whatever its size. Fails the input when the first string is cut.
void ReadStringRun(LocInput& input, std::int32_t maxCount, StringRun& run);
