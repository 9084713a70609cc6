#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/file_names.hpp"
#include "platform/platform.hpp"
#include "platform/temporary_names.hpp"

namespace platform {

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

// The temporary file being written is named, and its name is published here
// before the file is made, until it is renamed or removed. Two readers remove
// it if the program ends before then: the stop handler, and a helper process
// that outlives every way the program can end, SIGKILL included. With the
// helper running, this lies in memory that the two share.
struct Published {
  volatile std::sig_atomic_t named = 0;
  char path[4096] = {};
};
Published gOwnCopy;
Published* gPublished = &gOwnCopy;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Removes the named temporary file, then ends the process by the same signal,
// so that its exit status still says how it ended. Async-signal-safe only.
void OnStopSignal(int signal) {
  if (gPublished->named != 0) ::unlink(gPublished->path);
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered as soon as the handler returns
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

// The helper waits until the pipe's other end, which only the program holds,
// closes: that is, until the program has ended, however it ended. It then
// removes the temporary file that the program left, if any. It has a session
// of its own and ignores the stop signals, so a Ctrl+C, a closed terminal or a
// signal to the program's process group does not end it first.
[[noreturn]] void RunHelper(int programEnded) {
  ::setsid();
  for (int signal : kStopSignals) ::signal(signal, SIG_IGN);
  char ignored;
  while (::read(programEnded, &ignored, 1) < 0 && errno == EINTR) {
  }
  if (gPublished->named != 0) ::unlink(gPublished->path);
  ::_exit(0);
}

// Sets up both ways of removing a named temporary file, once, before the
// first one. Without the helper (no process could be started), the stop
// handler alone removes it; the reason is kept to be reported.
const std::string& PrepareCleanUp() {
  static bool prepared = false;
  static std::string failure;
  if (prepared) return failure;
  prepared = true;
  InstallStopHandlers();
  void* shared =
      ::mmap(nullptr, sizeof(Published), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  int ends[2];
  if (shared == MAP_FAILED) return failure = ErrorText(errno);
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    failure = ErrorText(errno);
    ::munmap(shared, sizeof(Published));
    return failure;
  }
  gPublished = new (shared) Published;
  pid_t helper = ::fork();
  if (helper == 0) {
    ::close(ends[1]);
    RunHelper(ends[0]);
  }
  ::close(ends[0]);  // the write end stays open until the program ends
  if (helper < 0) {
    failure = ErrorText(errno);
    ::close(ends[1]);
    gPublished = &gOwnCopy;
    ::munmap(shared, sizeof(Published));
  }
  return failure;
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

std::string NewTemporaryName(const std::string& folder) {
  return TemporaryName(folder, '/', ::getpid());
}

bool IsLiveProcess(long id) {
  return id > 0 && id <= INT32_MAX && (::kill(static_cast<pid_t>(id), 0) == 0 || errno == EPERM);
}

// Files of no name need O_TMPFILE and, to be linked into place by a process
// without special rights, the /proc entry of their descriptor.
bool UnnamedFilesPossible() {
  static const bool possible = ::access("/proc/self/fd", X_OK) == 0;
  return possible;
}

std::string DescriptorPath(int file) {
  return "/proc/self/fd/" + std::to_string(file);
}

// Published before the file is made, since SIGKILL cannot be held back.
bool PublishTemporary(const std::string& path) {
  if (path.size() >= sizeof gPublished->path) return false;
  gPublished->named = 0;
  std::memcpy(gPublished->path, path.c_str(), path.size() + 1);
  gPublished->named = 1;
  return true;
}

void ForgetTemporary() {
  gPublished->named = 0;
}

// Makes something under a new temporary name in `folder` by `make`, which
// returns false with errno set when it fails, trying another name while one
// is taken. The name is published first, since SIGKILL cannot be held back.
// Returns the name, or an empty one with `error` set.
template <typename Make>
std::string TakeTemporaryName(const std::string& folder, std::string& error, Make make) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = NewTemporaryName(folder);
    if (!PublishTemporary(path)) {
      error = ErrorText(ENAMETOOLONG);
      return {};
    }
    if (make(path)) return path;
    int failed = errno;
    ForgetTemporary();  // the name is someone else's, or nothing stands there
    if (failed != EEXIST) {
      error = ErrorText(failed);
      return {};
    }
  }
  error = ErrorText(EEXIST);
  return {};
}

}  // namespace

