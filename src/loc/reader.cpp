#include "loc/reader.hpp"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/compiler.hpp"
#include "platform/platform.hpp"

namespace {

// Reads are of one size, so they stay on page boundaries of the file; 256 KiB
// costs the least system time per byte. Before each read, the unread tail of
// the last one (never more than the most asked for at once, a directory entry
// with the longest name, and mostly a part of one string) moves to the front:
// that costs little, and the buffer need not hold two reads.
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kLongestString = 2 + 32767;          // with its prefix
constexpr std::size_t kLongestEntry = kLongestString + 4;  // of the directory
constexpr std::size_t kBufferSize = kReadSize + kLongestEntry;
constexpr std::int32_t kMaxKeyCount = 1'073'741'823;

// Blocks of the language list. Each holds at least one name of the longest
// kind, and at 1 MiB what one cannot use at its end is at most 3% of it.
constexpr std::size_t kLanguageBlockSize = 1024 * 1024;

std::size_t AtHand(const LocInput& input) {
  return static_cast<std::size_t>(input.end - input.next);
}

void Fail(LocInput& input, FailureKind kind, std::uint64_t offset, std::string reason = {}) {
  input.failure = {kind, offset, std::move(reason)};
  // Nothing is left at hand, so every later read goes to Refill, which refuses.
  input.endOffset -= AtHand(input);
  input.end = input.next;
}

void MoveUnreadToFront(LocInput& input) {
  std::size_t kept = AtHand(input);
  std::memmove(input.buffer.get(), input.next, kept);
  input.next = input.buffer.get();
  input.end = input.next + kept;
}

// Reads more behind the unread bytes until `count` bytes are at hand or the
// file ends.
bool Refill(LocInput& input, std::size_t count) {
  if (Failed(input)) return false;
  while (AtHand(input) < count) {
    if (input.file < 0) {
      Fail(input, FailureKind::Ended, input.endOffset);
      return false;
    }
    if (input.buffer.get() + kBufferSize - input.end < static_cast<std::ptrdiff_t>(kReadSize)) {
      MoveUnreadToFront(input);
    }
    std::string error;
    long got = platform::ReadSome(input.file, input.end, kReadSize, error);
    if (got <= 0) {
      Fail(input, got < 0 ? FailureKind::Unreadable : FailureKind::Ended, input.endOffset, error);
      return false;
    }
    input.end += got;
    input.endOffset += static_cast<std::uint64_t>(got);
  }
  return true;
}

// The one bounds check behind every read.
inline bool Need(LocInput& input, std::size_t count) {
  return AtHand(input) >= count || Refill(input, count);
}

// A negative length (an empty string) is rare: a branch on it keeps the sign
// test out of the walk's chain from one prefix to the next.
std::size_t LengthAt(const unsigned char* prefix) {
  std::size_t length = std::size_t{prefix[0]} << 8 | prefix[1];
  if (length >= 0x8000) [[unlikely]]
    return 0;
  return length;
}

void StartBuffer(LocInput& input, std::size_t size) {
  input.state = InputState::Open;
  input.buffer = platform::Allocate<unsigned char>(size + kRunSlack);
  if (!input.buffer) {
    Fail(input, FailureKind::OutOfMemory, 0);
    return;
  }
  input.next = input.end = input.buffer.get();
}

void SkipBytes(LocInput& input, std::uint64_t count) {
  while (count > 0) {
    if (!Need(input, 1)) return;
    std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(AtHand(input), count));
    input.next += step;
    count -= step;
  }
}

}  // namespace

LocInput::~LocInput() {
  CloseInput(*this);
}

// Process start-up has no one to catch a failed allocation, so here it is a
// state: the input not open, out of memory.
void OpenInput(LocInput& input, const char* path) {
  try {
    std::string error;
    input.file = platform::OpenForReading(path, error);
    if (input.file < 0) {
      input.failure = {FailureKind::Unreadable, 0, std::move(error)};
      return;
    }
  } catch (const std::bad_alloc&) {
    input.failure = {FailureKind::OutOfMemory, 0, {}};
    return;
  }
  StartBuffer(input, kBufferSize);
}

// The bytes are copied so that they, too, are followed by kRunSlack bytes.
void OpenInputFromMemory(LocInput& input, const void* data, std::size_t size) {
  input.file = -1;
  StartBuffer(input, size);
  if (Failed(input)) return;
  if (size > 0) std::memcpy(input.buffer.get(), data, size);
  input.end = input.next + size;
  input.endOffset = size;
}

bool IsInputOpen(const LocInput& input) {
  return input.state == InputState::Open;
}

void CloseInput(LocInput& input) {
  if (input.state != InputState::Open) return;
  if (input.file >= 0) {
    std::string ignored;  // what was read is in hand; closing cannot change it
    platform::CloseFile(input.file, ignored);
    input.file = -1;
  }
  input.state = InputState::Closed;
}

std::uint64_t Offset(const LocInput& input) {
  return input.endOffset - AtHand(input);
}

std::int32_t ReadInt32(LocInput& input) {
  if (!Need(input, 4)) return 0;
  const unsigned char* b = input.next;
  input.next += 4;
  std::uint32_t value = std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 |
                        std::uint32_t{b[2]} << 8 | std::uint32_t{b[3]};
  return static_cast<std::int32_t>(value);
}

