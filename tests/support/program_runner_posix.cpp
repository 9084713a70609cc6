#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "program_runner.hpp"

ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& stdinPath, const std::string& consolePath,
                      int timeoutSeconds, const Stop* stop) {
  ProgramRun run;
  pid_t child = fork();
  if (child == 0) {
    int in = open(stdinPath.c_str(), O_RDONLY);
    int out = open(consolePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(folder.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (stop != nullptr) {
    WaitForStop(*stop);
    kill(child, stop->signal);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      run.timedOut = true;
      return run;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (WIFEXITED(status)) run.exitStatus = WEXITSTATUS(status);
  run.killedBySignal = WIFSIGNALED(status);
  return run;
}
