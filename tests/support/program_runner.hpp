// Runs the program under test as a user would: in a given folder, with its
// standard input read from a file and its console output written to one.
#pragma once

#include <string>

struct ProgramRun {
  int exitStatus = -1;  // 0 to 255, as a shell sees it
  bool timedOut = false;
  bool killedBySignal = false;
  std::string console;  // left for the caller to read from the console file
};

// Cuts a run short: `afterMicroseconds` after the start, or as soon as a new
// entry appears in `watchFolder` when it is set; by `signal` on POSIX systems,
// by TerminateProcess on Windows.
struct Stop {
  unsigned long afterMicroseconds = 0;
  std::string watchFolder;
  int signal = 9;
};

// Starts the program and waits for it (the one part that differs by system).
// Its standard input is empty, so the closing prompt returns at once; its
// output goes to `consolePath`. A non-zero `addressSpaceMiB` limits the
// program's address space (POSIX systems only).
ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& consolePath, int timeoutSeconds,
                      const Stop* stop = nullptr, unsigned addressSpaceMiB = 0);

// Returns when the stop is due.
void WaitForStop(const Stop& stop);
