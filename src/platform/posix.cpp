#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>

#include "platform/file_names.hpp"
#include "platform/platform.hpp"
#include "platform/posix_calls.hpp"
#include "platform/temporary_names.hpp"

namespace platform {

PosixCalls gPosixCalls;

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

// The temporary file being written, while it has a name: published here
// before the file is made (SIGKILL cannot be held back, and a stop may come
// at any moment), so that the stop handler can remove it.
volatile std::sig_atomic_t gNamed = 0;
char gNamedPath[4096];

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Removes the named temporary file, then ends the process by the same
// signal, so that its exit status still says how it ended. A process that
// the signal cannot end (the first process of a PID namespace, as in a
// container, ignores signals it has no handler for) ends with the status a
// shell gives such a death. Async-signal-safe only.
void OnStopSignal(int signal) {
  if (gNamed != 0) ::unlink(gNamedPath);
  ::signal(signal, SIG_DFL);
  sigset_t own;
  sigemptyset(&own);
  sigaddset(&own, signal);
  ::sigprocmask(SIG_UNBLOCK, &own, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);
}

void InstallStopHandlers() {
  for (int signal : kStopSignals) {
    struct sigaction action {};
    ::sigaction(signal, nullptr, &action);
    if (action.sa_handler == SIG_IGN) continue;  // such as SIGHUP under nohup
    action.sa_handler = OnStopSignal;
    action.sa_flags = 0;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
  }
}

// Holds the stop signals back while a temporary name comes or goes, so that
// the handler never removes a name that is not, or no longer, ours.
class StopSignalsHeld {
 public:
  StopSignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : kStopSignals) sigaddset(&held, signal);
    ::sigprocmask(SIG_BLOCK, &held, &previous_);
  }
  ~StopSignalsHeld() { ::sigprocmask(SIG_SETMASK, &previous_, nullptr); }
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

// Files of no name need O_TMPFILE and, to be linked into place by a process
// without special rights, the /proc entry of their descriptor. A test build
// names them all, as on FAT and exFAT, to test that way without a mount.
bool UnnamedFilesPossible() {
#ifdef VORNHOLD_NAMED_TEMPORARY_FILES
  return false;
#else
  static const bool possible = ::access("/proc/self/fd", X_OK) == 0;
  return possible;
#endif
}

std::string DescriptorPath(int file) {
  return "/proc/self/fd/" + std::to_string(file);
}

bool Publish(const std::string& path) {
  if (path.size() >= sizeof gNamedPath) return false;
  gNamed = 0;
  std::memcpy(gNamedPath, path.c_str(), path.size() + 1);
  gNamed = 1;
  return true;
}

void Unpublish() {
  gNamed = 0;
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// True when `file` is locked by us and still stands under `path`. A run that
// sweeps the folder may take a file in the moment between its creation and
// its lock; it removes only files that it has locked itself, so once ours is
// locked, a file still in place stays ours.
bool LockedInPlace(int file, const char* path) {
  struct stat held {};
  struct stat named {};
  return ::flock(file, LOCK_EX) == 0 && ::fstat(file, &held) == 0 && ::lstat(path, &named) == 0 &&
         SameFile(held, named);
}

// Makes something under a new temporary name in `folder` by `make`, which
// returns false with errno set when it fails, trying another name while one
// is taken. The name is published first. Returns the name, or an empty one
// with `error` set.
template <typename Make>
std::string TakeTemporaryName(const std::string& folder, std::string& error, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = TemporaryName(folder, '/', ::getpid());
    if (!Publish(path)) {
      error = ErrorText(ENAMETOOLONG);
      return {};
    }
    if (make(path)) return path;
    int failed = errno;
    Unpublish();  // the name is someone else's, or nothing stands there
    if (failed != EEXIST) {
      error = ErrorText(failed);
      return {};
    }
  }
  error = ErrorText(EEXIST);
  return {};
}

// Data first, then the name: a power cut after the rename or link must not
// find the name on a file whose data never reached the disk.
bool Flush(int file, std::string& error) {
  if (gPosixCalls.flushData(file) == 0) return true;
  error = ErrorText(errno);
  return false;
}

}  // namespace

void ShowText(std::FILE* console, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), console);
  std::fflush(console);
}

void ShowReason(std::FILE* console, std::string_view reason) {
  ShowText(console, reason);
}

std::int64_t Milliseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1'000'000;
}

