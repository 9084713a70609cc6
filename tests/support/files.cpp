#include "files.hpp"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>

TempFolder::TempFolder(const std::string& label) {
  static std::atomic<unsigned> sequence{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  path = fs::temp_directory_path() / ("vornhold-test-" + label + "-" + std::to_string(stamp) + "-" +
                                      std::to_string(++sequence));
  fs::create_directories(path);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    std::string name = fs::relative(entry.path(), folder).generic_string();
    if (entry.is_symlink()) {
      entries[name] = "<link>";
    } else if (entry.is_directory()) {
      entries[name] = "<folder>";
    } else {
      entries[name] = ReadBytes(entry.path());
    }
  }
  return entries;
}
