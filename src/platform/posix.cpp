#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"

namespace platform {

namespace {

std::string ErrorText(int code) {
  return std::strerror(code);
}

// The temporary file being written. `path` is its name in the folder, empty
// while it has none.
struct Temporary {
  int file = -1;
  std::string folder;
  std::string path;
};
Temporary gTemporary;

// The same name as the stop handler sees it: read only while gNamed is set.
char gNamedPath[4096];
volatile std::sig_atomic_t gNamed = 0;

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Removes the named temporary file, then ends the process by the same signal,
// so that its exit status still says how it ended. Async-signal-safe only.
void OnStopSignal(int signal) {
  if (gNamed != 0) ::unlink(gNamedPath);
  ::signal(signal, SIG_DFL);
  ::raise(signal);  // delivered as soon as the handler returns
}

void InstallStopHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
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

// A name in `folder` that ends in ".tmp", so it is never taken for a language file.
std::string TemporaryName(const std::string& folder) {
  static unsigned long sequence = 0;
  return folder + "/vornhold-" + std::to_string(::getpid()) + "-" + std::to_string(++sequence) +
         ".tmp";
}

void NameTemporary(const std::string& path) {
  gTemporary.path = path;
  if (path.size() < sizeof gNamedPath) {
    std::memcpy(gNamedPath, path.c_str(), path.size() + 1);
    gNamed = 1;
  }
}

void ForgetTemporary() {
  gNamed = 0;
  gTemporary = Temporary{};
}

// Links the unnamed `file` in as `path`, then renames that over `target`.
// Returns 0 or an errno value.
int LinkAndRename(int file, const char* byDescriptor, const char* path, const char* target) {
  int linked = ::linkat(AT_FDCWD, byDescriptor, AT_FDCWD, path, AT_SYMLINK_FOLLOW);
  // Without /proc, the descriptor itself (older kernels allow this to root only).
  if (linked != 0 && errno == ENOENT) linked = ::linkat(file, "", AT_FDCWD, path, AT_EMPTY_PATH);
  if (linked != 0) return errno;
  if (std::rename(path, target) == 0) return 0;
  int failed = errno;
  ::unlink(path);
  return failed;
}

// Puts a complete unnamed file in place of `target`. Linux can replace a file
// by renaming, not by linking, so the file is linked under a temporary name
// first and that is renamed over the target. A child process does both with
// every signal held, so that not even SIGKILL of the program can stop them
// half-way and leave the temporary name behind. It is a vfork child: it
// shares the program's memory, so starting it copies no pages. Returns 0 or
// an errno value.
int LinkUnnamedIntoPlace(int file, const char* target) {
#if defined(O_TMPFILE)
  const std::string byDescriptor = "/proc/self/fd/" + std::to_string(file);
  sigset_t all, previous;
  sigfillset(&all);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path = TemporaryName(gTemporary.folder);
    ::sigprocmask(SIG_SETMASK, &all, &previous);  // the child starts with this mask
    pid_t child = ::vfork();
    if (child == 0) ::_exit(LinkAndRename(file, byDescriptor.c_str(), path.c_str(), target));
    int started = errno;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (child < 0) return started;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : EIO;
    if (code != EEXIST) return code;
  }
  return EEXIST;
#else
  (void)file;
  (void)target;
  return ENOTSUP;
#endif
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

int CreateTemporaryFile(const char* folder, std::string& error) {
  gTemporary = Temporary{-1, folder, {}};
#if defined(O_TMPFILE) && !defined(VORNHOLD_NAMED_TEMPORARY_FILES)
  int unnamed = ::open(folder, O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (unnamed >= 0) return gTemporary.file = unnamed;
  // The ways in which a file system without unnamed files refuses them.
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    error = ErrorText(errno);
    return -1;
  }
#endif
  InstallStopHandlers();
  StopSignalsHeld held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = TemporaryName(folder);
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file >= 0) {
      NameTemporary(path);
      return gTemporary.file = file;
    }
    if (errno != EEXIST) break;
  }
  error = ErrorText(errno);
  return -1;
}

bool KeepTemporaryFile(int file, const char* target, std::string& error) {
  StopSignalsHeld held;
  bool kept = false;
  if (gTemporary.path.empty()) {
    int failed = LinkUnnamedIntoPlace(file, target);
    ::close(file);
    kept = failed == 0;
    if (!kept) error = ErrorText(failed);
  } else {
    // Closed first, so that a failure to write the file out shows.
    kept = CloseFile(file, error);
    if (kept && std::rename(gTemporary.path.c_str(), target) != 0) {
      error = ErrorText(errno);
      kept = false;
    }
    if (!kept) ::unlink(gTemporary.path.c_str());
  }
  ForgetTemporary();
  return kept;
}

void DropTemporaryFile(int file) {
  StopSignalsHeld held;
  ::close(file);
  if (!gTemporary.path.empty()) ::unlink(gTemporary.path.c_str());
  ForgetTemporary();
}

bool MakeDirectory(const char* name) {
  if (::mkdir(name, 0777) == 0) return true;
  struct stat info {};
  return ::stat(name, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
