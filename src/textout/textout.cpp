#include "textout/textout.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "textout/line_feeds.hpp"

namespace {

// Writes are of one size, 256 KiB, which costs the least system time per byte.
// The buffer is written out whenever it holds that much, so it has room for
// what one run adds beyond it: the most text a run holds, all LFs, doubles,
// and a line end follows.
constexpr std::size_t kWriteSize = 256 * 1024;
constexpr std::size_t kLongestLine = 2 * kMaxRunText + 2;
// A complete file is flushed to the disk before it takes its name. The disk
// starts on a large file's data every 8 MiB while the rest is written, so
// that the flush waits only for the last part.
constexpr std::size_t kWriteBackSize = 8 << 20;

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
  if (file.state == FileState::Writing &&
      !WriteAll(file.temp.file, file.buffer.get(), size, error)) {
    Fail(file, error);
  }
  file.sinceWriteBack += size;
  if (file.state == FileState::Writing && file.sinceWriteBack >= kWriteBackSize) {
    platform::StartWriteBack(file.temp.file);
    file.sinceWriteBack = 0;
  }
  std::memmove(file.buffer.get(), file.buffer.get() + size, file.used - size);
  file.used -= size;
}

// Why a name is not made a file, or null when it is.
const char* SkipReason(platform::NameCheck check) {
  switch (check) {
    case platform::NameCheck::Plain:
      return nullptr;
    case platform::NameCheck::Unsafe:
      return "unsafe file name";
    case platform::NameCheck::ShortName:
      return "name of the form of another file's short name";
    case platform::NameCheck::Misread:
      return "bytes that a file system may read as another name";
    case platform::NameCheck::NotInCodePage:
      return "not a name in this system's code page";
    case platform::NameCheck::TooLong:
      return "name too long for a file";
  }
  return nullptr;
}

}  // namespace

LanguageFile::~LanguageFile() {
  DropLanguageFile(*this);
}

bool MakeFolder(const char* name, std::string& error) {
  return platform::MakeDirectory(name, error);
}

void RemoveLeftOverFiles(const char* folder) {
  platform::RemoveLeftOverTemporaryFiles(folder);
}

bool AllocateFileBuffer(LanguageFile& file) {
  if (!file.buffer) {
    file.buffer = platform::Allocate<char>(kWriteSize + kLongestLine + kStoreSlack);
  }
  return file.buffer != nullptr;
}

void OpenLanguageFile(LanguageFile& file, const char* folder, std::string_view name) {
  file.used = 0;
  file.sinceWriteBack = 0;
  const char* skipped = SkipReason(platform::CheckFileName(name));
  if (skipped != nullptr) {
    file.state = FileState::Skipped;
    file.error = skipped;
    return;
  }
  file.finalPath = std::string(folder) + "/" + std::string(name) + ".txt";
  bool created = platform::CreateTemporaryFile(folder, file.temp, file.error);
  file.state = created ? FileState::Writing : FileState::Failed;
}

void WriteLines(LanguageFile& file, const StringRun& run) {
  if (file.state != FileState::Writing) return;
  char* out = file.buffer.get() + file.used;
  std::size_t stored = StoreWithCrLf(out, run.text.data(), run.text.size(), run.lineBreaks.get());
  out[stored] = '\r';
  out[stored + 1] = '\n';
  file.used += stored + 2;
  if (file.used >= kWriteSize) WriteOut(file, kWriteSize);
}

void CloseLanguageFile(LanguageFile& file) {
  if (file.state != FileState::Writing && file.state != FileState::Failed) return;
  WriteOut(file, file.used);
  std::string error;
  if (file.state == FileState::Writing) {
    if (platform::CloseTemporaryFile(file.temp, file.finalPath.c_str(), error)) {
      file.state = FileState::Done;
    } else {
      Fail(file, error);
    }
  }
  platform::DropTemporaryFile(file.temp);
}

void DropLanguageFile(LanguageFile& file) {
  platform::DropTemporaryFile(file.temp);
  file.state = FileState::Closed;
}
