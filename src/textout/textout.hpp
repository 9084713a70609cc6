// The output folder and the language files in it.
//
// A language file is written to a temporary file in the folder, which goes
// away however the run ends, and is put in place of "<name>.txt" only once it
// is complete and on the disk, so an earlier file is never left
// half-overwritten. Every LF byte, inside a string or ending its line, is
// stored as CR LF on every system.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "loc/string_run.hpp"
#include "platform/platform.hpp"

enum class FileState {
  Closed,   // nothing open
  Writing,  // a temporary file is open and all is well
  Skipped,  // the name cannot be a file name (`error` says why); nothing is written
  Failed,   // creating or writing failed; `error` says why
  Done,     // the file is complete and in place
};

struct LanguageFile {
  LanguageFile() = default;
  LanguageFile(const LanguageFile&) = delete;
  LanguageFile& operator=(const LanguageFile&) = delete;
  ~LanguageFile();  // an unfinished file goes, however the run is left

  FileState state = FileState::Closed;
  platform::TemporaryFile temp;
  std::string finalPath;
  std::string error;
  platform::Memory<char> buffer;  // kept from one language to the next
  std::size_t used = 0;
  std::size_t sinceWriteBack = 0;  // bytes written since the disk was last asked to start
};

// Returns true when a folder of that name exists afterwards, else false with
// `error` set.
bool MakeFolder(const char* name, std::string& error);

// Removes from the folder the temporary files that no one holds: those that
// earlier runs left, never those of a run still writing there.
void RemoveLeftOverFiles(const char* folder);

// Gives the file its buffer, once, before anything is read; false when there
// is no memory for it.
bool AllocateFileBuffer(LanguageFile& file);

// Starts "<folder>/<name>.txt" (the buffer must be allocated). The caller goes
// on whatever the resulting state is.
void OpenLanguageFile(LanguageFile& file, const char* folder, std::string_view name);

// Writes the run's lines and a line end after the last one.
void WriteLines(LanguageFile& file, const StringRun& run);

// Finishes the file: Done when it is complete and in place, else Failed (and
// any earlier file of that name is left as it was). Skipped stays Skipped.
void CloseLanguageFile(LanguageFile& file);

// Drops an unfinished file without touching any earlier one.
void DropLanguageFile(LanguageFile& file);
