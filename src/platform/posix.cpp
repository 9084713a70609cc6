#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"

namespace platform {

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

}  // namespace

int OpenForReading(const char* path, std::string& error) {
  int file = ::open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) {
    error = ErrorText(errno);
    return -1;
  }
  struct stat info {};
  if (::fstat(file, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(file);
    error = ErrorText(EISDIR);
    return -1;
  }
  ::posix_fadvise(file, 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
}

long ReadSome(int file, void* buffer, std::size_t size, std::string& error) {
  for (;;) {
    ssize_t got = ::read(file, buffer, size);
    if (got >= 0) return static_cast<long>(got);
    if (errno == EINTR) continue;
    error = ErrorText(errno);
    return -1;
  }
}

int CreateNewFile(const char* path, std::string& error, bool& exists) {
  int file = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (file < 0) {
    exists = errno == EEXIST;
    error = ErrorText(errno);
  }
  return file;
}

long WriteSome(int file, const void* data, std::size_t size, std::string& error) {
  for (;;) {
    ssize_t put = ::write(file, data, size);
    if (put >= 0) return static_cast<long>(put);
    if (errno == EINTR) continue;
    error = ErrorText(errno);
    return -1;
  }
}

bool CloseFile(int file, std::string& error) {
  if (::close(file) == 0) return true;
  error = ErrorText(errno);
  return false;
}

bool MoveIntoPlace(const char* from, const char* to, std::string& error) {
  if (std::rename(from, to) == 0) return true;
  error = ErrorText(errno);
  return false;
}

void RemoveFile(const char* path) {
  ::unlink(path);
}

bool MakeDirectory(const char* name) {
  if (::mkdir(name, 0777) == 0) return true;
  struct stat info {};
  return ::stat(name, &info) == 0 && S_ISDIR(info.st_mode);
}

unsigned long ProcessId() {
  return static_cast<unsigned long>(::getpid());
}

}  // namespace platform
