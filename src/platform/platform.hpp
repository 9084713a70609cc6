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

// A new file in `folder` for binary writing that nothing ends up holding unless
// KeepTemporaryFile puts it in place: however the process ends before that,
// the file goes away with it: on Windows by its delete-on-close mark, on POSIX
// systems by a helper process that removes it once the program has ended, and
// by clean-up on the signals that stop a console program. One at a time.
int CreateTemporaryFile(const char* folder, std::string& error);

// Writes up to `size` bytes. Returns the count written, or -1 with `error` set.
long WriteSome(int file, const void* data, std::size_t size, std::string& error);

// Closes the complete temporary file and puts it in place of `target`,
// replacing a file or link standing there (a link is never written through).
// On failure the file is dropped and `target` stays as it was.
bool KeepTemporaryFile(int file, const char* target, std::string& error);

// Closes an unfinished temporary file and lets it go.
void DropTemporaryFile(int file);

// Closes a descriptor and reports whether everything written reached the file.
bool CloseFile(int file, std::string& error);

// Makes a folder in the system's own way. Returns true when a folder of that
// name exists afterwards, whether it was made now or was there before.
bool MakeDirectory(const char* name);

}  // namespace platform
