#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/platform.hpp"

namespace platform {

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

std::string WindowsErrorText(DWORD code) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                code, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\r' || text[length - 1] == '\n' ||
                        text[length - 1] == '.' || text[length - 1] == ' ')) {
    --length;
  }
  if (length == 0) return "Windows error " + std::to_string(code);
  return std::string(text, length);
}

}  // namespace

int OpenForReading(const char* path, std::string& error) {
  // _open shares the file with every other program (no deny mode).
  int file = ::_open(path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
  if (file < 0) error = ErrorText(errno);
  return file;
}

long ReadSome(int file, void* buffer, std::size_t size, std::string& error) {
  int got = ::_read(file, buffer, static_cast<unsigned>(size));
  if (got < 0) error = ErrorText(errno);
  return got;
}

int CreateNewFile(const char* path, std::string& error, bool& exists) {
  int file = ::_open(path, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                     _S_IREAD | _S_IWRITE);
  if (file < 0) {
    exists = errno == EEXIST;
    error = ErrorText(errno);
  }
  return file;
}

long WriteSome(int file, const void* data, std::size_t size, std::string& error) {
  int put = ::_write(file, data, static_cast<unsigned>(size));
  if (put < 0) error = ErrorText(errno);
  return put;
}

bool CloseFile(int file, std::string& error) {
  if (::_close(file) == 0) return true;
  error = ErrorText(errno);
  return false;
}

bool MoveIntoPlace(const char* from, const char* to, std::string& error) {
  // rename() refuses to replace an existing file on Windows.
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
  error = WindowsErrorText(GetLastError());
  return false;
}

void RemoveFile(const char* path) {
  ::_unlink(path);
}

bool MakeDirectory(const char* name) {
  // Folder names are in the active code page; the wide call takes them as UTF-16.
  int units = MultiByteToWideChar(CP_ACP, 0, name, -1, nullptr, 0);
  if (units <= 0) return false;
  std::vector<wchar_t> wide(static_cast<std::size_t>(units));
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide.data(), units);
  if (CreateDirectoryW(wide.data(), nullptr)) return true;
  DWORD attributes = GetFileAttributesW(wide.data());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(::_getpid());
}

}  // namespace platform
