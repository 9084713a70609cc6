// Runs the program under test as a user would: in a given folder, with its
// standard input read from a file and its console output written to one.
#pragma once

#include <string>

struct ProgramRun {
  int exitStatus = -1;  // 0 to 255, as a shell sees it
  bool timedOut = false;
  bool killedBySignal = false;
  bool waitedForEnter = false;  // still running a moment after its prompt showed
  std::string console;          // left for the caller to read from the console file
};

// Cuts a run short: `afterMicroseconds` after the start, or as soon as a new
// entry appears in `watchFolder` when it is set; by `signal` on POSIX systems
// (to the program's process group, as a terminal sends Ctrl+C, with
// `toProcessGroup`), by TerminateProcess on Windows.
struct Stop {
  unsigned long afterMicroseconds = 0;
  std::string watchFolder;
  int signal = 0;
  bool toProcessGroup = false;
};

// What the program's environment allows it, on POSIX systems; 0 is no limit.
struct Limits {
  unsigned long addressSpaceKiB = 0;
  unsigned long fileSizeBytes = 0;
  bool closedConsole = false;  // its standard output a pipe that no one reads
  // The first process of a PID namespace of its own, as in a container
  // (`unshare`, which needs root).
  bool ownPidNamespace = false;
  bool ordinaryUser = false;   // where the tests run as root, as the user nobody
  bool hangupIgnored = false;  // as under nohup
  // Standard input a keyboard that presses Enter once the closing prompt shows;
  // else it is empty, and the prompt returns at once.
  bool enterAfterPrompt = false;
};

// Starts the program and waits for it (the one part that differs by system).
// Its standard input is empty, so the closing prompt returns at once; its
// output goes to `consolePath`, or on Windows where that is empty, to this
// process's own console.
ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& consolePath, int timeoutSeconds,
                      const Stop* stop = nullptr, const Limits& limits = {});

// The entries in the folder that the stop watches, counted before the
// program starts; then, waiting until the stop is due.
long WatchedEntries(const Stop& stop);
void WaitForStop(const Stop& stop, long entriesBefore);
