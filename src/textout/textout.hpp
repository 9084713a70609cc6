// The output folder and the language files in it.
//
// A language file is written to a temporary file in the folder, which goes
// away however the run ends, and is put in place of "<name>.txt" only once it
// is complete, so an earlier file is never left half-overwritten. Every LF
// byte, inside a string or ending its line, is stored as CR LF on every system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.hpp"
#include "textout/line_feeds.hpp"

enum class FileState {
  Closed,   // nothing open
  Writing,  // a temporary file is open and all is well
  Discard,  // lines are counted but go nowhere
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
// `error` set; the temporary files that earlier runs left in it are removed.
bool MakeFolder(const char* name, std::string& error);

// Gives the file its buffer, once, before anything is read; false when there
// is no memory for it.
bool AllocateFileBuffer(LanguageFile& file);

// The name as it can be shown on a console: control bytes appear as \xHH.
std::string DisplayName(std::string_view name);

// Starts "<folder>/<name>.txt" (the buffer must be allocated). With a null folder the lines go
// nowhere (they are only counted). The caller goes on whatever the resulting state is.
void OpenLanguageFile(LanguageFile& file, const char* folder, std::string_view name);

// The most text that one call of WriteLines may take: a string of the longest
// kind, or several shorter ones.
inline constexpr std::size_t kMaxLinesText = 32767;

// Writes `text` and a line end after it, reading up to kLineReadSlack bytes
// past the text (they must be readable; their values do not matter). Where the text ends one line
// and starts the next, a CR LF stands already, its LF marked in `lineBreaks` (bit i of word i / 64
// marks text[i]; the words cover the text and one more); every other LF is written as CR LF.
void WriteLines(LanguageFile& file, std::string_view text, const std::uint64_t* lineBreaks);

// Finishes the file: Done when it is complete and in place, else Failed (and
// any earlier file of that name is left as it was). Skipped stays Skipped.
void CloseLanguageFile(LanguageFile& file);

// Drops an unfinished file without touching any earlier one.
void AbandonLanguageFile(LanguageFile& file);
