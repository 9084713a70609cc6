#include "textout/textout.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/line_feeds.hpp"
#include "platform/platform.hpp"

namespace {

// Writes are of one size, 256 KiB, which costs the least system time per byte.
// The buffer has room for one more line beyond that: the longest string
// (32767 bytes, all LF) takes 65536 bytes with its line end.
constexpr std::size_t kWriteSize = 256 * 1024;
constexpr std::size_t kLongestLine = 2 * 32767 + 2;
constexpr std::size_t kStoreSlack = 64;  // a line's last store may reach this far past it

constexpr std::array<std::string_view, 24> kDeviceNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3",   "COM4",
    "COM5", "COM6", "COM7", "COM8", "COM9", "LPT1", "LPT2",   "LPT3",
    "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};

bool IsControlByte(unsigned char c) {
  return c < 0x20 || c == 0x7F;
}

bool IsDeviceName(std::string_view name) {
  std::string_view stem = name.substr(0, name.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.remove_suffix(1);
  for (std::string_view device : kDeviceNames) {
    if (stem.size() != device.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < stem.size() && same; ++i) {
      char c = stem[i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      same = c == device[i];
    }
    if (same) return true;
  }
  return false;
}

void Fail(LanguageFile& file, std::string error) {
  file.state = FileState::Failed;
  file.error = std::move(error);
}

bool WriteAll(int handle, const char* data, std::size_t size, std::string& error) {
  while (size > 0) {
    long put = platform::WriteSome(handle, data, size, error);
    if (put <= 0) {
      if (put == 0) error = std::strerror(ENOSPC);  // a write that makes no progress
      return false;
    }
    data += put;
    size -= static_cast<std::size_t>(put);
  }
  return true;
}

// Writes out the first `size` bytes of the buffer and keeps the rest.
void WriteOut(LanguageFile& file, std::size_t size) {
  std::string error;
  if (file.state == FileState::Writing && !WriteAll(file.file, file.buffer.get(), size, error)) {
    Fail(file, error);
  }
  std::memmove(file.buffer.get(), file.buffer.get() + size, file.used - size);
  file.used -= size;
}

// Stores the `width` (16 or 64) bytes at `in` and keeps them up to and
// including the first LF, which becomes CR LF, or all of them when there is
// none. Returns the number of input bytes consumed.
std::size_t CopyChunk(char*& out, const char* in, std::size_t width) {
  std::uint64_t lineFeeds = width == kChunkSize ? LineFeedMask(in) : LineFeedMask64(in);
  std::memcpy(out, in, width);
  if (lineFeeds == 0) {
    out += width;
    return width;
  }
  auto first = static_cast<std::size_t>(std::countr_zero(lineFeeds));
  out[first] = '\r';
  out[first + 1] = '\n';
  out += first + 2;
  return first + 1;
}

// Stores `size` bytes at `out` with every LF as CR LF and returns how many bytes
// that took. `out` needs room for twice `size` and 64 bytes more.
std::size_t CopyWithCrLf(char* out, const char* in, std::size_t size) {
  char* const start = out;
  constexpr std::size_t kWide = 4 * kChunkSize;
  std::size_t done = 0;
  while (done + kWide <= size) done += CopyChunk(out, in + done, kWide);
  // When the string's last bytes hold no LF, the part of them already stored
  // was stored unchanged, so one store of them ends the string.
  std::size_t left = size - done;
  if (left == 0) return static_cast<std::size_t>(out - start);
  if (size >= kWide && LineFeedMask64(in + size - kWide) == 0) {
    std::memcpy(out + left - kWide, in + size - kWide, kWide);
    return static_cast<std::size_t>(out + left - start);
  }
  while (done + kChunkSize <= size) done += CopyChunk(out, in + done, kChunkSize);
  left = size - done;
  if (left == 0) return static_cast<std::size_t>(out - start);
  if (size >= kChunkSize && LineFeedMask(in + size - kChunkSize) == 0) {
    std::memcpy(out + left - kChunkSize, in + size - kChunkSize, kChunkSize);
    return static_cast<std::size_t>(out + left - start);
  }
  // Chunks must not be read past the string: the rest is read from a copy,
  // whose zero padding holds no LF.
  char padded[2 * kChunkSize] = {};
  std::memcpy(padded, in + done, left);
  std::size_t used = 0;
  while (used < left) used += CopyChunk(out, padded + used, kChunkSize);
  return static_cast<std::size_t>(out - (used - left) - start);
}

// The temporary file ends in ".tmp", so it can never be taken for a language file.
int CreateTemporaryFile(const char* folder, std::string& path, std::string& error) {
  static unsigned long sequence = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = std::string(folder) + "/vornhold-" + std::to_string(platform::ProcessId()) + "-" +
           std::to_string(++sequence) + ".tmp";
    bool exists = false;
    int handle = platform::CreateNewFile(path.c_str(), error, exists);
    if (handle >= 0) return handle;
    if (!exists) break;
  }
  path.clear();
  return -1;
}

void CloseTemporary(LanguageFile& file, std::string& error) {
  if (file.file < 0) return;
  bool closed = platform::CloseFile(file.file, error);
  file.file = -1;
  if (!closed && file.state == FileState::Writing) Fail(file, error);
}

}  // namespace

bool MakeFolder(const char* name) {
  return platform::MakeDirectory(name);
}

bool IsSafeFileName(std::string_view name) {
  for (unsigned char c : name) {
    if (IsControlByte(c) || std::strchr("/\\:*?\"<>|", c) != nullptr) return false;
  }
  return !IsDeviceName(name);
}

std::string DisplayName(std::string_view name) {
  std::string shown;
  for (unsigned char c : name) {
    if (IsControlByte(c)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    } else {
      shown += static_cast<char>(c);
    }
  }
  return shown;
}

void OpenLanguageFile(LanguageFile& file, const char* folder, std::string_view name) {
  file.error.clear();
  file.used = 0;
  file.bytesWritten = 0;
  if (!file.buffer) {
    file.buffer = std::make_unique_for_overwrite<char[]>(kWriteSize + kLongestLine + kStoreSlack);
  }
  if (folder == nullptr) {
    file.state = FileState::Discard;
    return;
  }
  if (!IsSafeFileName(name)) {
    file.state = FileState::Refused;
    return;
  }
  file.finalPath = std::string(folder) + "/" + std::string(name) + ".txt";
  file.file = CreateTemporaryFile(folder, file.tempPath, file.error);
  if (file.file < 0) {
    file.state = FileState::Failed;
    return;
  }
  file.state = FileState::Writing;
}

void WriteLine(LanguageFile& file, std::string_view text) {
  if (file.state != FileState::Writing && file.state != FileState::Discard) return;
  char* out = file.buffer.get() + file.used;
  std::size_t stored = CopyWithCrLf(out, text.data(), text.size());
  out[stored] = '\r';
  out[stored + 1] = '\n';
  file.used += stored + 2;
  file.bytesWritten += stored + 2;
  if (file.used >= kWriteSize) WriteOut(file, kWriteSize);
}

void CloseLanguageFile(LanguageFile& file) {
  if (file.state == FileState::Discard) file.state = FileState::Done;
  if (file.state != FileState::Writing && file.state != FileState::Failed) return;
  WriteOut(file, file.used);
  std::string error;
  CloseTemporary(file, error);
  if (file.state == FileState::Writing &&
      platform::MoveIntoPlace(file.tempPath.c_str(), file.finalPath.c_str(), error)) {
    file.state = FileState::Done;
  } else {
    if (file.state == FileState::Writing) Fail(file, error);
    if (!file.tempPath.empty()) platform::RemoveFile(file.tempPath.c_str());
  }
  file.tempPath.clear();
}

void AbandonLanguageFile(LanguageFile& file) {
  std::string ignored;
  CloseTemporary(file, ignored);
  if (!file.tempPath.empty()) platform::RemoveFile(file.tempPath.c_str());
  file.tempPath.clear();
  file.state = FileState::Closed;
}
