// Temporary folders and whole-file reads and writes for the tests.
#pragma once

#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

// Where TempFolders are made: the system's temporary folder unless set.
void SetTempRoot(const fs::path& root);

// A fresh, empty folder that is removed with everything in it at the end; in
// `root` where that is given.
struct TempFolder {
  explicit TempFolder(const std::string& label, const fs::path& root = {});
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  fs::path path;
};

std::string ReadBytes(const fs::path& path);

// Every entry below `folder`, by relative path: a file's bytes, "<folder>" for a
// folder, "<link>" for a symbolic link, "<fifo>" for a FIFO.
std::map<std::string, std::string> Snapshot(const fs::path& folder);

// Makes the entries in `folder`: files with their bytes, "<folder>" a folder,
// "<link>TARGET" a symbolic link to TARGET, "<fifo>" a FIFO (POSIX systems).
void Make(const fs::path& folder, const std::map<std::string, std::string>& entries);
