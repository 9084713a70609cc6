#include "program_runner.hpp"

#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

long WatchedEntries(const Stop& stop) {
  std::error_code error;  // no folder yet: no entries
  if (stop.watchFolder.empty()) return 0;
  return std::distance(std::filesystem::directory_iterator(stop.watchFolder, error), {});
}

void WaitForStop(const Stop& stop, long entriesBefore) {
  auto deadline =
      std::chrono::steady_clock::now() + std::chrono::microseconds(stop.afterMicroseconds);
  // Short naps, so that waiting leaves the processor to the program.
  while (std::chrono::steady_clock::now() < deadline) {
    if (WatchedEntries(stop) > entriesBefore) return;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
}
