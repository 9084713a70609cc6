#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/platform.hpp"

namespace platform {

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

// The one mapped file, as the bus-error handler sees it.
std::uintptr_t gMapStart = 0;
std::uintptr_t gMapEnd = 0;
std::uintptr_t gPageSize = 4096;
volatile std::sig_atomic_t gMappingBroken = 0;
struct sigaction gPreviousBusAction {};

// Touching a mapped page that lies beyond the end of a file that shrank raises
// SIGBUS. Such a page is replaced by a page of zeros and the loss is recorded
// for the reader to report; any other bus error takes its usual course.
void OnBusError(int, siginfo_t* info, void*) {
  auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
  if (address >= gMapStart && address < gMapEnd) {
    void* page = reinterpret_cast<void*>(address & ~(gPageSize - 1));
    if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
        MAP_FAILED) {
      gMappingBroken = 1;
      return;
    }
  }
  ::sigaction(SIGBUS, &gPreviousBusAction, nullptr);
}

std::uintptr_t PageFloor(const unsigned char* at) {
  return reinterpret_cast<std::uintptr_t>(at) & ~(gPageSize - 1);
}

}  // namespace

const unsigned char* MapForReading(int file, std::uint64_t& size) {
  struct stat info {};
  if (gMapStart != 0 || ::fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  // Small files are read faster than mapped; huge ones may not fit the address space.
  auto fileSize = static_cast<std::uint64_t>(info.st_size);
  if (fileSize < (1u << 20) || fileSize > std::numeric_limits<std::size_t>::max() / 2) {
    return nullptr;
  }
  void* data = ::mmap(nullptr, static_cast<std::size_t>(fileSize), PROT_READ, MAP_PRIVATE, file, 0);
  if (data == MAP_FAILED) return nullptr;
  ::madvise(data, static_cast<std::size_t>(fileSize), MADV_SEQUENTIAL);
  struct sigaction action {};
  action.sa_sigaction = OnBusError;
  action.sa_flags = SA_SIGINFO | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  gPageSize = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  gMapStart = reinterpret_cast<std::uintptr_t>(data);
  gMapEnd = gMapStart + static_cast<std::uintptr_t>(fileSize);
  gMappingBroken = 0;
  ::sigaction(SIGBUS, &action, &gPreviousBusAction);
  size = fileSize;
  return static_cast<const unsigned char*>(data);
}

void Unmap(const unsigned char* data, std::uint64_t size) {
  ::munmap(const_cast<unsigned char*>(data), static_cast<std::size_t>(size));
  ::sigaction(SIGBUS, &gPreviousBusAction, nullptr);
  gMapStart = gMapEnd = 0;
}

void PrefetchMapped(const unsigned char* from, const unsigned char* to) {
  std::uintptr_t start = PageFloor(from);
  ::madvise(reinterpret_cast<void*>(start), reinterpret_cast<std::uintptr_t>(to) - start,
            MADV_POPULATE_READ);
}

void ReleaseMapped(const unsigned char* from, const unsigned char* to) {
  std::uintptr_t start = PageFloor(from);
  std::uintptr_t end = PageFloor(to);
  if (end > start) ::madvise(reinterpret_cast<void*>(start), end - start, MADV_DONTNEED);
}

bool MappingBroken() {
  return gMappingBroken != 0;
}

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
