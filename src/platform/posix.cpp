#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/platform.hpp"

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

#if defined(VORNHOLD_NO_CLEANUP_HELPER)
constexpr bool kStartHelper = false;  // a test build: the stop handler alone
#else
constexpr bool kStartHelper = true;
#endif

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

// Sets up both ways of removing a temporary file, once, before the first one.
// Without the helper (no process could be started), the stop handler alone
// removes it.
void PrepareCleanUp() {
  static bool prepared = false;
  if (prepared) return;
  prepared = true;
  InstallStopHandlers();
  if (!kStartHelper) return;
  void* shared =
      ::mmap(nullptr, sizeof(Published), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  int ends[2];
  if (shared == MAP_FAILED) return;
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    ::munmap(shared, sizeof(Published));
    return;
  }
  gPublished = new (shared) Published;
  pid_t helper = ::fork();
  if (helper == 0) {
    ::close(ends[1]);
    RunHelper(ends[0]);
  }
  ::close(ends[0]);  // the write end stays open until the program ends
  if (helper < 0) {
    ::close(ends[1]);
    gPublished = &gOwnCopy;
    ::munmap(shared, sizeof(Published));
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
  PrepareCleanUp();
  StopSignalsHeld held;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string path = TemporaryName(folder);
    if (!PublishTemporary(path)) {
      error = ErrorText(ENAMETOOLONG);
      return -1;
    }
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (file >= 0) return file;
    int failed = errno;
    ForgetTemporary();  // the name is someone else's, or nothing stands there
    if (failed != EEXIST) {
      error = ErrorText(failed);
      return -1;
    }
  }
  error = ErrorText(EEXIST);
  return -1;
}

bool KeepTemporaryFile(int file, const char* target, std::string& error) {
  StopSignalsHeld held;
  // Closed first, so that a failure to write the file out shows.
  bool kept = CloseFile(file, error);
  if (kept && std::rename(gPublished->path, target) != 0) {
    error = ErrorText(errno);
    kept = false;
  }
  if (!kept) ::unlink(gPublished->path);
  ForgetTemporary();
  return kept;
}

void DropTemporaryFile(int file) {
  StopSignalsHeld held;
  ::close(file);
  ::unlink(gPublished->path);
  ForgetTemporary();
}

bool MakeDirectory(const char* name) {
  if (::mkdir(name, 0777) == 0) return true;
  struct stat info {};
  return ::stat(name, &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace platform