// Opened without waiting, then read as usual (a FIFO with no writer reads as
// empty rather than hanging the run before its first line).
int OpenForReading(const char* path, std::string& error) {
  int file = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat info {};
  if (file >= 0 && ::fstat(file, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(file);
    file = -1;
    errno = EISDIR;
  }
  if (file < 0) {
    error = ErrorText(errno);
    return -1;
  }
  ::fcntl(file, F_SETFL, ::fcntl(file, F_GETFL) & ~O_NONBLOCK);
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

long WriteSome(int file, const void* data, std::size_t size, std::string& error) {
  for (;;) {
    ssize_t put = ::write(file, data, size);
    if (put >= 0) return static_cast<long>(put);
    if (errno == EINTR) continue;
    error = ErrorText(errno);
    return -1;
  }
}

void StartWriteBack(int file) {
  ::sync_file_range(file, 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool CloseFile(int file, std::string& error) {
  if (::close(file) == 0) return true;
  error = ErrorText(errno);
  return false;
}

// A temporary file that no one holds locked is left over (a kill, a power
// cut): whatever process id its name carries, which means nothing to a run
// in another PID namespace or on another machine sharing the folder.
void RemoveLeftOverTemporaryFiles(const char* folder) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryName(std::string_view(entry->d_name))) continue;
    int file =
        ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) continue;
    // Removed only while locked and still under that name, so never a file
    // that its maker has locked since, nor one that took the name after it.
    struct stat held {};
    struct stat named {};
    if (::fstat(file, &held) == 0 && S_ISREG(held.st_mode) &&
        ::flock(file, LOCK_EX | LOCK_NB) == 0 &&
        ::fstatat(::dirfd(dir), entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(held, named)) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::close(file);
  }
  ::closedir(dir);
}

bool CreateTemporaryFile(const char* folder, TemporaryFile& temp, std::string& error) {
  temp.folder = folder;
  temp.path.clear();
  if (UnnamedFilesPossible()) {
    temp.file = ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (temp.file >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
      error = ErrorText(errno);
      return false;
    }
  }
  StopSignalsHeld held;
  temp.path = TakeTemporaryName(folder, error, [&](const std::string& path) {
    temp.file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (temp.file < 0) return false;
    if (LockedInPlace(temp.file, path.c_str())) return true;
    ::close(temp.file);  // a sweep took it: another name
    temp.file = -1;
    errno = EEXIST;
    return false;
  });
  return !temp.path.empty();
}

namespace {

// The file stays locked until it is in place, so that no sweep takes it.
bool CloseNamed(TemporaryFile& temp, const char* target, std::string& error) {
  bool kept = Flush(temp.file, error);
  StopSignalsHeld held;
  if (kept && std::rename(temp.path.c_str(), target) != 0) {
    error = ErrorText(errno);
    kept = false;
  }
  if (!kept) ::unlink(temp.path.c_str());
  Unpublish();
  // Its data is on the disk already: closing has nothing left to report.
  ::close(temp.file);
  return kept;
}

// Where something stands under the target, the file takes a temporary name
// for the moment of a rename over it, since a link cannot replace anything.
// It is locked before it has that name, so no sweep takes it.
bool ReplaceWithUnnamed(TemporaryFile& temp, const char* target, std::string& error) {
  StopSignalsHeld held;
  ::flock(temp.file, LOCK_EX);
  std::string source = DescriptorPath(temp.file);
  std::string path = TakeTemporaryName(temp.folder, error, [&](const std::string& name) {
    return ::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  });
  if (path.empty()) return false;
  bool kept = std::rename(path.c_str(), target) == 0;
  if (!kept) {
    error = ErrorText(errno);
    ::unlink(path.c_str());
  }
  Unpublish();
  return kept;
}

// Linked straight to the target when nothing stands there.
bool CloseUnnamed(TemporaryFile& temp, const char* target, std::string& error) {
  bool kept = Flush(temp.file, error);
  if (kept && ::linkat(AT_FDCWD, DescriptorPath(temp.file).c_str(), AT_FDCWD, target,
                       AT_SYMLINK_FOLLOW) != 0) {
    int failed = errno;
    kept = failed == EEXIST && ReplaceWithUnnamed(temp, target, error);
    if (failed != EEXIST) error = ErrorText(failed);
  }
  ::close(temp.file);
  return kept;
}

}  // namespace

bool CloseTemporaryFile(TemporaryFile& temp, const char* target, std::string& error) {
  bool kept =
      temp.path.empty() ? CloseUnnamed(temp, target, error) : CloseNamed(temp, target, error);
  temp.file = -1;
  temp.path.clear();
  return kept;
}

// Removed before it is closed, so that the name goes while it is still ours.
void DropTemporaryFile(TemporaryFile& temp) {
  if (temp.file < 0) return;
  StopSignalsHeld held;
  if (!temp.path.empty()) {
    ::unlink(temp.path.c_str());
    Unpublish();
  }
  ::close(temp.file);
  temp.file = -1;
  temp.path.clear();
}

NameCheck CheckFileName(std::string_view name) {
  if (!IsPlainName(name)) return NameCheck::Unsafe;
  if (IsShortName(name)) return NameCheck::ShortName;
  if (HasMisreadBytes(name)) return NameCheck::Misread;
  return FitsFileName(name.size()) ? NameCheck::Plain : NameCheck::TooLong;
}

void PrepareProcess() {
  InstallStopHandlers();
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

bool MakeDirectory(const char* name, std::string& error) {
  if (::mkdir(name, 0777) == 0) return true;
  int failed = errno;
  struct stat info {};
  if (::stat(name, &info) == 0 && S_ISDIR(info.st_mode)) return true;
  error = ErrorText(failed);
  return false;
}

}  // namespace platform