void ReadByte(LocInput& input) {
  if (Need(input, 1)) ++input.next;
}

std::string_view ReadCountedString(LocInput& input) {
  std::size_t size = 0;
  if (Need(input, 2)) {
    size = LengthAt(input.next);
    input.next += 2;
    if (!Need(input, size)) size = 0;
  }
  // Even an empty or failed string points into the buffer, with the slack behind it.
  std::string_view text(reinterpret_cast<const char*>(input.next), size);
  input.next += size;
  return text;
}

// The hot loop of a run: a walk over the prefixes of the strings at hand.
void ReadStringRun(LocInput& input, std::int32_t maxCount, StringRun& run) {
  std::fill_n(run.lineBreaks.get(), run.markedWords, 0);
  run.markedWords = 0;
  run.text = {};
  run.count = 0;
  if (!Need(input, 2)) return;
  std::size_t first = 2 + LengthAt(input.next);
  if (!Need(input, first)) return;
  unsigned char* const text = input.next + 2;
  std::size_t budget = std::max(kMaxRunBytes, first);
  unsigned char* const stop = input.next + std::min(budget, AtHand(input));
  unsigned char* at = input.next + first;  // past the first string, known to be whole
  run.count = 1;
  // A word of marks is built up in a register and stored whole each time, so
  // that no mark waits for the store of the one before it.
  std::uint64_t* const words = run.lineBreaks.get();
  std::uint64_t* word = words;
  std::uint64_t marks = 0;
  while (run.count < maxCount && stop - at >= 2) {
    // Each step waits for the prefix it loads; asking early for the bytes a
    // kilobyte ahead keeps them in the nearest cache when the walk gets there.
    platform::Prefetch(at + 1024);
    std::size_t length = LengthAt(at);
    if (static_cast<std::size_t>(stop - at) - 2 < length) break;
    at[0] = '\r';
    at[1] = '\n';
    auto lineFeed = static_cast<std::size_t>(at + 1 - text);
    std::uint64_t* into = words + lineFeed / 64;
    marks = (into == word ? marks : 0) | std::uint64_t{1} << lineFeed % 64;
    *into = marks;
    word = into;
    at += 2 + length;
    ++run.count;
  }
  run.text =
      std::string_view(reinterpret_cast<const char*>(text), static_cast<std::size_t>(at - text));
  run.markedWords = run.text.size() / 64 + 1;
  input.next = at;
}

LocHeader ReadHeader(LocInput& input) {
  LocHeader header;
  header.version = ReadInt32(input);
  header.languageCount = ReadInt32(input);
  ReadByte(input);
  header.keyCount = ReadInt32(input);
  return header;
}

void SkipKeyTable(LocInput& input, std::int32_t keyCount) {
  if (keyCount < 0 || keyCount > kMaxKeyCount) {
    Fail(input, FailureKind::Damaged, 9,
         "string count " + std::to_string(keyCount) + " is out of range");
    return;
  }
  SkipBytes(input, 4 * static_cast<std::uint64_t>(keyCount));
}

bool AppendLanguage(LanguageList& languages, std::string_view name) {
  std::size_t size = 2 + name.size();
  if (languages.blocks.empty() || kLanguageBlockSize - languages.blocks.back().used < size) {
    LanguageBlock block;
    block.bytes = platform::Allocate<char>(kLanguageBlockSize);
    if (!block.bytes) return false;
    // A vector reports a failed allocation by throwing; here it is a result.
    try {
      languages.blocks.push_back(std::move(block));
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  LanguageBlock& block = languages.blocks.back();
  char* at = block.bytes.get() + block.used;
  at[0] = static_cast<char>(name.size() >> 8);
  at[1] = static_cast<char>(name.size());
  std::memcpy(at + 2, name.data(), name.size());
  block.used += size;
  ++languages.count;
  return true;
}

bool NextLanguage(const LanguageList& languages, LanguageCursor& cursor, std::string_view& name) {
  if (cursor.block < languages.blocks.size() && cursor.at == languages.blocks[cursor.block].used) {
    ++cursor.block;
    cursor.at = 0;
  }
  if (cursor.block >= languages.blocks.size()) return false;
  const char* at = languages.blocks[cursor.block].bytes.get() + cursor.at;
  std::size_t size = LengthAt(reinterpret_cast<const unsigned char*>(at));
  name = std::string_view(at + 2, size);
  cursor.at += 2 + size;
  return true;
}

void ClearLanguages(LanguageList& languages) {
  languages = LanguageList{};
}

void ReadLanguageDirectory(LocInput& input, std::int32_t languageCount, LanguageList& languages) {
  for (std::int32_t i = 0; i < languageCount && !Failed(input); ++i) {
    std::uint64_t start = Offset(input);
    // The whole entry is brought to hand first, so that the name stays in
    // place while the field after it is skipped.
    if (Need(input, 2)) Need(input, 2 + LengthAt(input.next) + 4);
    std::string_view name = ReadCountedString(input);
    SkipBytes(input, 4);
    if (!Failed(input) && !AppendLanguage(languages, name)) {
      ClearLanguages(languages);
      Fail(input, FailureKind::OutOfMemory, start);
    }
  }
}

std::int32_t ReadBlockHead(LocInput& input) {
  ReadByte(input);
  SkipBytes(input, 4);
  ReadCountedString(input);
  return ReadInt32(input);
}
