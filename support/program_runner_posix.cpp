#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>

#include "files.hpp"
#include "program_runner.hpp"

namespace {

void Limit(int resource, unsigned long value) {
  rlimit limit{value, value};
  if (value > 0 && setrlimit(resource, &limit) != 0) _exit(127);
}

// The program itself, where `started` is the `unshare` that starts it: its
// child, from /proc.
pid_t ProgramIn(pid_t started) {
  const std::string children =
      "/proc/" + std::to_string(started) + "/task/" + std::to_string(started) + "/children";
  pid_t program = 0;
  for (int wait = 0; wait < 10'000 && !(std::ifstream(children) >> program); ++wait) usleep(100);
  return program > 0 ? program : started;
}

bool Ended(pid_t child) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == child;
}

// Waits until the console shows the prompt, then a moment more.
bool StillRunningAfterPrompt(pid_t child, const std::string& consolePath) {
  for (int wait = 0; wait < 3000 && !Ended(child); ++wait) {
    if (ReadBytes(consolePath).ends_with("Press enter to exit...")) break;
    usleep(10'000);
  }
  usleep(200'000);
  return !Ended(child);
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& consolePath, int timeoutSeconds, const Stop* stop,
                      const Limits& limits) {
  int keyboard[2] = {-1, -1};
  if (limits.enterAfterPrompt && pipe(keyboard) != 0) return {};
  const long entriesBefore = stop != nullptr ? WatchedEntries(*stop) : 0;
  // Ignored from the fork on, so that a hangup sent at once finds it ignored.
  auto hangup = signal(SIGHUP, limits.hangupIgnored ? SIG_IGN : SIG_DFL);
  pid_t child = fork();
  if (child == 0) {
    int in = limits.enterAfterPrompt ? keyboard[0] : open("/dev/null", O_RDONLY);
    int out = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int pipeEnds[2];
    if (limits.closedConsole && pipe(pipeEnds) == 0) {
      close(pipeEnds[0]);
      out = pipeEnds[1];
    }
    if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    if (stop != nullptr && stop->toProcessGroup) setpgid(0, 0);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);  // the program writes nothing there; the loader may
    for (int file = 3; file < 64; ++file) close(file);
    signal(SIGPIPE, SIG_DFL);
    Limit(RLIMIT_AS, limits.addressSpaceKiB << 10);
    Limit(RLIMIT_FSIZE, limits.fileSizeBytes);
    constexpr uid_t kNobody = 65534;
    if (limits.ordinaryUser && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(127);
    }
    alarm(static_cast<unsigned>(timeoutSeconds));  // outlives exec: a hang ends by SIGALRM
    if (limits.ownPidNamespace) {
      execlp("unshare", "unshare", "--pid", "--fork", "--mount-proc", "--kill-child", "--",
             program.c_str(), static_cast<char*>(nullptr));
    } else {
      execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    }
    _exit(127);
  }
  signal(SIGHUP, hangup);
  if (stop != nullptr) {
    if (stop->toProcessGroup) setpgid(child, child);  // whichever of the two comes first
    WaitForStop(*stop, entriesBefore);
    if (stop->toProcessGroup) {
      kill(-child, stop->signal);
    } else {
      kill(limits.ownPidNamespace ? ProgramIn(child) : child, stop->signal);
    }
  }
  ProgramRun run;
  if (limits.enterAfterPrompt) {
    close(keyboard[0]);
    run.waitedForEnter = StillRunningAfterPrompt(child, consolePath);
    signal(SIGPIPE, SIG_IGN);  // a program that has ended reads nothing
    ssize_t pressed = write(keyboard[1], "\n", 1);
    (void)pressed;
    close(keyboard[1]);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.killedBySignal = WIFSIGNALED(status);
  run.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  return run;
}
