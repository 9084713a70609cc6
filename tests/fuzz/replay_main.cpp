// Runs the fuzz target over saved inputs, without the fuzzing engine, so the
// corpus is checked with every compiler. Usage: loc_replay FOLDER
#include <cstdint>
#include <cstdio>
#include <filesystem>

#include "support/files.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char** argv) {
  std::size_t count = 0;
  for (const auto& entry : fs::directory_iterator(argc > 1 ? argv[1] : ".")) {
    std::string bytes = ReadBytes(entry.path());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  std::printf("replayed %zu inputs\n", count);
  return count > 0 ? 0 : 1;
}
