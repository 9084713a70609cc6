#include "program_runner.hpp"

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

void WaitForStop(const Stop& stop) {
  namespace fs = std::filesystem;
  auto entries = [&] {
    std::error_code error;  // no folder yet: no entries
    return std::distance(fs::directory_iterator(stop.watchFolder, error), {});
  };
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::microseconds(stop.afterMicroseconds);
  auto before = stop.watchFolder.empty() ? 0 : entries();
  // Short naps, so that waiting leaves the processor to the program.
  while (std::chrono::steady_clock::now() < deadline) {
    if (!stop.watchFolder.empty() && entries() > before) return;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}
