#include "loc/reader.hpp"

#include <algorithm>
#include <cstring>

#include "platform/platform.hpp"

namespace {

// Reads are of one size, so they stay on page boundaries of the file; 256 KiB
// costs the least system time per byte. The buffer also keeps the unread part
// of the last read, which is never more than the longest field, a counted
// string of 32767 bytes and its prefix.
constexpr std::size_t kReadSize = 256 * 1024;
constexpr std::size_t kLongestField = 2 + 32767;

// A mapped file is taken in windows of this size; the pages of each window are
// given back once the reader has passed them, so memory stays flat.
constexpr std::size_t kMapWindow = 4 * 1024 * 1024;

constexpr char kChangedWhileRead[] = "the file changed while it was being read";

void Fail(LocInput& input, std::string reason = {}) {
  input.failed = true;
  input.failOffset = input.endOffset;
  input.failReason = std::move(reason);
  // Nothing is left at hand, so every later read goes to Refill, which refuses.
  input.endOffset -= static_cast<std::uint64_t>(input.end - input.next);
  input.end = input.next;
}

bool ExtendWindow(LocInput& input, std::size_t count) {
  platform::ReleaseMapped(input.released, input.next);
  input.released = input.next;
  const unsigned char* fileEnd = input.mapped + input.mappedSize;
  while (static_cast<std::size_t>(input.end - input.next) < count && input.end < fileEnd) {
    std::size_t step =
        std::min<std::size_t>(kMapWindow, static_cast<std::size_t>(fileEnd - input.end));
    platform::PrefetchMapped(input.end, input.end + step);
    input.end += step;
    input.endOffset += step;
  }
  if (!CheckInput(input)) return false;
  if (static_cast<std::size_t>(input.end - input.next) >= count) return true;
  Fail(input);
  return false;
}

}  // namespace

// Moves the unread bytes to the front of the buffer and reads more behind them
// until `count` bytes are at hand or the file ends.
bool Refill(LocInput& input, std::size_t count) {
  if (input.failed) return false;
  if (input.mapped != nullptr) return ExtendWindow(input, count);
  if (input.file < 0) {
    Fail(input);
    return false;
  }
  std::size_t kept = static_cast<std::size_t>(input.end - input.next);
  std::memmove(input.buffer.data(), input.next, kept);
  input.next = input.buffer.data();
  input.end = input.next + kept;
  while (kept < count) {
    std::string error;
    long got = platform::ReadSome(input.file, input.buffer.data() + kept, kReadSize, error);
    if (got <= 0) {
      Fail(input, got < 0 ? error : std::string());
      return false;
    }
    kept += static_cast<std::size_t>(got);
    input.end += got;
    input.endOffset += static_cast<std::uint64_t>(got);
  }
  return true;
}

LocInput::~LocInput() {
  CloseInput(*this);
}

void OpenInput(LocInput& input, const char* path) {
  std::string ignored;  // the run reports any failure to open in its own words
  input.file = platform::OpenForReading(path, ignored);
  if (input.file < 0) return;
  input.state = InputState::Open;
  input.mapped = platform::MapForReading(input.file, input.mappedSize);
  if (input.mapped != nullptr) {
    input.next = input.end = input.released = input.mapped;
    return;
  }
  input.buffer.resize(kReadSize + kLongestField);
  input.next = input.end = input.buffer.data();
}

void OpenInputFromMemory(LocInput& input, const void* data, std::size_t size) {
  input.file = -1;
  input.next = static_cast<const unsigned char*>(data);
  input.end = input.next + size;
  input.endOffset = size;
  input.state = InputState::Open;
}

bool IsInputOpen(const LocInput& input) {
  return input.state == InputState::Open;
}

bool CheckInput(LocInput& input) {
  if (input.mapped != nullptr && !input.failed && platform::MappingBroken()) {
    Fail(input, kChangedWhileRead);
  }
  return !input.failed;
}

void CloseInput(LocInput& input) {
  if (input.state != InputState::Open) return;
  if (input.mapped != nullptr) {
    platform::Unmap(input.mapped, input.mappedSize);
    input.mapped = nullptr;
  }
  if (input.file >= 0) {
    std::string ignored;
    platform::CloseFile(input.file, ignored);
    input.file = -1;
  }
  input.state = InputState::Closed;
}

std::uint64_t Offset(const LocInput& input) {
  return input.endOffset - static_cast<std::uint64_t>(input.end - input.next);
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

void SkipBytes(LocInput& input, std::uint64_t count) {
  while (count > 0) {
    if (!Need(input, 1)) return;
    std::size_t atHand = static_cast<std::size_t>(input.end - input.next);
    std::size_t step = static_cast<std::size_t>(std::min<std::uint64_t>(atHand, count));
    input.next += step;
    count -= step;
  }
}

LocHeader ReadHeader(LocInput& input) {
  LocHeader header;
  header.version = ReadInt32(input);
  header.languageCount = ReadInt32(input);
  ReadByte(input);
  header.stringCount = ReadInt32(input);
  return header;
}

void SkipKeyTable(LocInput& input, std::int32_t stringCount) {
  if (stringCount > 0) SkipBytes(input, 4 * static_cast<std::uint64_t>(stringCount));
}

void ReadLanguageDirectory(LocInput& input, std::int32_t languageCount, LanguageList& languages) {
  for (std::int32_t i = 0; i < languageCount && !input.failed; ++i) {
    std::string name(ReadCountedString(input));
    SkipBytes(input, 4);
    if (!input.failed) languages.push_back(std::move(name));
  }
}

std::int32_t ReadBlockHead(LocInput& input) {
  ReadByte(input);
  SkipBytes(input, 4);
  ReadCountedString(input);
  return ReadInt32(input);
}
