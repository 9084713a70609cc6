#include "files.hpp"

#include <fstream>
#include <random>

TempFolder::TempFolder(const std::string& label)
    : path(fs::temp_directory_path() /
           ("vornhold-test-" + label + "-" + std::to_string(std::random_device()()))) {
  fs::create_directories(path);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::string ReadBytes(const fs::path& path) {
  std::error_code error;
  std::string bytes(static_cast<std::size_t>(fs::file_size(path, error)), '\0');
  if (error) return {};
  std::ifstream(path, std::ios::binary)
      .read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
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

void Make(const fs::path& folder, const std::map<std::string, std::string>& entries) {
  for (const auto& [name, bytes] : entries) {
    fs::path path = folder / name;
    fs::create_directories(path.parent_path());
    if (bytes == "<folder>") {
      fs::create_directories(path);
    } else if (bytes.starts_with("<link>")) {
      fs::create_symlink(bytes.substr(6), path);
    } else {
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
  }
}
