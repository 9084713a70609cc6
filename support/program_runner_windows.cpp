#include <windows.h>

#include "program_runner.hpp"

ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& consolePath, int timeoutSeconds, const Stop* stop,
                      const Limits& /*limits*/) {
  ProgramRun run;
  const long entriesBefore = stop != nullptr ? WatchedEntries(*stop) : 0;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE in = CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ, &inherit, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE out = consolePath.empty()
                   ? INVALID_HANDLE_VALUE
                   : CreateFileA(consolePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                 CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = consolePath.empty() ? GetStdHandle(STD_OUTPUT_HANDLE) : out;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  std::string commandLine = "\"" + program + "\"";
  // Under wine a start fails now and then, once in some thousands, for
  // reasons of wine's own: a few tries.
  BOOL started = FALSE;
  for (int attempt = 0; attempt < 3 && !started; ++attempt) {
    if (attempt > 0) Sleep(100);
    started = CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0,
                             nullptr, folder.c_str(), &startup, &process);
  }
  CloseHandle(in);
  if (out != INVALID_HANDLE_VALUE) CloseHandle(out);
  if (!started) return run;
  if (stop != nullptr) {
    WaitForStop(*stop, entriesBefore);
    TerminateProcess(process.hProcess, 1);
  }
  run.timedOut = WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutSeconds) * 1000) ==
                 WAIT_TIMEOUT;
  if (run.timedOut) TerminateProcess(process.hProcess, 1);
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  run.exitStatus = static_cast<int>(code & 0xFF);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return run;
}
