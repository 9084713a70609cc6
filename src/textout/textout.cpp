#include "textout/textout.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"

namespace {

// Writes of this size cost the least system time per byte.
constexpr std::size_t kBufferSize = 256 * 1024;

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

void Flush(LanguageFile& file) {
  if (file.state == FileState::Writing && file.used > 0) {
    std::string error;
    if (!platform::WriteAll(file.file, file.buffer.data(), file.used, error)) Fail(file, error);
  }
  file.used = 0;
}

void Put(LanguageFile& file, const char* data, std::size_t size) {
  file.bytesWritten += size;
  if (file.state == FileState::Discard) return;
  while (size > 0) {
    if (file.used == file.buffer.size()) Flush(file);
    if (file.state != FileState::Writing) return;
    std::size_t step = std::min(size, file.buffer.size() - file.used);
    std::memcpy(file.buffer.data() + file.used, data, step);
    file.used += step;
    data += step;
    size -= step;
  }
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
  file.buffer.resize(kBufferSize);
}

void WriteLine(LanguageFile& file, std::string_view text) {
  const char* next = text.data();
  std::size_t left = text.size();
  for (;;) {
    const void* lf = left > 0 ? std::memchr(next, '\n', left) : nullptr;
    std::size_t piece = lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - next) : left;
    Put(file, next, piece);
    Put(file, "\r\n", 2);
    if (!lf) return;
    next += piece + 1;
    left -= piece + 1;
  }
}

void CloseLanguageFile(LanguageFile& file) {
  if (file.state == FileState::Discard) file.state = FileState::Done;
  if (file.state == FileState::Refused) return;
  Flush(file);
  std::string error;
  CloseTemporary(file, error);
  if (file.state == FileState::Writing) {
    if (platform::MoveIntoPlace(file.tempPath.c_str(), file.finalPath.c_str(), error)) {
      file.state = FileState::Done;
      return;
    }
    Fail(file, error);
  }
  if (file.state == FileState::Failed && !file.tempPath.empty()) {
    platform::RemoveFile(file.tempPath.c_str());
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
