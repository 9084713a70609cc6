#include "files.hpp"

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <fstream>
#include <iterator>
#include <random>

namespace {
fs::path gTempRoot;
}

void SetTempRoot(const fs::path& root) {
  gTempRoot = root;
}

TempFolder::TempFolder(const std::string& label, const fs::path& root)
    : path((!root.empty()       ? root
            : gTempRoot.empty() ? fs::temp_directory_path()
                                : gTempRoot) /
           ("vornhold-test-" + label + "-" + std::to_string(std::random_device()()))) {
  fs::create_directories(path);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path, ignored);
}

std::string ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    entries[entry.path().lexically_relative(folder).generic_string()] =
        entry.is_symlink()     ? "<link>"
        : entry.is_directory() ? "<folder>"
        : entry.is_fifo()      ? "<fifo>"
                               : ReadBytes(entry.path());
  }
  return entries;
}

void Make(const fs::path& folder, const std::map<std::string, std::string>& entries) {
  for (const auto& [name, bytes] : entries) {
    fs::path path = folder / name;
    fs::create_directories(bytes == "<folder>" ? path : path.parent_path());
    if (bytes.starts_with("<link>")) {
      fs::create_symlink(bytes.substr(6), path);
#ifndef _WIN32
    } else if (bytes == "<fifo>") {
      mkfifo(path.c_str(), 0644);
#endif
    } else if (bytes != "<folder>") {
      std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
  }
}
