#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "program_runner.hpp"

ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& consolePath, int timeoutSeconds, const Stop* stop,
                      unsigned addressSpaceMiB) {
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    rlimit limit{rlim_t{addressSpaceMiB} << 20, rlim_t{addressSpaceMiB} << 20};
    if (addressSpaceMiB > 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    alarm(static_cast<unsigned>(timeoutSeconds));  // outlives exec: a hang ends by SIGALRM
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (stop != nullptr) {
    WaitForStop(*stop);
    kill(child, stop->signal);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  ProgramRun run;
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.killedBySignal = WIFSIGNALED(status);
  run.timedOut = WIFSIGNALED(status) && WTERMSIG(status) == SIGALRM;
  return run;
}
