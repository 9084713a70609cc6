// Runs the program under test as a user would: in a given folder, with its
// standard input read from a file, its console output captured.
#pragma once

#include <string>

struct ProgramRun {
  int exitStatus = -1;  // 0 to 255, as a shell sees it
  bool timedOut = false;
  bool killedBySignal = false;
  std::string console;  // standard output, with CR LF turned into LF
};

// Cuts a run short: `afterMicroseconds` after the start, or as soon as a new
// entry appears in `watchFolder` when it is set; by `signal` on POSIX systems,
// by TerminateProcess on Windows.
struct Stop {
  long afterMicroseconds = 0;
  std::string watchFolder;
  int signal = 9;
};

// Starts the program and waits for it; the one part that differs by system.
ProgramRun RunChild(const std::string& program, const std::string& folder,
                    const std::string& stdinPath, const std::string& consolePath,
                    int timeoutSeconds, const Stop* stop);

// `stdinPath` empty means standard input is at its end at once.
ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& stdinPath, const std::string& consolePath,
                      int timeoutSeconds, const Stop* stop = nullptr);

// Waits until the stop is due: the time has passed, or a new entry has appeared.
void WaitForStop(const Stop& stop);
