// Everything that differs between Windows and POSIX systems, behind plain functions.
// Files are handled through the C runtime's integer descriptors on both, so the
// rest of the program never needs to know which system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Opens an existing file for binary reading, without any sharing restriction.
// Returns a descriptor, or -1 with `error` set. A folder is refused.
int OpenForReading(const char* path, std::string& error);

// Reads up to `size` bytes. Returns the count read, 0 at the end of the file,
// or -1 with `error` set.
long ReadSome(int file, void* buffer, std::size_t size, std::string& error);

// Creates a new file for binary writing; fails, with `exists` set, if anything
// stands at `path` already, so an existing file or link is never opened through.
int CreateNewFile(const char* path, std::string& error, bool& exists);

// Writes up to `size` bytes. Returns the count written, or -1 with `error` set.
long WriteSome(int file, const void* data, std::size_t size, std::string& error);

// Closes a descriptor and reports whether everything written reached the file.
bool CloseFile(int file, std::string& error);

// Puts `from` in the place of `to`, replacing a file (or link) standing there.
bool MoveIntoPlace(const char* from, const char* to, std::string& error);

void RemoveFile(const char* path);

// Makes a folder in the system's own way. Returns true when a folder of that
// name exists afterwards, whether it was made now or was there before.
bool MakeDirectory(const char* name);

// A number that differs between processes running at the same time.
unsigned long ProcessId();

}  // namespace platform
