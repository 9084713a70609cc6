#include "program_runner.hpp"

#include <chrono>
#include <filesystem>

namespace {

std::size_t CountEntries(const std::string& folder) {
  std::error_code error;
  std::size_t count = 0;
  for (std::filesystem::directory_iterator it(folder, error), end; it != end; it.increment(error)) {
    ++count;
  }
  return count;
}

}  // namespace

void WaitForStop(const Stop& stop) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::microseconds(stop.afterMicroseconds);
  std::size_t before = stop.watchFolder.empty() ? 0 : CountEntries(stop.watchFolder);
  while (std::chrono::steady_clock::now() < deadline) {
    if (!stop.watchFolder.empty() && CountEntries(stop.watchFolder) > before) return;
  }
}