void ShowText(std::FILE* console, std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), console);
  std::fflush(console);
}

int OpenForReading(const char* path) {
  int file = ::open(path, O_RDONLY | O_CLOEXEC);
  if (file < 0) return -1;
  struct stat info {};
  if (::fstat(file, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(file);
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

bool StartCleanUp(std::string& error) {
  error = PrepareCleanUp();
  return error.empty();
}

// A temporary file whose process has ended and that no one holds locked (its
// maker locks it from the moment it exists) is left over: a power cut, or a
// kill of the program and its helper at once.
void RemoveStaleTemporaryFiles(const char* folder) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    long owner = TemporaryNameOwner(entry->d_name);
    if (owner == 0 || (owner != ::getpid() && IsLiveProcess(owner))) continue;
    int file =
        ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (file < 0) continue;
    struct stat info {};
    if (::fstat(file, &info) == 0 && S_ISREG(info.st_mode) &&
        ::flock(file, LOCK_EX | LOCK_NB) == 0) {
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::close(file);
  }
  ::closedir(dir);
}

bool CreateTemporaryFile(const char* folder, TemporaryFile& temp, std::string& error) {
  PrepareCleanUp();
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
    if (temp.file >= 0) ::flock(temp.file, LOCK_EX | LOCK_NB);  // ours while it is written
    return temp.file >= 0;
  });
  return !temp.path.empty();
}

namespace {

// Closed first, so that a failure to write the file out shows.
bool KeepNamed(TemporaryFile& temp, const char* target, std::string& error) {
  StopSignalsHeld held;
  bool kept = CloseFile(temp.file, error);
  if (kept && std::rename(temp.path.c_str(), target) != 0) {
    error = ErrorText(errno);
    kept = false;
  }
  if (!kept) ::unlink(temp.path.c_str());
  ForgetTemporary();
  return kept;
}

// Where something stands under the target, the file takes a temporary name
// for the moment of a rename over it, since a link cannot replace anything.
bool ReplaceWithUnnamed(TemporaryFile& temp, const char* target, std::string& error) {
  StopSignalsHeld held;
  ::flock(temp.file, LOCK_EX | LOCK_NB);  // so that no other run removes it as left over
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
  ForgetTemporary();
  return kept;
}

// Linked straight to the target when nothing stands there.
bool KeepUnnamed(TemporaryFile& temp, const char* target, std::string& error) {
  bool kept = ::linkat(AT_FDCWD, DescriptorPath(temp.file).c_str(), AT_FDCWD, target,
                       AT_SYMLINK_FOLLOW) == 0;
  if (!kept && errno == EEXIST) {
    kept = ReplaceWithUnnamed(temp, target, error);
  } else if (!kept) {
    error = ErrorText(errno);
  }
  std::string closing;
  if (!CloseFile(temp.file, closing) && kept) {
    error = closing;
    kept = false;
  }
  return kept;
}

}  // namespace

bool KeepTemporaryFile(TemporaryFile& temp, const char* target, std::string& error) {
  bool kept = temp.path.empty() ? KeepUnnamed(temp, target, error) : KeepNamed(temp, target, error);
  temp.file = -1;
  temp.path.clear();
  return kept;
}

void DropTemporaryFile(TemporaryFile& temp) {
  if (temp.file < 0) return;
  StopSignalsHeld held;
  ::close(temp.file);
  if (!temp.path.empty()) {
    ::unlink(temp.path.c_str());
    ForgetTemporary();
  }
  temp.file = -1;
  temp.path.clear();
}

NameCheck CheckFileName(std::string_view name) {
  if (!IsPlainName(name)) return NameCheck::Unsafe;
  return FitsFileName(name.size()) ? NameCheck::Plain : NameCheck::TooLong;
}

void PrepareProcess() {
  ::signal(SIGPIPE, SIG_IGN);
  ::signal(SIGXFSZ, SIG_IGN);
}

bool MakeDirectory(const char* name) {
  if (::mkdir(name, 0777) == 0) return true;
  struct stat info {};
  return ::stat(name, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
