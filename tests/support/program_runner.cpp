#include "program_runner.hpp"

#include <fstream>
#include <sstream>

namespace {

// Console text as the tests compare it: the same on every system.
std::string ReadConsole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  std::string raw = text.str(), normalised;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    normalised += raw[i];
  }
  return normalised;
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& stdinPath, const std::string& consolePath,
                      int timeoutSeconds) {
  ProgramRun run = RunChild(program, folder, stdinPath, consolePath, timeoutSeconds);
  run.console = ReadConsole(consolePath);
  return run;
}
