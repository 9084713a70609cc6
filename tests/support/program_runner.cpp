#include "program_runner.hpp"

#include <chrono>
#include <filesystem>
#include <iterator>

void WaitForStop(const Stop& stop) {
  namespace fs = std::filesystem;
  auto entries = [&] {
    std::error_code error;  // no folder yet: no entries
    return std::distance(fs::directory_iterator(stop.watchFolder, error), {});
  };
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::microseconds(stop.afterMicroseconds);
  auto before = stop.watchFolder.empty() ? 0 : entries();
  while (std::chrono::steady_clock::now() < deadline) {
    if (!stop.watchFolder.empty() && entries() > before) return;
  }
}
