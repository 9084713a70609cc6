#include "program_runner.hpp"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

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

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

}  // namespace

void WaitForStop(const Stop& stop) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::microseconds(stop.afterMicroseconds);
  if (stop.watchFolder.empty()) {
    std::this_thread::sleep_until(deadline);
    return;
  }
  const std::set<std::string> before = Entries(stop.watchFolder);
  while (std::chrono::steady_clock::now() < deadline) {
    std::set<std::string> now = Entries(stop.watchFolder);
    if (std::any_of(now.begin(), now.end(),
                    [&](const std::string& n) { return !before.count(n); })) {
      return;
    }
  }
}

ProgramRun RunProgram(const std::string& program, const std::string& folder,
                      const std::string& stdinPath, const std::string& consolePath,
                      int timeoutSeconds, const Stop* stop) {
  ProgramRun run = RunChild(program, folder, stdinPath, consolePath, timeoutSeconds, stop);
  run.console = ReadConsole(consolePath);
  return run;
}
