// Everything that differs between Windows and POSIX systems, behind plain functions.
// Files are handled through the C runtime's integer descriptors on both, so the
// rest of the program never needs to know which system it runs on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Memory that is null when the system has none to give. Not `new (nothrow)`:
// that throws and catches inside, and a throw needs memory too. It comes from
// `gCalloc`, which a test points at one that fails when it says so.
struct FreeMemory {
  void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Memory = std::unique_ptr<T[], FreeMemory>;
inline void* (*gCalloc)(std::size_t, std::size_t) = [](std::size_t count, std::size_t size) {
  return std::calloc(count, size);
};
template <typename T>
Memory<T> Allocate(std::size_t count) {
  return Memory<T>(static_cast<T*>(gCalloc(count, sizeof(T))));
}

// Ignores the signals by which the environment would end the run without a
// word (a console pipe closed early, a file-size limit): the write concerned
// fails instead, with its reason. Sets up the removal of a temporary file on
// the signals that stop a console program.
void PrepareProcess();

// Shows console text, in the system's code page, and flushes it. A Windows
// console shows bytes in another code page (the OEM one), so there the text
// goes to it as the characters it stands for; any other stream gets the bytes.
void ShowText(std::FILE* console, std::string_view text);

// Shows the system's words for a failure, as the error texts below hold them
// (on Windows in UTF-8, which may hold characters that the code page has not:
// a console shows them all, any other stream gets them in the code page).
void ShowReason(std::FILE* console, std::string_view reason);

// Milliseconds from some fixed moment, never going back with the clock.
std::int64_t Milliseconds();

// Opens an existing file for binary reading, without any sharing restriction
// and without waiting (a FIFO with no writer). Returns a descriptor, or -1 with
// `error` set. A folder is refused.
int OpenForReading(const char* path, std::string& error);

// Reads up to `size` bytes. Returns the count read, 0 at the end of the file,
// or -1 with `error` set.
long ReadSome(int file, void* buffer, std::size_t size, std::string& error);

// A new file in a folder for binary writing, which nothing ends up holding
// unless CloseTemporaryFile puts it in place. Where the file system allows it,
// it has no name until then; else it has a name "vornhold-<process id>-<n>.tmp"
// that goes away with the process: on Windows by its delete-on-close mark
// however the process ends, on POSIX systems on the signals that stop a
// console program. Its maker holds it (locked, or open without sharing on
// Windows) from the moment it has a name until it is in place, so what a kill
// or a power cut leaves is told from a live run's file by whether anyone
// holds it, and removed by the next run (RemoveLeftOverTemporaryFiles).
struct TemporaryFile {
  int file = -1;
  std::string folder;
  std::string path;             // its name while it has one, else empty
  bool deletedAtClose = false;  // Windows: marked, so the system deletes it when it closes
};

// Removes from `folder` the temporary files that no one holds: those that
// earlier runs left, never those of a run still writing there.
void RemoveLeftOverTemporaryFiles(const char* folder);

bool CreateTemporaryFile(const char* folder, TemporaryFile& temp, std::string& error);

// Writes up to `size` bytes. Returns the count written, or -1 with `error` set.
long WriteSome(int file, const void* data, std::size_t size, std::string& error);

// Closes the complete temporary file and puts it in place of `target`,
// replacing a file or link standing there (a link is never written through).
// Its data reaches the disk before it takes the name, so that a power cut
// leaves `target` as it was or complete. On failure the file is dropped and
// `target` stays as it was.
bool CloseTemporaryFile(TemporaryFile& temp, const char* target, std::string& error);

// Closes an unfinished temporary file and lets it go.
void DropTemporaryFile(TemporaryFile& temp);

// Asks the system to start writing the file's data to the disk, without
// waiting for it (POSIX systems; Windows has no such call).
void StartWriteBack(int file);

// Closes a descriptor and reports whether everything written reached the file.
bool CloseFile(int file, std::string& error);

enum class NameCheck {
  Plain,          // one file name of its own
  Unsafe,         // a path, a device, control characters: see file_names.hpp
  ShortName,      // of the form of another file's short (8.3) name
  Misread,        // bytes that a file system may read as another name (POSIX)
  NotInCodePage,  // not valid text in the system's code page (Windows)
  TooLong,        // with ".txt", longer than a file name may be
};
// Whether "<name>.txt" can be a file's name.
NameCheck CheckFileName(std::string_view name);

// Makes a folder in the system's own way. Returns true when a folder of that
// name exists afterwards, whether it was made now or was there before; else
// false with `error` set.
bool MakeDirectory(const char* name, std::string& error);

}  // namespace platform
